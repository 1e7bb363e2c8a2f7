// The host's remembered local time against the C library's own, second by
// second around every change of offset from 1900 to 2100, in zones with half-
// and quarter-hour offsets, odd historical offsets, leap seconds and rules
// given as POSIX text; and after TZ changes under it with no tzset().

#include "sim/framework/local_time.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

namespace {

std::string Fields(const std::tm* tm) {
  if (tm == nullptr) return "null";
  char text[160];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d wday %d yday %d dst %d off %ld %s",
                tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min,
                tm->tm_sec, tm->tm_wday, tm->tm_yday, tm->tm_isdst, tm->tm_gmtoff,
                tm->tm_zone == nullptr ? "(no zone)" : tm->tm_zone);
  return text;
}

std::string Remembered(std::time_t time) {
  std::tm out{};
  return Fields(sim::RememberedLocalTime(time, out));
}

std::string Library(std::time_t time) {
  std::tm out{};
  return Fields(sim::LibraryLocalTime(time, out));
}

long Offset(std::time_t time) {
  std::tm out{};
  return sim::LibraryLocalTime(time, out) == nullptr ? 0 : out.tm_gmtoff;
}

// The first second in (from, to] whose offset differs from that at `from`.
std::time_t Change(std::time_t from, std::time_t to) {
  const long before = Offset(from);
  while (to - from > 1) {
    const std::time_t middle = from + (to - from) / 2;
    (Offset(middle) == before ? from : to) = middle;
  }
  return to;
}

TEST(LocalTime, RememberedGivesTheLibrarysFieldsAroundEveryChange) {
  const char* const zones[] = {"UTC",
                               "America/New_York",
                               "Europe/London",
                               "Australia/Lord_Howe",
                               "Asia/Kathmandu",
                               "Pacific/Chatham",
                               "America/St_Johns",
                               "Europe/Amsterdam",
                               "right/UTC",
                               "EST5EDT,M3.2.0,M11.1.0",
                               "<+0530>-5:30",
                               nullptr};
  constexpr std::time_t kAnchor = 1700000000;  // converted last in one zone, first in the next
  constexpr std::time_t kFrom = -2208988800;   // 1900-01-01
  constexpr std::time_t kTo = 4102444800;      // 2100-01-01
  constexpr std::time_t kStep =
      259183;  // three days and a little; a change undone within it goes unseen
  constexpr std::time_t kAround = 60;
  for (const char* zone : zones) {
    // Zones that count leap seconds come in a package of their own on newer systems.
    if (zone != nullptr && std::string(zone) == "right/UTC" &&
        !std::filesystem::exists("/usr/share/zoneinfo/right/UTC")) {
      continue;
    }
    // TZ changes without tzset(): the remembered time must follow it.
    if (zone == nullptr) {
      unsetenv("TZ");
    } else {
      setenv("TZ", zone, 1);
    }
    const std::string name = zone == nullptr ? "(TZ unset)" : zone;
    const std::string first = Remembered(kAnchor);  // before the library reads TZ afresh
    ASSERT_EQ(first, Library(kAnchor)) << name;
    int mismatches = 0;
    int changes = 0;
    const long long remembered_before = sim::RememberedConversions();
    auto check = [&](std::time_t time) {
      const std::string remembered = Remembered(time);
      const std::string library = Library(time);
      if (remembered != library && ++mismatches <= 5) {
        ADD_FAILURE() << name << " at " << time << ": " << remembered << " against " << library;
      }
    };
    for (std::time_t time = kFrom; time < kTo; time += kStep) {
      check(time);
      if (Offset(time) == Offset(time + kStep)) continue;
      const std::time_t change = Change(time, time + kStep);
      ++changes;
      for (std::time_t near = change - kAround; near <= change + kAround; ++near) check(near);
    }
    check(kAnchor);
    EXPECT_EQ(mismatches, 0) << name << " (" << changes << " changes of offset)";
    // Most seconds around a change lie in plain quarter hours; a zone that
    // counts leap seconds has none.
    const long long remembered = sim::RememberedConversions() - remembered_before;
    if (zone != nullptr && std::string(zone) == "right/UTC") {
      EXPECT_EQ(remembered, 0) << name;
    } else if (changes > 0) {
      EXPECT_GT(remembered, changes * kAround / 2) << name;
    }
    if (zone != nullptr && std::string(zone) == "America/New_York") {
      EXPECT_GT(changes, 300);
    }
  }
  setenv("TZ", "UTC", 1);
  tzset();
}

TEST(LocalTime, HostLocaltimeIsTheRememberedOne) {
  setenv("TZ", "Asia/Kathmandu", 1);
  tzset();
  const std::time_t time = 1700000123;
  std::tm out{};
  ASSERT_NE(localtime_r(&time, &out), nullptr);
  EXPECT_EQ(Fields(&out), Library(time));
  EXPECT_EQ(out.tm_gmtoff, 5 * 3600 + 45 * 60);
  setenv("TZ", "UTC", 1);
  tzset();
}

}  // namespace
