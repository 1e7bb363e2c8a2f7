#pragma once

// The simulated host's local time. The C library's localtime_r takes one
// process-wide lock on every call, and a device reads the local time every
// round: devices replayed side by side on several threads would hand that
// lock between cores round after round. The host's localtime_r, which the
// plug-in binds to, lets each thread remember the quarter hour it last
// converted in (offset from UTC, daylight-saving flag and zone name, read from
// the C library) and works out the times within it by calendar arithmetic.
// Where a quarter hour is not plain (an offset changes within it, or the zone
// counts leap seconds), the library converts every time in it.

#include <ctime>

namespace sim {

// The C library's own localtime_r, which the host's stands in front of.
std::tm* LibraryLocalTime(const std::time_t& time, std::tm& out);

// The same fields, from this thread's quarter hour where it holds and from the
// library elsewhere. The remembered quarter hour belongs to the TZ text it was
// read under; a new TZ text brings the library's zone up to it first, as
// localtime does.
std::tm* RememberedLocalTime(const std::time_t& time, std::tm& out);

// How many of this thread's conversions came from its remembered quarter hour.
long long RememberedConversions();

}  // namespace sim
