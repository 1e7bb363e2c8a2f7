// The walk over settings text that check's JSON findings come from: which
// numbers and bytes strict JSON refuses, and where each departure stands.

#include "sim/check/findings/json_scan.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/check/findings/json_forms.h"

namespace sim::cli::findings {
namespace {

TEST(JsonForms, NumbersStrictJsonTakes) {
  const struct {
    const char* token;
    bool strict;
  } cases[] = {
      {"0", true},     {"-0", true},      {"10", true},   {"-0.5", true},  {"1e5", true},
      {"1E+05", true}, {"0.25e-1", true}, {"-", false},   {"+1", false},   {"+0", false},
      {"01", false},   {"-01", false},    {"00", false},  {"01.5", false}, {"2.", false},
      {"0.", false},   {"1.e5", false},   {"-.5", false}, {"+.5", false},  {"1e", false},
      {"1e+", false},  {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(StrictNumber(c.token), c.strict) << c.token;
}

// The reader's number ends where its grammar does, whatever follows.
TEST(JsonForms, NumberEndsWhereTheReaderStops) {
  const struct {
    const char* text;
    std::size_t end;
  } cases[] = {
      {"12,", 2}, {"-,", 1}, {"+.5]", 3}, {"1.5e-3}", 6}, {"1e5e5", 3}, {"12abc", 2}, {"1..2", 2},
  };
  for (const auto& c : cases) EXPECT_EQ(NumberEnd(c.text, 0), c.end) << c.text;
}

TEST(JsonForms, FirstByteThatIsNoUtf8) {
  const std::size_t none = std::string::npos;
  const struct {
    std::string bytes;
    std::size_t bad;
  } cases[] = {
      {"plain", none},
      {"\xE7\x94\xB5\xE5\x8E\x8B", none},  // 电压
      {"\xC2\x80", none},                  // U+0080
      {"\xED\x9F\xBF", none},              // U+D7FF
      {"\xEE\x80\x80", none},              // U+E000
      {"\xF0\x90\x80\x80", none},          // U+10000
      {"\xF4\x8F\xBF\xBF", none},          // U+10FFFF
      {"ab\xB5\xE7\xD1\xB9", 2},           // 电压 in GBK
      {"\xC0\xAF", 0},                     // overlong "/"
      {"\xC1\xBF", 0},
      {"\xE0\x9F\xBF", 0},      // overlong below U+0800
      {"\xF0\x8F\xBF\xBF", 0},  // overlong below U+10000
      {"x\xED\xA0\x80", 1},     // U+D800 encoded
      {"\xF4\x90\x80\x80", 0},  // past U+10FFFF
      {"\xF5\x80\x80\x80", 0},
      {"\xE7\x94", 0},  // cut short
      {"\xE7\x94x", 0},
      {"\x80", 0},
      {"\xFF", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FirstBadUtf8(c.bytes, 0, c.bytes.size()), c.bad) << testing::PrintToString(c.bytes);
  }
}

std::string Shown(const Scan& scan) {
  static const char* const kForms[] = {"after", "number", "control", "surrogate", "utf8"};
  std::string shown;
  for (const Irregular& irregular : scan.irregulars) {
    if (!shown.empty()) shown += "; ";
    shown += std::string(kForms[static_cast<int>(irregular.form)]) + "@" +
             std::to_string(irregular.offset);
    for (const std::string& part : irregular.path) shown += "/" + part;
    if (!irregular.text.empty()) shown += " " + irregular.text;
  }
  return shown;
}

// Each departure once where it stands, with the member it stands in; what
// strict JSON takes stays unsaid.
TEST(JsonScan, DeparturesFromStrictJsonWhereTheyStand) {
  const struct {
    std::string text;
    const char* expected;
  } cases[] = {
      {R"({"a": [0, -0.5, 1e5, "+1", "01"]})", ""},
      {R"({"a": +1, "b": [2., -]})", "number@6/a +1; number@16/b/0 2.; number@20/b/1 -"},
      {"{\"a\": 1}\n{\"b\": 2}", "after@9"},
      {"[1] // end\n /* more */ \n", ""},
      {"[1] // end\nx", "after@11"},
      {"12abc", "after@2"},
      {"\"x\"y", "after@3"},
      {"{\"a\": \"\t\t\", \"b\": \"\\t\\n\"}", "control@7/a \t"},
      {"{\"k\tey\": 1}", "control@3/k\tey \t"},
      {R"({"a": "\uD83D\uDD0B", "b": "\u00e9"})", ""},
      {R"({"a": "x\uDC00"})", "surrogate@8/a \\uDC00"},
      {R"({"a": "\uD800\u0041"})", "surrogate@7/a \\uD800\\u0041"},
      {R"({"\uDFFF": 1})", "surrogate@2/\xED\xBF\xBF \\uDFFF"},
      {"{\"a\": \"ok\xB5\xE7\", \"b\": \"\xE7\x94\xB5\"}", "utf8@9/a"},
      // The reader's offsets leave out a byte order mark; these do not.
      {"\xEF\xBB\xBF{\"a\": +1}", "number@9/a +1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Shown(ScanText(c.text)), c.expected) << c.text;
}

TEST(JsonScan, ByteOrderMarkHidesNoDuplicate) {
  const Scan scan = ScanText("\xEF\xBB\xBF{\"a\": 1, \"a\": 2} // x");
  ASSERT_EQ(scan.duplicates.size(), 1u);
  EXPECT_EQ(scan.duplicates[0].object_start, 3u);
  EXPECT_EQ(scan.duplicates[0].offsets, (std::vector<std::size_t>{4, 12}));
  EXPECT_EQ(scan.comments, 1u);
  EXPECT_EQ(scan.first_lenient, 20u);
}

}  // namespace
}  // namespace sim::cli::findings
