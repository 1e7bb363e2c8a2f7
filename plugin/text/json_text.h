#pragma once

#include <json/value.h>
#include <json/writer.h>

#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "plugin/text/text_memo.h"

namespace aikorvane {

// The JSON text of a published value, as the JSON library's stream output
// writes it. The writer and its stream are kept, so that a rule loop makes
// none per entry; the texts of recently written reals are kept while the
// decimal point is "." as of the last Refresh() (the library mends only a ","
// after the C library's printf).
class JsonTexts {
 public:
  void Refresh(bool keep = true) { reals_enabled_ = keep && DecimalPointIsDot(); }

  // The text of `value`; valid until the next call.
  std::string_view Text(const Json::Value& value);

 private:
  std::string_view RealText(double value);

  std::unique_ptr<Json::StreamWriter> writer_;
  std::ostringstream stream_;
  std::string text_;
  bool reals_enabled_ = false;
  TextMemo<uint64_t, 6, 31> reals_;
};

}  // namespace aikorvane
