#include "plugin/kept/local_clock.h"

#include <time.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstdlib>

namespace aikorvane::kept {

boost::posix_time::ptime LocalClock::Now() {
  const std::time_t now = std::time(nullptr);
  const Zone zone = CurrentZone();
  const char* tz = std::getenv("TZ");
  if (now >= since_ && now < until_ && SameZone(zone, tz)) {
    return at_ + boost::posix_time::seconds(now - since_);
  }
  return Convert(now, zone, tz);
}

bool LocalClock::SameZone(const Zone& zone, const char* tz) const {
  // Zones may share their names and offsets and differ in their rules.
  return zone == zone_ && (tz != nullptr) == tz_set_ && (tz == nullptr || tz_ == tz);
}

LocalClock::Zone LocalClock::CurrentZone() {
  Zone zone;
  zone.names[0] = tzname[0];
  zone.names[1] = tzname[1];
  zone.offset = timezone;
  zone.daylight = daylight;
  return zone;
}

boost::posix_time::ptime LocalClock::Convert(std::time_t now, const Zone& zone, const char* tz) {
  std::tm parts{};
  if (localtime_r(&now, &parts) == nullptr) {
    // The clock's reading has no local time: the library reports it its way.
    since_ = until_ = 0;
    return boost::posix_time::second_clock::local_time();
  }
  at_ = boost::posix_time::ptime_from_tm(parts);
  since_ = now;
  until_ = now + 1;
  zone_ = zone;
  tz_set_ = tz != nullptr;
  tz_.assign(tz != nullptr ? tz : "");
  if (parts.tm_sec < 59) {
    const std::time_t last = now + (59 - parts.tm_sec);
    std::tm last_parts{};
    if (localtime_r(&last, &last_parts) != nullptr && last_parts.tm_gmtoff == parts.tm_gmtoff &&
        boost::posix_time::ptime_from_tm(last_parts) ==
            at_ + boost::posix_time::seconds(last - now)) {
      until_ = last + 1;
    }
  }
  return at_;
}

}  // namespace aikorvane::kept
