#pragma once

// The device's diagnostic lines. A line is put together piece by piece and
// written with std::endl; on a host the stream is shared by every device and
// each separate write takes its lock, so a stream in its default state gets
// the line's bytes in one write. Any other state gets the pieces written one
// by one, as the stream itself formats them.

#include <charconv>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>

namespace aikorvane {

class StreamTextMemo;

// True when `stream` is in its default state (flags, precision 6, no width,
// the classic locale): it then writes numbers as plain "C" text.
bool IsPlainStream(const std::ostream& stream);

// Writes `line`, a newline and a flush: the bytes of `stream << line <<
// std::endl` for a stream in its default state, in one write.
void WriteLine(std::ostream& stream, std::string_view line);

class DiagnosticLine {
 public:
  // `plain`: IsPlainStream(out), decided once for a run of lines.
  DiagnosticLine(std::ostream& out, bool plain) : out_(out), plain_(plain) {}
  explicit DiagnosticLine(std::ostream& out) : DiagnosticLine(out, IsPlainStream(out)) {}
  DiagnosticLine(const DiagnosticLine&) = delete;
  DiagnosticLine& operator=(const DiagnosticLine&) = delete;
  // Ends the line: the text, a newline and a flush.
  ~DiagnosticLine();

  DiagnosticLine& operator<<(std::string_view text);
  DiagnosticLine& operator<<(const char* text) { return *this << std::string_view(text); }
  DiagnosticLine& operator<<(const std::string& text) { return *this << std::string_view(text); }
  // An integer, as the stream writes one of its type.
  template <typename Int,
            typename = std::enable_if_t<std::is_integral_v<Int> && !std::is_same_v<Int, bool>>>
  DiagnosticLine& operator<<(Int value) {
    if (!plain_) return Write(value);
    char text[24];
    const char* end = std::to_chars(text, text + sizeof text, value).ptr;
    return *this << std::string_view(text, static_cast<std::size_t>(end - text));
  }
  // A float, as the stream writes it; a Memo's texts of a plain stream are
  // kept in its memo.
  struct Memo {
    Memo(float number, StreamTextMemo* memo) : value(number), texts(memo) {}
    float value;
    StreamTextMemo* texts;
  };
  DiagnosticLine& operator<<(Memo value);
  DiagnosticLine& operator<<(float value) { return *this << Memo(value, nullptr); }

 private:
  template <typename Value>
  DiagnosticLine& Write(const Value& value) {
    out_ << value;
    return *this;
  }
  void Append(std::string_view text);

  std::ostream& out_;
  const bool plain_;
  // The plain line: in a fixed buffer while it fits, in a string beyond.
  char text_[384];
  std::size_t length_ = 0;
  std::string long_;
};

}  // namespace aikorvane
