// The notations of test files and CSV data: series, durations and times.

#include "sim/sitetests/series.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "sim/host/session.h"
#include "sim/replay/csv_trace.h"

namespace {

using sim::cli::ParseDuration;
using sim::cli::ParseSeries;
using sim::cli::ParseTimeText;

// A series as text: readings joined by blanks, "_" for a step without one.
std::string Expand(const std::string& series) {
  std::vector<std::optional<double>> steps;
  std::string error;
  if (!ParseSeries(series, steps, error)) return "error: " + error;
  std::string text;
  for (const auto& step : steps) {
    char number[32];
    std::snprintf(number, sizeof number, "%g", step.value_or(0));
    text += (text.empty() ? "" : " ") + (step ? std::string(number) : std::string("_"));
  }
  return text;
}

TEST(SeriesNotation, ExpandsLikePrometheusRuleTests) {
  const std::pair<const char*, const char*> cases[] = {
      {"1", "1"},
      {"-2+4x3", "-2 2 6 10"},
      {"1-2x4", "1 -1 -3 -5 -7"},
      {"1x4", "1 1 1 1 1"},
      {" 1 _x3  2 ", "1 _ _ _ 2"},
      {"0x3", "0 0 0 0"},  // not hexadecimal
      {"1e3+1e1x1", "1000 1010"},
      {"14.7-0.05x2 13.2", "14.7 14.65 14.6 13.2"},
      // What a broken sensor reads, to replay how the device takes it.
      {"nan INF -infx1 +inf", "nan inf -inf -inf inf"},
      {"", "error: empty series"},
      {"1+2", "error: bad series value \"1+2\" (expected a number a, a+bxn, a-bxn, axn, _ or _xn)"},
  };
  for (const auto& [series, expanded] : cases) EXPECT_EQ(Expand(series), expanded) << series;
  for (const char* bad :
       {"x3", "_x0", "_3", "1x", "1x-2", "nan+1x2", "infinity", "0x1p3", "1++2x3", "1-x3", "a"}) {
    EXPECT_EQ(Expand(bad).rfind("error: bad series value", 0), 0u) << bad;
  }
  std::vector<std::optional<double>> steps;
  std::string error;
  EXPECT_FALSE(ParseSeries("1x9999999 1", steps, error, 10000000));
  EXPECT_EQ(error, "series longer than 10000000 steps");
}

TEST(SeriesNotation, Durations) {
  long long seconds = -1;
  std::string error;
  const std::pair<const char*, long long> good[] = {
      {"0", 0},       {"90s", 90},       {"30m", 1800},
      {"1h", 3600},   {"1h30m", 5400},   {"2m5s", 125},
      {"7d", 604800}, {"1d12h", 129600}, {"36600d", 36600LL * 86400}};
  for (const auto& [text, expected] : good) {
    EXPECT_TRUE(ParseDuration(text, seconds, error)) << text;
    EXPECT_EQ(seconds, expected) << text;
  }
  for (const char* bad :
       {"", "30", "5w", "d", "1.5d", "1D", "1h-5m", "1.5h", "99999999999h", "36601d", "36600d1s"}) {
    EXPECT_FALSE(ParseDuration(bad, seconds, error)) << bad;
  }
}

TEST(CsvTimes, IsoWithAndWithoutZoneSpaceFormAndUnixSeconds) {
  setenv("TZ", "Asia/Shanghai", 1);  // local time is UTC+8 all year
  tzset();
  const std::time_t utc = 1767571200;  // 2026-01-05 00:00:00 UTC
  const std::pair<const char*, std::time_t> good[] = {
      {"2026-01-05T00:00:00Z", utc},
      {"2026-01-05T08:00:00+08:00", utc},
      {"2026-01-05T08:00:00+0800", utc},
      {"2026-01-04T22:30:00-01:30", utc},
      {"2026-01-05T08:00:00+08", utc},
      {"2026-01-05T08:00:00", utc},  // local
      {"2026-01-05 08:00:00", utc},
      {"2026-01-05 08:00", utc},
      {"2026-01-05T00:00:00.75Z", utc},
      {"1767571200", utc},
      {"1767571200.5", utc},
      // 13 digits or more count milliseconds.
      {"1767571200000", utc},
      {"1767571200999", utc},
      {"1767571200000.5", utc},
      {"9223372035", 9223372035},  // 2262-04-11T23:47:15Z, the last a row's order counts
      {"9223372035999", 9223372035},
      {"2262-04-11T23:47:15Z", 9223372035},
  };
  for (const auto& [text, expected] : good) {
    std::time_t seconds = 0;
    long long nanos = 0;
    std::string error;
    EXPECT_TRUE(ParseTimeText(text, seconds, nanos, error)) << text << ": " << error;
    EXPECT_EQ(seconds, expected) << text;
  }
  std::time_t seconds = 0;
  long long nanos = 0, later = 0;
  std::string error;
  ASSERT_TRUE(ParseTimeText("2026-01-05T00:00:00.25Z", seconds, nanos, error));
  ASSERT_TRUE(ParseTimeText("1767571200.5", seconds, later, error));
  EXPECT_LT(nanos, later) << "fractions order rows within a second";
  ASSERT_TRUE(ParseTimeText("1767571200250", seconds, later, error));
  EXPECT_EQ(later, nanos) << "milliseconds keep their fraction of the second";
  for (const char* bad :
       {"", "yesterday", "2026-02-30 00:00:00", "2026-01-05T25:00:00", "2026-01-05T00:60:00Z",
        "2026-1-5 0:0:0", "2026-01-05T00:00:00+8", "2026-01-05T00:00:00 UTC", "2026-01-05", "-5",
        "1767571200x", "1969-12-31T23:59:59Z", "9223372036", "999999999999", "9223372036000",
        "2262-04-11T23:47:16Z", "9999-12-31T23:59:59Z", "1767571200000000", "1767571200000x"}) {
    EXPECT_FALSE(ParseTimeText(bad, seconds, nanos, error)) << bad;
  }
  unsetenv("TZ");
  tzset();
}

// A local time the clock shows twice when it is set back: its first pass,
// and its second for a row that follows the first pass. Elsewhere (the
// spring gap aside, which is no time) both are the same.
TEST(CsvTimes, TheRepeatedAutumnHourHasTwoPasses) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  const long long hour = 3600LL * 1000000000LL;
  const struct {
    const char* text;
    std::time_t first;  // UTC
    long long second_after_first;
  } cases[] = {
      {"2026-10-25 02:30:00", 1792888200, hour},  // 00:30 UTC, then 01:30 UTC
      {"2026-10-25 02:00:00", 1792886400, hour},    {"2026-10-25 02:59:59", 1792889999, hour},
      {"2026-10-25 01:59:59", 1792886399, 0},        // before the repeated hour
      {"2026-10-25 03:00:00", 1792893600, 0},        // after it
      {"2026-10-25T02:30:00+01:00", 1792891800, 0},  // with its offset: one time
      {"2026-03-29 03:30:00", 1774747800, 0},
  };
  for (const auto& c : cases) {
    std::time_t seconds = 0;
    long long nanos = 0, repeated = 0;
    std::string error;
    ASSERT_TRUE(ParseTimeText(c.text, seconds, nanos, repeated, error)) << c.text << error;
    EXPECT_EQ(seconds, c.first) << c.text;
    EXPECT_EQ(repeated - nanos, c.second_after_first) << c.text;
  }
  std::time_t seconds = 0;
  long long nanos = 0, repeated = 0;
  std::string error;
  EXPECT_FALSE(ParseTimeText("2026-03-29 02:30:00", seconds, nanos, repeated, error));
  EXPECT_NE(error.find("daylight-saving gap"), std::string::npos) << error;
  unsetenv("TZ");
  tzset();
}

TEST(TimeZone, ZoneFilesAndPosixRulesOnly) {
  const struct {
    const char* tz;
    bool valid;
  } cases[] = {
      {"", true},
      {"Europe/Berlin", true},
      {":Europe/Berlin", true},
      {"/usr/share/zoneinfo/Asia/Shanghai", true},
      {"UTC", true},
      {"XST-8", true},
      {"XST8XDT,M3.2.0/2,M11.1.0/2", true},
      {"XST-1XDT-2,M3.5.0,M10.5.0/3", true},
      {"<+0330>-3:30", true},
      {"XST5XDT,J60/2,300", true},
      {"Mars/Olympus", false},
      {":Mars", false},
      {"XST", false},  // a name without its offset
      {"XS5", false},
      {"XST25", false},
      {"XST5XDT,M13.1.0,M11.1.0", false},
      {"XST5XDT,M3.2.0", false},
      {"XST5junk!", false},
      {"../../../etc/passwd", false},
      {"/etc/hostname", false},  // a file, but no zone file
  };
  for (const auto& c : cases) {
    setenv("TZ", c.tz, 1);
    const std::string error = sim::cli::TimeZoneError();
    EXPECT_EQ(error.empty(), c.valid) << c.tz << ": " << error;
    if (!c.valid) {
      EXPECT_NE(error.find(std::string("TZ \"") + c.tz + "\""), std::string::npos);
    }
  }
  // Zone files are looked up under TZDIR; UTC needs none.
  setenv("TZDIR", "/nonexistent", 1);
  setenv("TZ", "UTC", 1);
  EXPECT_EQ(sim::cli::TimeZoneError(), "");
  setenv("TZ", "Europe/Berlin", 1);
  EXPECT_NE(sim::cli::TimeZoneError().find("no zone file /nonexistent/Europe/Berlin"),
            std::string::npos);
  unsetenv("TZDIR");
  unsetenv("TZ");
  EXPECT_EQ(sim::cli::TimeZoneError(), "");
  tzset();
}

}  // namespace
