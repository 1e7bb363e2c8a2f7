// The device's float texts against the paths they replaced: the limit check's
// boost::lexical_cast<std::string>(float) and a stream's default "<<", on edge
// values and a million random bit patterns, in the "C" locale and in one whose
// decimal point is "," (where the quick paths must step aside). The full sweep
// of all 2^32 patterns is bench/aikorvane_float_sweep.

#include "plugin/text/text_memo.h"

#include <gtest/gtest.h>

#include <boost/lexical_cast.hpp>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

float FromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Edge values: zeros, the smallest and largest subnormals and normals,
// infinities, NaNs of both signs and payloads, powers of ten, values next to
// rounding ties of nine and of six digits, and the device's own.
std::vector<float> EdgeValues() {
  using limits = std::numeric_limits<float>;
  std::vector<float> values = {0.0f,
                               -0.0f,
                               limits::denorm_min(),
                               FromBits(0x007FFFFF),
                               limits::min(),
                               limits::max(),
                               limits::infinity(),
                               -limits::infinity(),
                               FromBits(0x7FC00000),
                               FromBits(0xFFC00000),
                               FromBits(0x7F800001),
                               1000000.125f,
                               1234565.0f,
                               0.5f,
                               57.0f,
                               53.2f,
                               53.6f,
                               48.25f,
                               999999.94f,
                               9999999.0f,
                               16777216.0f,
                               0.0001f,
                               0.00009999999f};
  for (int power = -45; power <= 38; ++power) {
    // The float nearest 10^power (strtof rounds subnormals, where stof throws).
    const float ten = std::strtof(("1e" + std::to_string(power)).c_str(), nullptr);
    for (const float value :
         {ten, -ten, std::nextafter(ten, 0.0f), std::nextafter(ten, limits::infinity())}) {
      values.push_back(value);
    }
  }
  for (uint32_t bits = 0; bits < 64; ++bits) values.push_back(FromBits(bits));
  return values;
}

std::vector<float> Samples() {
  std::vector<float> values = EdgeValues();
  std::mt19937 random(20260105);
  for (int i = 0; i < 1000000; ++i) values.push_back(FromBits(static_cast<uint32_t>(random())));
  return values;
}

std::string StreamText(float value) {
  std::ostringstream stream;
  stream << value;
  return stream.str();
}

// Sets the C and C++ numeric locales for one test; the "C" locale again after.
class Locale {
 public:
  explicit Locale(const char* name) {
    ok_ = std::setlocale(LC_ALL, name) != nullptr;
    if (ok_) std::locale::global(std::locale(name));
  }
  ~Locale() {
    std::setlocale(LC_ALL, "C");
    std::locale::global(std::locale::classic());
  }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

void ExpectSameTexts(const std::vector<float>& values) {
  int failures = 0;
  std::ostringstream cout_like;
  for (const float value : values) {
    char text[aikorvane::kFloatTextCapacity];
    const std::size_t length = aikorvane::FloatText(value, text);
    const std::string cast = boost::lexical_cast<std::string>(value);
    std::string appended = "x";
    aikorvane::AppendStreamFloat(appended, value);
    cout_like.str(std::string());
    aikorvane::WriteFloat(cout_like, value);
    const std::string stream = StreamText(value);
    if (std::string(text, length) != cast || appended != "x" + stream ||
        cout_like.str() != stream) {
      uint32_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      ADD_FAILURE() << "bits 0x" << std::hex << bits << ": cast \"" << cast << "\" new \""
                    << std::string(text, length) << "\"; stream \"" << stream << "\" new \""
                    << appended.substr(1) << "\" / \"" << cout_like.str() << "\"";
      if (++failures == 10) return;
    }
  }
}

TEST(FloatText, SameAsTheCastAndTheStreamInTheCLocale) {
  Locale locale("C");
  ASSERT_TRUE(locale.ok());
  ExpectSameTexts(Samples());
}

TEST(FloatText, SameAsTheCastAndTheStreamWhereTheDecimalPointIsAComma) {
  Locale locale("de_DE.UTF-8");
  if (!locale.ok()) GTEST_SKIP() << "locale de_DE.UTF-8 missing (scripts/deps.sh makes it)";
  std::vector<float> values = EdgeValues();
  values.resize(values.size() + 1000, 1234.5f);
  ExpectSameTexts(values);
  char text[aikorvane::kFloatTextCapacity];
  aikorvane::FloatText(53.2f, text);
  EXPECT_STREQ(text, "53,2000008");
  EXPECT_EQ(StreamText(2026.5f), "2.026,5");
}

TEST(FloatText, MemoFollowsTheDecimalPoint) {
  aikorvane::FloatTextMemo memo;
  std::string text;
  memo.Refresh();
  memo.Assign(text, 53.2f);
  EXPECT_EQ(text, "53.2000008");
  memo.Append(text, -0.0f);
  EXPECT_EQ(text, "53.2000008-0");
  Locale locale("de_DE.UTF-8");
  if (!locale.ok()) GTEST_SKIP() << "locale de_DE.UTF-8 missing (scripts/deps.sh makes it)";
  memo.Refresh();
  memo.Assign(text, 53.2f);
  EXPECT_EQ(text, "53,2000008");
}

}  // namespace
