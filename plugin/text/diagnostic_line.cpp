#include "plugin/text/diagnostic_line.h"

#include <cstring>
#include <locale>
#include <ostream>
#include <sstream>

#include "plugin/text/text_memo.h"

namespace aikorvane {

bool IsPlainStream(const std::ostream& stream) {
  return stream.flags() == (std::ios_base::skipws | std::ios_base::dec) &&
         stream.precision() == 6 && stream.width() == 0 &&
         stream.getloc() == std::locale::classic();
}

void WriteLine(std::ostream& stream, std::string_view line) {
  char buffer[256];
  if (line.size() < sizeof buffer) {
    std::memcpy(buffer, line.data(), line.size());
    buffer[line.size()] = '\n';
    stream.write(buffer, static_cast<std::streamsize>(line.size() + 1));
  } else {
    stream.write(line.data(), static_cast<std::streamsize>(line.size()));
    stream.put('\n');
  }
  stream.flush();
}

DiagnosticLine::~DiagnosticLine() {
  if (!plain_) {
    out_ << std::endl;
  } else if (long_.empty()) {
    WriteLine(out_, std::string_view(text_, length_));
  } else {
    WriteLine(out_, long_);
  }
}

DiagnosticLine& DiagnosticLine::operator<<(std::string_view text) {
  if (!plain_) return Write(text);
  Append(text);
  return *this;
}

DiagnosticLine& DiagnosticLine::operator<<(Memo number) {
  const float value = number.value;
  if (!plain_) return Write(value);
  char buffer[kFloatTextCapacity];
  const std::string_view text = number.texts != nullptr
                                    ? number.texts->Text(value)
                                    : std::string_view(buffer, QuickStreamFloatText(value, buffer));
  if (!text.empty()) return *this << text;
  // Near a rounding tie: the stream's own formatting, in the same state.
  std::ostringstream stream;
  stream.imbue(std::locale::classic());
  stream << value;
  return *this << stream.str();
}

void DiagnosticLine::Append(std::string_view text) {
  if (!long_.empty()) {
    long_ += text;
  } else if (text.size() <= sizeof text_ - length_) {
    std::memcpy(text_ + length_, text.data(), text.size());
    length_ += text.size();
  } else {
    long_.assign(text_, length_);
    long_ += text;
  }
}

}  // namespace aikorvane
