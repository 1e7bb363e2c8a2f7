// The text unit every writer of the simulator's outputs goes through: bytes
// that are no UTF-8 never reach a JSON, XML, SVG or HTML output.

#include "sim/report/text.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <iterator>
#include <memory>
#include <string>

namespace {

using sim::cli::HoldsValidUtf8;
using sim::cli::IsValidUtf8;
using sim::cli::JsonText;
using sim::cli::RepairUtf8;
using sim::cli::ValidUtf8;
using sim::cli::XmlEscaped;

#define U_FFFD "\xEF\xBF\xBD"

// The expected texts are what Python's bytes.decode("utf-8", "replace")
// gives, which strict readers downstream agree with.
TEST(SimText, ValidUtf8KeepsSequencesAndReplacesEachBadStretchOnce) {
  struct Case {
    const char* what;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"ASCII", "abc", "abc"},
      {"NUL kept", std::string("a\0b", 3), std::string("a\0b", 3)},
      {"CJK", "\xE8\x93\x84\xE7\x94\xB5\xE6\xB1\xA0", "\xE8\x93\x84\xE7\x94\xB5\xE6\xB1\xA0"},
      {"four bytes", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"highest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"last before surrogates", "\xED\x9F\xBF", "\xED\x9F\xBF"},
      {"Latin-1 e acute", "caf\xE9!", "caf" U_FFFD "!"},
      {"three bytes cut at the end", "\xE4\xB8", U_FFFD},
      {"three bytes cut before ASCII",
       "\xE4\xB8"
       "a",
       U_FFFD "a"},
      {"cut then whole", "\xE4\xB8\xE4\xB8\xAD", U_FFFD "\xE4\xB8\xAD"},
      {"four bytes cut", "\xF0\x9F\x98", U_FFFD},
      {"two-byte lead at the end", "\xC2", U_FFFD},
      {"overlong two bytes", "\xC0\xAF", U_FFFD U_FFFD},
      {"overlong three bytes", "\xE0\x80\xAF", U_FFFD U_FFFD U_FFFD},
      {"overlong four bytes", "\xF0\x8F\xBF\xBF", U_FFFD U_FFFD U_FFFD U_FFFD},
      {"surrogate", "\xED\xA0\x80", U_FFFD U_FFFD U_FFFD},
      {"above U+10FFFF", "\xF4\x90\x80\x80", U_FFFD U_FFFD U_FFFD U_FFFD},
      {"lead beyond F4", "\xF5\x80", U_FFFD U_FFFD},
      {"0xFF", "\xFF", U_FFFD},
      {"0xFE 0xFF", "\xFE\xFF", U_FFFD U_FFFD},
      {"lone continuation", "\x80", U_FFFD},
      {"replacement itself kept", U_FFFD, U_FFFD},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ValidUtf8(c.in), c.out) << c.what;
    EXPECT_EQ(IsValidUtf8(c.in), c.in == c.out) << c.what;
    EXPECT_TRUE(IsValidUtf8(ValidUtf8(c.in))) << c.what;
  }
}

TEST(SimText, XmlEscapedLeavesNothingXmlRefuses) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"a<b & \"c\">", "a&lt;b &amp; &quot;c&quot;&gt;"},
      {"tab\tline\ncr\r", "tab\tline\ncr\r"},
      {"bell\x07 esc\x1B", "bell? esc?"},
      {"caf\xE9", "caf" U_FFFD},
      {"\xEF\xBF\xBE and \xEF\xBF\xBF", "? and ?"},
      {"\xE8\x93\x84<", "\xE8\x93\x84&lt;"},
      {"\xED\xA0\x80", U_FFFD U_FFFD U_FFFD},
  };
  for (const auto& c : cases) EXPECT_EQ(XmlEscaped(c.in), c.out) << c.in;
}

TEST(SimText, JsonTextRepairsEveryStringAndMemberNameAndCounts) {
  Json::Value value(Json::objectValue);
  value["caf\xE9"] = Json::Value(Json::arrayValue);
  value["caf\xE9"].append("fine \xE8\x93\x84");
  value["caf\xE9"].append("\xFF");
  value["caf\xE9"].append(Json::Value(Json::objectValue));
  value["caf\xE9"][2]["k"] = "\xC0";
  value["n"] = 1;
  EXPECT_FALSE(HoldsValidUtf8(value));
  Json::Value name_only(Json::objectValue);
  name_only["ok"]["\xE9"] = 1;  // a bad member name deep down, and nothing else
  EXPECT_FALSE(HoldsValidUtf8(name_only));
  EXPECT_EQ(RepairUtf8(name_only), 1u);
  EXPECT_TRUE(name_only["ok"].isMember(U_FFFD));
  std::size_t repaired = 0;
  const std::string text = JsonText(value, "", &repaired);
  EXPECT_EQ(repaired, 3u);
  EXPECT_TRUE(IsValidUtf8(text)) << text;
  EXPECT_EQ(text, "{\"caf" U_FFFD "\":[\"fine \xE8\x93\x84\",\"" U_FFFD "\",{\"k\":\"" U_FFFD
                  "\"}],\"n\":1}");

  // Text that is valid comes out as the library writes it, and counts none.
  Json::Value clean(Json::objectValue);
  clean["\xE7\x94\xB5"] = "\xE6\xB1\xA0";
  EXPECT_EQ(JsonText(clean, "", &repaired), "{\"\xE7\x94\xB5\":\"\xE6\xB1\xA0\"}");
  EXPECT_EQ(repaired, 0u);
  EXPECT_TRUE(HoldsValidUtf8(clean));
  Json::Value copy = clean;
  EXPECT_EQ(RepairUtf8(copy), 0u);
  EXPECT_EQ(copy, clean);

  // A string holding a NUL keeps it, and is read back whole.
  Json::Value nul(std::string("a\0\xE9", 3));
  const std::string written = JsonText(nul, "");
  Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value back;
  ASSERT_TRUE(reader->parse(written.data(), written.data() + written.size(), &back, nullptr));
  EXPECT_EQ(back.asString(), std::string("a\0" U_FFFD, 5));
}

}  // namespace
