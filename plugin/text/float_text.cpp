#include "plugin/text/float_text.h"

#include <langinfo.h>

#include <boost/lexical_cast.hpp>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <locale>
#include <ostream>
#include <sstream>

#include "plugin/text/diagnostic_line.h"

namespace aikorvane {
namespace {

// Powers of ten as the compiler rounds them (exact up to 1e22); a float
// scaled by one of them carries at most about one unit of double rounding.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10,
                             1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21,
                             1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31, 1e32,
                             1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39, 1e40, 1e41, 1e42, 1e43,
                             1e44, 1e45, 1e46, 1e47, 1e48, 1e49, 1e50, 1e51, 1e52, 1e53};
constexpr int kMaxPow = static_cast<int>(sizeof kPow10 / sizeof kPow10[0]) - 1;

// A scaled value this close to a half is left to the C library: the error of
// the double arithmetic (a few units of 2^-23 at 1e9) is far below it, and
// exact ties (1000000.125 is one) always fall inside it.
constexpr double kTieMargin = 1e-5;

double Scale(double magnitude, int power) {
  return power >= 0 ? magnitude * kPow10[power] : magnitude / kPow10[-power];
}

// Lays out `precision` significant digits with decimal exponent `exponent`
// the way "%.<precision>g" does: plain notation for exponents from -4 to
// precision - 1, otherwise d.ddde+XX; trailing zeros and a bare decimal point
// dropped.
std::size_t Layout(char* out, bool negative, uint32_t digits, int exponent, int precision) {
  char d[9];
  for (int i = precision - 1; i >= 0; --i) {
    d[i] = static_cast<char>('0' + digits % 10);
    digits /= 10;
  }
  int last = precision - 1;  // last significant digit kept
  while (last > 0 && d[last] == '0') --last;
  char* p = out;
  if (negative) *p++ = '-';
  if (exponent < -4 || exponent >= precision) {
    *p++ = d[0];
    if (last > 0) {
      *p++ = '.';
      std::memcpy(p, d + 1, static_cast<std::size_t>(last));
      p += last;
    }
    *p++ = 'e';
    *p++ = exponent < 0 ? '-' : '+';
    unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
    if (magnitude >= 100) {
      *p++ = static_cast<char>('0' + magnitude / 100);
      magnitude %= 100;
    }
    *p++ = static_cast<char>('0' + magnitude / 10);
    *p++ = static_cast<char>('0' + magnitude % 10);
  } else if (exponent >= 0) {
    std::memcpy(p, d, static_cast<std::size_t>(exponent) + 1);
    p += exponent + 1;
    if (last > exponent) {
      *p++ = '.';
      std::memcpy(p, d + exponent + 1, static_cast<std::size_t>(last - exponent));
      p += last - exponent;
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    for (int i = -1; i > exponent; --i) *p++ = '0';
    std::memcpy(p, d, static_cast<std::size_t>(last) + 1);
    p += last + 1;
  }
  *p = '\0';
  return static_cast<std::size_t>(p - out);
}

bool PointIsDot() {
  const char* point = nl_langinfo(RADIXCHAR);
  return point[0] == '.' && point[1] == '\0';
}

constexpr uint32_t kPow10Int[] = {1,      10,      100,      1000,      10000,
                                  100000, 1000000, 10000000, 100000000, 1000000000};

// "%.<precision>g" of the value widened to double, in the "C" locale, for a
// precision from 1 to 9; 0 near a rounding tie.
std::size_t QuickText(float value, int precision, char* out) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 31) != 0;
  char* p = out;
  if (((bits >> 23) & 0xFF) == 0xFF) {
    if (negative) *p++ = '-';
    std::memcpy(p, (bits & 0x7FFFFF) != 0 ? "nan" : "inf", 4);
    return static_cast<std::size_t>(p - out) + 3;
  }
  if ((bits & 0x7FFFFFFF) == 0) {
    if (negative) *p++ = '-';
    std::memcpy(p, "0", 2);
    return static_cast<std::size_t>(p - out) + 1;
  }
  const double magnitude = std::fabs(static_cast<double>(value));
  // floor(log10(2^e)) from the binary exponent: the decimal exponent or one
  // below it.
  uint64_t double_bits;
  std::memcpy(&double_bits, &magnitude, sizeof double_bits);
  const int binary_exponent = static_cast<int>((double_bits >> 52) & 0x7FF) - 1023;
  int exponent = (binary_exponent * 78913) >> 18;
  const int top = precision - 1;
  const auto low = static_cast<double>(kPow10Int[top]);
  const auto high = static_cast<double>(kPow10Int[precision]);
  double scaled = Scale(magnitude, top - exponent);
  while (scaled >= high && top - exponent > -kMaxPow) scaled = Scale(magnitude, top - ++exponent);
  while (scaled < low && top - exponent < kMaxPow) scaled = Scale(magnitude, top - --exponent);
  if (scaled < low || scaled >= high) return 0;
  auto digits = static_cast<uint32_t>(scaled);
  const double fraction = scaled - digits;
  if (std::fabs(fraction - 0.5) < kTieMargin) return 0;
  if (fraction > 0.5 && ++digits == kPow10Int[precision]) {
    digits = kPow10Int[top];
    ++exponent;
  }
  return Layout(out, negative, digits, exponent, precision);
}

}  // namespace

std::size_t QuickFloatText(float value, char (&out)[kFloatTextCapacity]) {
  return QuickText(value, 9, out);
}

std::size_t QuickStreamFloatText(float value, char (&out)[kFloatTextCapacity]) {
  return QuickText(value, 6, out);
}

void AppendStreamFloat(std::string& text, float value) {
  // A new stream takes the global locale; in the classic one it writes
  // "%.6g" in the "C" locale.
  if (std::locale() == std::locale::classic()) {
    char buffer[kFloatTextCapacity];
    const std::size_t length = QuickText(value, 6, buffer);
    if (length != 0) {
      text.append(buffer, length);
      return;
    }
  }
  std::ostringstream stream;
  stream << value;
  text += stream.str();
}

std::ostream& WriteFloat(std::ostream& stream, float value) {
  // In its default state a stream writes "%.6g" in the "C" locale.
  if (IsPlainStream(stream)) {
    char buffer[kFloatTextCapacity];
    const std::size_t length = QuickText(value, 6, buffer);
    if (length != 0) return stream.write(buffer, static_cast<std::streamsize>(length));
  }
  return stream << value;
}

std::size_t FloatText(float value, char (&out)[kFloatTextCapacity]) {
  if (PointIsDot()) {
    const std::size_t length = QuickFloatText(value, out);
    if (length != 0) return length;
    // Near a tie, and only there: the C library's own rounding of the same
    // widened value, as the cast itself does it.
    const int written = std::snprintf(out, sizeof out, "%.9g", static_cast<double>(value));
    return written > 0 ? static_cast<std::size_t>(written) : 0;
  }
  // Another decimal point: the cast itself, which follows it.
  const std::string text = boost::lexical_cast<std::string>(value);
  const std::size_t length = text.copy(out, sizeof out - 1);
  out[length] = '\0';
  return length;
}

void AssignFloatText(std::string& text, float value) {
  char buffer[kFloatTextCapacity];
  text.assign(buffer, FloatText(value, buffer));
}

void AppendFloatText(std::string& text, float value) {
  char buffer[kFloatTextCapacity];
  text.append(buffer, FloatText(value, buffer));
}

bool DecimalPointIsDot() { return PointIsDot(); }

}  // namespace aikorvane
