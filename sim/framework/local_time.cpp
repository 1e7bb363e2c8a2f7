#include "sim/framework/local_time.h"

#include <dlfcn.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr long long kQuarterHour = 900;
constexpr long long kSecondsPerDay = 86400;
// Far enough for any recorded history, near enough that the year fits an int.
constexpr long long kFurthest = 1LL << 36;

struct QuarterHour {
  bool known = false;
  long long index = 0;  // floor(time / kQuarterHour)
  long offset = 0;
  int dst = 0;
  const char* zone = nullptr;
};

// What one thread remembers: the TZ text that the library's zone was last
// brought up to, and a quarter hour read under it.
struct Memo {
  bool tz_read = false;
  bool tz_set = false;
  char tz[256] = {};  // a longer TZ is never remembered
  QuarterHour quarter;
  long long remembered = 0;
};
thread_local Memo t_memo;

long long FloorDivide(long long value, long long by) {
  const long long quotient = value / by;
  return quotient - ((value % by) < 0 ? 1 : 0);
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const long long era = FloorDivide(year, 400);
  const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<long long>(day_of_era) - 719468;
}

void CivilFromDays(long long days, long long& year, unsigned& month, unsigned& day) {
  days += 719468;
  const long long era = FloorDivide(days, 146097);
  const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned shifted_month = (5 * day_of_year + 2) / 153;
  day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  year = static_cast<long long>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
}

void FillFields(std::time_t time, const QuarterHour& quarter, std::tm& out) {
  const long long local = static_cast<long long>(time) + quarter.offset;
  const long long days = FloorDivide(local, kSecondsPerDay);
  const long long second_of_day = local - days * kSecondsPerDay;
  long long year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, year, month, day);
  out.tm_sec = static_cast<int>(second_of_day % 60);
  out.tm_min = static_cast<int>(second_of_day / 60 % 60);
  out.tm_hour = static_cast<int>(second_of_day / 3600);
  out.tm_mday = static_cast<int>(day);
  out.tm_mon = static_cast<int>(month) - 1;
  out.tm_year = static_cast<int>(year - 1900);
  out.tm_wday = static_cast<int>((days % 7 + 11) % 7);  // 1970-01-01 was a Thursday
  out.tm_yday = static_cast<int>(days - DaysFromCivil(year, 1, 1));
  out.tm_isdst = quarter.dst;
  out.tm_gmtoff = quarter.offset;
  out.tm_zone = quarter.zone;
}

bool SameFields(const std::tm& a, const std::tm& b) {
  return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour &&
         a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year &&
         a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday && a.tm_isdst == b.tm_isdst &&
         a.tm_gmtoff == b.tm_gmtoff && a.tm_zone == b.tm_zone;
}

bool SameTz(const Memo& memo, const char* tz) {
  if (!memo.tz_read) return false;
  if (tz == nullptr) return !memo.tz_set;
  return memo.tz_set && std::strcmp(memo.tz, tz) == 0;
}

// Brings the library's zone up to `tz` and keeps its text; false when the
// text is too long to keep.
bool ReadTz(Memo& memo, const char* tz) {
  memo.tz_read = false;
  memo.quarter.known = false;
  if (tz != nullptr && std::strlen(tz) >= sizeof memo.tz) return false;
  tzset();
  memo.tz_set = tz != nullptr;
  if (tz != nullptr) std::strcpy(memo.tz, tz);
  memo.tz_read = true;
  return true;
}

// Remembers the quarter hour of `time` (converted by the library into `at`)
// when arithmetic from its offset gives the library's fields at both of its
// ends and at `time`: no zone changes its offset twice within a quarter hour.
void Remember(std::time_t time, const std::tm& at, QuarterHour& quarter) {
  quarter.known = false;
  QuarterHour candidate;
  candidate.index = FloorDivide(time, kQuarterHour);
  candidate.offset = at.tm_gmtoff;
  candidate.dst = at.tm_isdst;
  candidate.zone = at.tm_zone;
  const std::time_t first = static_cast<std::time_t>(candidate.index * kQuarterHour);
  const std::time_t probes[] = {time, first, first + kQuarterHour - 1};
  for (const std::time_t probe : probes) {
    std::tm library{};
    std::tm worked{};
    if (probe != time && sim::LibraryLocalTime(probe, library) == nullptr) return;
    FillFields(probe, candidate, worked);
    if (!SameFields(probe == time ? at : library, worked)) return;
  }
  candidate.known = true;
  quarter = candidate;
}

using LocalTimeFunction = struct tm* (*)(const time_t*, struct tm*);

LocalTimeFunction LibraryFunction() {
  static const LocalTimeFunction library =
      reinterpret_cast<LocalTimeFunction>(dlsym(RTLD_NEXT, "localtime_r"));
  return library;
}

}  // namespace

namespace sim {

std::tm* LibraryLocalTime(const std::time_t& time, std::tm& out) {
  const LocalTimeFunction library = LibraryFunction();
  if (library == nullptr) std::abort();  // no C library below the host: nothing can run
  return library(&time, &out);
}

std::tm* RememberedLocalTime(const std::time_t& time, std::tm& out) {
  Memo& memo = t_memo;
  const char* tz = std::getenv("TZ");
  if (!SameTz(memo, tz) && !ReadTz(memo, tz)) return LibraryLocalTime(time, out);
  const long long value = static_cast<long long>(time);
  QuarterHour& quarter = memo.quarter;
  if (quarter.known && quarter.index == FloorDivide(value, kQuarterHour)) {
    FillFields(time, quarter, out);
    ++memo.remembered;
    return &out;
  }
  if (value < -kFurthest || value > kFurthest) return LibraryLocalTime(time, out);
  if (LibraryLocalTime(time, out) == nullptr) return nullptr;
  Remember(time, out, quarter);
  return &out;
}

long long RememberedConversions() { return t_memo.remembered; }

}  // namespace sim

extern "C" __attribute__((visibility("default"))) struct tm* localtime_r(const time_t* time,
                                                                         struct tm* out) noexcept {
  return sim::RememberedLocalTime(*time, *out);
}
