#pragma once

#include <cstddef>
#include <string>

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

// The text of the quick path alone: correct only where the decimal point is
// ".", and 0 (nothing written) for values whose 9th digit lies too close to a
// rounding tie to decide without exact arithmetic. Exposed for the checks that
// compare it with the C library.
std::size_t QuickFloatText(float value, char (&out)[kFloatTextCapacity]);

}  // namespace aikorvane
