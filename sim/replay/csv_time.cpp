#include "sim/replay/csv_time.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <optional>

#include "sim/replay/trace.h"

namespace sim::cli {
namespace {

bool Digits(const std::string& text, size_t& pos, size_t count, int& out) {
  out = 0;
  for (size_t i = 0; i < count; ++i, ++pos) {
    if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos]))) return false;
    out = out * 10 + (text[pos] - '0');
  }
  return true;
}

bool Expect(const std::string& text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

// ".123" after the seconds (any number of digits, nanoseconds kept).
long long Fraction(const std::string& text, size_t& pos) {
  long long nanos = 0;
  if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
    const size_t start = ++pos;
    long long scale = 100000000;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
      nanos += (text[pos++] - '0') * scale;
      scale /= 10;
    }
    if (pos == start) return -1;
  }
  return nanos;
}

long long FloorDivide(long long value, long long by) {
  return value / by - ((value % by) < 0 ? 1 : 0);
}

// The other instant a local time names where the clock was set back and
// the hour before the change repeats after it; none elsewhere.
std::optional<std::time_t> RepeatedAt(std::time_t time) {
  // Any change near the time shows as a difference of the offsets hours
  // either side of it (no zone changes twice within a day).
  constexpr std::time_t kAround = 6 * 3600;
  // Rows come in time order: a block of hours found without a change (the
  // same offset at both ends of it and of its neighbours) spares the rows in
  // it three conversions each.
  struct Quiet {
    std::string tz;
    long long block = LLONG_MIN;
  };
  thread_local Quiet quiet;
  const char* tz = std::getenv("TZ");
  const std::string zone = tz != nullptr ? std::string("=") + tz : std::string();
  const long long block = FloorDivide(time, kAround);
  if (quiet.block == block && quiet.tz == zone) return std::nullopt;
  const std::time_t from = (block - 1) * kAround, to = (block + 2) * kAround;
  std::tm start{}, end{};
  if (localtime_r(&from, &start) != nullptr && localtime_r(&to, &end) != nullptr &&
      start.tm_gmtoff == end.tm_gmtoff) {
    quiet = {zone, block};
    return std::nullopt;
  }
  std::tm here{}, before{}, after{};
  const std::time_t early = time - kAround, late = time + kAround;
  if (localtime_r(&time, &here) == nullptr || localtime_r(&early, &before) == nullptr ||
      localtime_r(&late, &after) == nullptr) {
    return std::nullopt;
  }
  const long back = before.tm_gmtoff - after.tm_gmtoff;
  if (back <= 0) return std::nullopt;
  for (const std::time_t other : {time - back, time + back}) {
    std::tm fields{};
    if (localtime_r(&other, &fields) != nullptr && fields.tm_year == here.tm_year &&
        fields.tm_mon == here.tm_mon && fields.tm_mday == here.tm_mday &&
        fields.tm_hour == here.tm_hour && fields.tm_min == here.tm_min &&
        fields.tm_sec == here.tm_sec) {
      return other;
    }
  }
  return std::nullopt;
}

}  // namespace

bool ParseTimeText(const std::string& text, std::time_t& seconds, long long& nanos,
                   std::string& error) {
  long long ignored = 0;
  return ParseTimeText(text, seconds, nanos, ignored, error);
}

// Rows are ordered by nanoseconds since 1970 in 64 bits: times up to
// 2262-04-11T23:47:15Z.
constexpr long long kLastSecond = (LLONG_MAX - 999999999LL) / 1000000000LL;

bool ParseTimeText(const std::string& text, std::time_t& seconds, long long& nanos,
                   long long& repeated_nanos, std::string& error) {
  error = "unreadable time \"" + text +
          "\" (expected 2026-01-05T00:00:00, with or without a zone offset, "
          "2026-01-05 00:00:00, Unix seconds or Unix milliseconds)";
  size_t pos = 0;
  if (text.find_first_of("-:T ") == std::string::npos) {
    // Unix time: up to 12 digits count seconds, 13 or
    // more milliseconds, as loggers write the one or the other.
    long long whole = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
      if (whole > 100000000000000LL) return false;
      whole = whole * 10 + (text[pos++] - '0');
    }
    if (pos == 0) return false;
    const bool millis = pos >= 13;
    long long fraction = Fraction(text, pos);
    if (fraction < 0 || pos != text.size()) return false;
    if (millis) {
      fraction = (whole % 1000) * 1000000LL + fraction / 1000;
      whole /= 1000;
    }
    if (whole > kLastSecond) return false;
    seconds = static_cast<std::time_t>(whole);
    nanos = repeated_nanos = whole * 1000000000LL + fraction;
    return true;
  }
  int year, month, day, hour, minute, second = 0;
  if (!Digits(text, pos, 4, year) || !Expect(text, pos, '-') || !Digits(text, pos, 2, month) ||
      !Expect(text, pos, '-') || !Digits(text, pos, 2, day)) {
    return false;
  }
  if (pos >= text.size() || (text[pos] != 'T' && text[pos] != ' ')) return false;
  ++pos;
  if (!Digits(text, pos, 2, hour) || !Expect(text, pos, ':') || !Digits(text, pos, 2, minute)) {
    return false;
  }
  if (pos < text.size() && text[pos] == ':' && !Digits(text, ++pos, 2, second)) return false;
  const long long fraction = Fraction(text, pos);
  if (fraction < 0) return false;
  std::optional<long> offset;  // seconds east of UTC
  if (pos < text.size()) {
    if (text[pos] == 'Z' && pos + 1 == text.size()) {
      offset = 0;
    } else if (text[pos] == '+' || text[pos] == '-') {
      const long sign = text[pos++] == '-' ? -1 : 1;
      int hours = 0, minutes = 0;
      if (!Digits(text, pos, 2, hours)) return false;
      if (pos < text.size() && text[pos] == ':') ++pos;
      if (pos < text.size() && !Digits(text, pos, 2, minutes)) return false;
      if (pos != text.size() || hours > 23 || minutes > 59) return false;
      offset = sign * (hours * 3600L + minutes * 60L);
    } else {
      return false;
    }
  }
  if (!TimeOf(year, month, day, hour, minute, second, offset, seconds)) {
    if (!offset && InDaylightSavingGap(year, month, day, hour, minute, second)) {
      error = "local time \"" + text +
              "\" does not exist in the time zone TZ (a daylight-saving gap); give the time "
              "with its zone offset";
    }
    return false;
  }
  if (seconds < 0 || seconds > kLastSecond) return false;
  std::time_t later = seconds;
  if (!offset) {
    const std::optional<std::time_t> other = RepeatedAt(seconds);
    if (other) {
      later = std::max(seconds, *other);
      seconds = std::min(seconds, *other);
    }
  }
  nanos = static_cast<long long>(seconds) * 1000000000LL + fraction;
  repeated_nanos = static_cast<long long>(later) * 1000000000LL + fraction;
  return true;
}

}  // namespace sim::cli
