#pragma once

// The trace file: one directive a line, "#" starts a comment, a line holding
// only an integer is a sample.

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace sim::cli {

struct Directive {
  enum class Kind { kSample, kAi, kCache, kSettings, kSleep, kClock, kAdvance, kRamp };
  Kind kind = Kind::kSample;
  int line = 0;
  short sample = 0;                  // kSample
  int channel = 0;                   // kAi, kRamp
  float reading = 0;                 // kAi
  double from = 0, to = 0;           // kRamp
  long long count = 0;               // kRamp: rounds
  long long step_seconds = 0;        // kRamp: virtual clock advance after each round
  std::vector<unsigned char> bytes;  // kCache
  std::string path;                  // kSettings, as written
  double seconds = 0;                // kSleep
  std::time_t clock = 0;             // kClock
  long long advance = 0;             // kAdvance
};

// Parses one line. Returns false with a message for a bad line; true with an
// empty result for a blank or comment line. Clock times are read as local
// times (the caller sets the time zone first).
bool ParseTraceLine(const std::string& text, int line, std::optional<Directive>& directive,
                    std::string& error);

// Seconds since the epoch of a calendar time: a local time (in the zone in
// force), or with utc_offset (seconds east of UTC) a time in that offset.
// False for a date or time that does not exist (2024-02-30, a daylight-saving
// gap) or a year outside 1970 to 9999.
bool TimeOf(int year, int month, int day, int hour, int minute, int second,
            std::optional<long> utc_offset, std::time_t& out);

// Whether a calendar time that exists (not 2024-02-30) falls into a
// daylight-saving gap of the zone in force, so that it names no local time.
bool InDaylightSavingGap(int year, int month, int day, int hour, int minute, int second);

// The ramp's reading in round index (0-based) of count rounds.
float RampReading(const Directive& ramp, long long index);

}  // namespace sim::cli
