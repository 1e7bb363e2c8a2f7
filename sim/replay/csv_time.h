#pragma once

// The times of recorded field data (a CSV export's "time" column, a test
// file's start).

#include <ctime>
#include <string>

namespace sim::cli {

// A point in time from text: ISO 8601 ("2026-01-05T00:00:00", seconds and a
// fraction optional, a zone "Z", "+08:00", "+0800" or "+08" optional), the
// same with a space instead of the "T", or Unix time: up to 12 digits
// seconds ("1767571200"), 13 or more milliseconds ("1767571200000"), a
// fraction optional. Times without a zone are local times. nanos counts
// from the epoch too and keeps the fraction, for ordering; seconds is whole.
// A local time the clock shows twice (the hour repeated when it is set back)
// gives its first pass; repeated_nanos is its second (else equal to nanos).
bool ParseTimeText(const std::string& text, std::time_t& seconds, long long& nanos,
                   std::string& error);
bool ParseTimeText(const std::string& text, std::time_t& seconds, long long& nanos,
                   long long& repeated_nanos, std::string& error);

}  // namespace sim::cli
