#pragma once

#include <boost/date_time/posix_time/ptime.hpp>
#include <ctime>
#include <string>

namespace aikorvane::kept {

// The local time to the second, as boost's second_clock::local_time() gives
// it, converting the clock's reading (time()) with localtime_r only about once
// per minute. localtime_r takes a lock of the C library that every device of
// the host would otherwise take every round. A conversion is kept only over
// the rest of its local minute, and only when the C library gives the last
// second of it the same offset and the local time that follows from the
// first; a zone (or the TZ value) that changes its offset within a minute
// then gets a conversion every round until the minute is over. A new zone
// (a new TZ value and tzset()) is seen at the next round.
class LocalClock {
 public:
  boost::posix_time::ptime Now();

 private:
  // The zone in force: the TZ value and what tzset() made of it (a TZ value
  // set without tzset() is the C library's old zone until the next tzset();
  // the clock expects both together, as a host that changes zones does).
  struct Zone {
    const char* names[2] = {nullptr, nullptr};
    long offset = 0;
    int daylight = 0;
    bool operator==(const Zone& other) const {
      return names[0] == other.names[0] && names[1] == other.names[1] && offset == other.offset &&
             daylight == other.daylight;
    }
  };
  static Zone CurrentZone();
  bool SameZone(const Zone& zone, const char* tz) const;
  boost::posix_time::ptime Convert(std::time_t now, const Zone& zone, const char* tz);

  std::time_t since_ = 0;  // the reading converted last
  std::time_t until_ = 0;  // the first reading the conversion no longer serves
  Zone zone_;
  std::string tz_;  // the TZ value of the conversion ("" for none)
  bool tz_set_ = false;
  boost::posix_time::ptime at_;
};

}  // namespace aikorvane::kept
