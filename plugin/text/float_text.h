#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

namespace aikorvane {

// Room for any float text, its terminating zero included ("-1.17549435e-38"
// is the longest).
inline constexpr std::size_t kFloatTextCapacity = 32;

// Writes `value` as boost::lexical_cast<std::string>(float) writes it, without
// its cost: "%.9g" of the value widened to double, in the C library's numeric
// locale, and an infinity or a NaN as "inf" or "nan", after a minus sign when
// its sign bit is set. Returns the length written into `out` (zero-terminated).
std::size_t FloatText(float value, char (&out)[kFloatTextCapacity]);

// The same text assigned to / appended to a string; a kept string of the
// caller takes it without allocating (the texts fit its inline buffer).
void AssignFloatText(std::string& text, float value);
void AppendFloatText(std::string& text, float value);

// Writes `value` into `stream` exactly as `stream << value` does, cheaper
// when the stream is in its default state (flags, precision 6, no width, the
// classic locale).
std::ostream& WriteFloat(std::ostream& stream, float value);

// Appends `value` as a new std::ostringstream writes it.
void AppendStreamFloat(std::string& text, float value);

// The texts of the quick paths alone: correct only where the decimal point is
// ".", and 0 (nothing written) for values whose last digit lies too close to
// a rounding tie to decide without exact arithmetic. Exposed for the checks
// that compare them with the C library: QuickFloatText writes "%.9g",
// QuickStreamFloatText the "%.6g" of a stream in its default state.
std::size_t QuickFloatText(float value, char (&out)[kFloatTextCapacity]);
std::size_t QuickStreamFloatText(float value, char (&out)[kFloatTextCapacity]);

// True when the C library's decimal point, the only part of the numeric
// locale that "%.9g" reads, is ".".
bool DecimalPointIsDot();

}  // namespace aikorvane
