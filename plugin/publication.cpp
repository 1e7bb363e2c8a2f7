// The published values: the voltage and the time of the round.

#include <charconv>
#include <locale>
#include <sstream>

#include "plugin/aikorvane.h"

namespace {

// Empties a kept stream for a new text. Making a new string stream, with its
// locale facets, costs more than the short texts of a round; the kept one
// follows the global locale as a new stream would.
std::ostringstream& Fresh(std::ostringstream& stream) {
  stream.str(std::string());
  stream.clear();
  const std::locale global;
  if (stream.getloc() != global) stream.imbue(global);
  return stream;
}

}  // namespace

void AIKorvane::GenJsonData() {
  std::lock_guard<std::mutex> lock(value_mutex_);
  if (update_time_ == published_time_) return;
  published_time_ = update_time_;
  // Looked up every time: the host may have removed either since.
  value_["电压"] = Json::Value(static_cast<double>(data_.voltage));
  Json::Value& time_member = value_["更新时间"];
  const unsigned fields[] = {data_.year, data_.month,  data_.day,
                             data_.hour, data_.minute, data_.second};
  const char separators[] = {'-', '-', ' ', ':', ':'};
  if (std::locale() == std::locale::classic()) {
    // Plain decimal numbers, as a stream in the classic locale writes them.
    char text[40];
    char* end = text;
    for (std::size_t i = 0; i < 6; ++i) {
      if (i > 0) *end++ = separators[i - 1];
      end = std::to_chars(end, text + sizeof text, fields[i]).ptr;
    }
    time_member = Json::Value(text, end);
  } else {
    // The global locale may group the digits of the year.
    std::ostringstream& time_text = Fresh(published_text_);
    time_text << data_.year;
    for (std::size_t i = 1; i < 6; ++i) time_text << separators[i - 1] << fields[i];
    time_member = time_text.str();
  }
}
