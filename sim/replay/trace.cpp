#include "sim/replay/trace.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "config/device_contract.h"
#include "sim/host/event_log.h"

namespace sim::cli {
namespace {

bool ToInteger(const std::string& text, long long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  out = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0';
}

bool ToNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(out);
}

// A reading: a number, or "nan", "inf", "-inf" as a broken sensor gives them.
bool ToReading(const std::string& text, double& out) {
  std::string lower;
  for (const char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "nan") {
    out = std::nan("");
  } else if (lower == "inf" || lower == "+inf") {
    out = HUGE_VAL;
  } else if (lower == "-inf") {
    out = -HUGE_VAL;
  } else {
    return ToNumber(text, out);
  }
  return true;
}

bool ToClock(const std::string& date, const std::string& clock, std::time_t& out, bool& gap) {
  int year, month, day, hour, minute, second;
  char extra;
  if (std::sscanf(date.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &extra) != 3) return false;
  if (std::sscanf(clock.c_str(), "%2d:%2d:%2d%c", &hour, &minute, &second, &extra) != 3) {
    return false;
  }
  if (TimeOf(year, month, day, hour, minute, second, std::nullopt, out)) return true;
  gap = InDaylightSavingGap(year, month, day, hour, minute, second);
  return false;
}

bool Fail(std::string& error, const std::string& message) {
  error = message;
  return false;
}

}  // namespace

bool ParseTraceLine(const std::string& text, int line, std::optional<Directive>& directive,
                    std::string& error) {
  directive.reset();
  const std::string content = text.substr(0, text.find('#'));
  std::istringstream stream(content);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  if (words.empty()) return true;

  long long integer = 0;
  // A line holding only an integer is a sample.
  if (words.size() == 1 && ToInteger(words[0], integer)) words.insert(words.begin(), "sample");
  Directive parsed;
  parsed.line = line;
  const std::string name = words[0];
  const size_t arguments = words.size() - 1;
  auto expect = [&](size_t count, const char* usage) {
    if (arguments == count) return true;
    error = std::string("expected: ") + usage;
    return false;
  };

  if (name == "sample") {
    if (!expect(1, "sample N")) return false;
    if (!ToInteger(words[1], integer)) return Fail(error, "sample is no integer: " + words[1]);
    if (integer < SHRT_MIN || integer > SHRT_MAX) {
      return Fail(error, "sample " + words[1] + " does not fit a signed 16-bit number");
    }
    parsed.kind = Directive::Kind::kSample;
    parsed.sample = static_cast<short>(integer);
  } else if (name == "ai") {
    if (!expect(2, "ai CH VALUE")) return false;
    if (!ToInteger(words[1], integer) || integer < INT_MIN || integer > INT_MAX) {
      return Fail(error, "channel is no integer: " + words[1]);
    }
    double reading = 0;
    if (!ToReading(words[2], reading)) return Fail(error, "reading is no number: " + words[2]);
    parsed.kind = Directive::Kind::kAi;
    parsed.channel = static_cast<int>(integer);
    parsed.reading = static_cast<float>(reading);
  } else if (name == "cache") {
    if (arguments > 1) return Fail(error, "expected: cache HEX");
    parsed.kind = Directive::Kind::kCache;
    if (arguments == 1 && !ParseHex(words[1], parsed.bytes)) {
      return Fail(error, "cache bytes are not an even number of hexadecimal digits: " + words[1]);
    }
  } else if (name == "settings") {
    if (arguments == 0) return Fail(error, "expected: settings FILE");
    parsed.kind = Directive::Kind::kSettings;
    // The file name is the rest of the line, spaces included.
    const size_t start = content.find_first_not_of(" \t", content.find("settings") + 8);
    const size_t end = content.find_last_not_of(" \t\r");
    parsed.path = content.substr(start, end - start + 1);
  } else if (name == "sleep") {
    if (!expect(1, "sleep SECONDS")) return false;
    if (!ToNumber(words[1], parsed.seconds) || parsed.seconds < 0) {
      return Fail(error, "sleep needs a number of seconds, 0 or more: " + words[1]);
    }
    parsed.kind = Directive::Kind::kSleep;
  } else if (name == "clock") {
    if (!expect(2, "clock YYYY-MM-DD HH:MM:SS")) return false;
    bool gap = false;
    if (!ToClock(words[1], words[2], parsed.clock, gap)) {
      return Fail(error, "no valid local time: " + words[1] + " " + words[2] +
                             (gap ? " (a daylight-saving gap: that local time does not exist in "
                                    "the time zone TZ)"
                                  : " (expected YYYY-MM-DD HH:MM:SS)"));
    }
    parsed.kind = Directive::Kind::kClock;
  } else if (name == "advance") {
    if (!expect(1, "advance SECONDS")) return false;
    if (!ToInteger(words[1], parsed.advance) || parsed.advance < 0 ||
        parsed.advance > 100LL * 366 * 24 * 3600) {
      return Fail(error, "advance needs whole seconds, 0 or more: " + words[1]);
    }
    parsed.kind = Directive::Kind::kAdvance;
  } else if (name == "ramp") {
    if (arguments != 4 && arguments != 5) {
      return Fail(error, "expected: ramp CH FROM TO N [ADVANCE]");
    }
    // The round is process(base + CH): the sample must name a channel and
    // still fit a signed 16-bit number.
    if (!ToInteger(words[1], integer) || integer < 1 || integer > aikorvane::kMaxSampleChannel) {
      return Fail(error, "ramp channel must be 1 to " +
                             std::to_string(aikorvane::kMaxSampleChannel) + ": " + words[1]);
    }
    parsed.channel = static_cast<int>(integer);
    if (!ToNumber(words[2], parsed.from)) return Fail(error, "FROM is no number: " + words[2]);
    if (!ToNumber(words[3], parsed.to)) return Fail(error, "TO is no number: " + words[3]);
    if (!ToInteger(words[4], parsed.count) || parsed.count < 1 || parsed.count > 1000000) {
      return Fail(error, "ramp needs 1 to 1000000 rounds: " + words[4]);
    }
    if (arguments == 5 && (!ToInteger(words[5], parsed.step_seconds) || parsed.step_seconds < 0 ||
                           parsed.step_seconds > 366 * 24 * 3600)) {
      return Fail(error, "ramp ADVANCE needs whole seconds, 0 or more: " + words[5]);
    }
    parsed.kind = Directive::Kind::kRamp;
  } else {
    return Fail(error, "unknown directive: " + name);
  }
  directive = std::move(parsed);
  return true;
}

bool InDaylightSavingGap(int year, int month, int day, int hour, int minute, int second) {
  std::time_t ignored = 0;
  return TimeOf(year, month, day, hour, minute, second, 0L, ignored) &&
         !TimeOf(year, month, day, hour, minute, second, std::nullopt, ignored);
}

bool TimeOf(int year, int month, int day, int hour, int minute, int second,
            std::optional<long> utc_offset, std::time_t& out) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = -1;
  const std::tm asked = fields;
  out = utc_offset ? timegm(&fields) - *utc_offset : std::mktime(&fields);
  // Both normalise 2024-02-30 into March: refuse what they had to change.
  // (A local time inside a daylight-saving gap is moved and refused the same way.)
  return out != static_cast<std::time_t>(-1) && fields.tm_year == asked.tm_year &&
         fields.tm_mon == asked.tm_mon && fields.tm_mday == asked.tm_mday &&
         fields.tm_hour == asked.tm_hour && fields.tm_min == asked.tm_min &&
         fields.tm_sec == asked.tm_sec && year >= 1970 && year <= 9999;
}

float RampReading(const Directive& ramp, long long index) {
  if (ramp.count <= 1) return static_cast<float>(ramp.from);
  const double t = static_cast<double>(index) / static_cast<double>(ramp.count - 1);
  return static_cast<float>(ramp.from + (ramp.to - ramp.from) * t);
}

}  // namespace sim::cli
