#include "plugin/text/json_text.h"

namespace aikorvane {

std::string_view JsonTexts::Text(const Json::Value& value) {
  if (value.type() == Json::realValue && !value.hasComment(Json::commentBefore) &&
      !value.hasComment(Json::commentAfterOnSameLine) && !value.hasComment(Json::commentAfter)) {
    // What the writer writes for a real: the library's own text of it.
    return RealText(value.asDouble());
  }
  // A writer of the default builder is what the library's operator<< makes
  // for every value it writes.
  if (!writer_) writer_.reset(Json::StreamWriterBuilder().newStreamWriter());
  stream_.str(std::string());
  stream_.clear();
  writer_->write(value, &stream_);
  text_ = stream_.str();
  return text_;
}

std::string_view JsonTexts::RealText(double value) {
  const auto bits = TextMemo<uint64_t, 6, 31>::BitsOf(value);
  if (reals_enabled_) {
    const std::string_view kept = reals_.Find(bits);
    if (!kept.empty()) return kept;
  }
  text_ = Json::valueToString(value);
  if (reals_enabled_) reals_.Keep(bits, text_);
  return text_;
}

}  // namespace aikorvane
