// The backtest's report: delays worked out round by round, the fleet's delay
// figures from the sites alone, and the Markdown of a change request.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "sim/backtest/document.h"
#include "sim/backtest/markdown.h"
#include "sim/backtest/tally.h"
#include "sim/report/analysis.h"
#include "sim/report/text.h"
#include "support/test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing_support::ParseJson;

// One alarm over rounds a minute apart from 100: each side's condition as a
// string, '1' where it held.
std::vector<sim::cli::Change> ChangesOf(const std::string& b, const std::string& c) {
  sim::cli::Analyser baseline, candidate;
  sim::cli::RoundMarker b_marker, c_marker;
  sim::cli::RoundComparer comparer;
  for (size_t i = 0; i < b.size(); ++i) {
    const std::time_t time = 100 + 60 * static_cast<std::time_t>(i);
    const int round = static_cast<int>(i) + 1;
    for (auto* marker : {&b_marker, &c_marker}) marker->RoundBegun({round, time, true, {}});
    baseline.BeginRound(round, time, true);
    candidate.BeginRound(round, time, true);
    const sim::cli::AlarmCall b_call{"A", "low", b[i] == '1'}, c_call{"A", "low", c[i] == '1'};
    baseline.AlarmChecked(b_call);
    candidate.AlarmChecked(c_call);
    b_marker.AlarmChecked(b_call);
    c_marker.AlarmChecked(c_call);
    comparer.Compare(time, b_marker.Marks(), c_marker.Marks());
  }
  return sim::cli::Changes(baseline.Result(), candidate.Result(), comparer);
}

TEST(Changes, FirstRaiseAndDelay) {
  const struct {
    const char *b, *c;
    const char* kind;  // nullptr: no change
    bool both;         // both sides raise it: a delay
    long long delay;
  } cases[] = {
      // Raised a round later: only the first raise moved.
      {"0110", "0011", "alarm_delay", true, 60},
      // Raised earlier by the candidate: a negative delay.
      {"0011", "0110", "alarm_delay", true, -60},
      // The second raise in the same round on both sides.
      {"01101", "00101", "alarm_delay", true, 60},
      // As many raises, the second one elsewhere as well: other times.
      {"011010", "001001", "alarm_times", true, 60},
      // Same first raise, a later one elsewhere: other times, no delay.
      {"01010", "01001", "alarm_times", true, 0},
      // Counts differ; the first raise is still compared.
      {"01010", "00100", "alarm_raises", true, 60},
      {"0100", "0000", "alarm_only_baseline", false, 0},
      {"0000", "0010", "alarm_only_candidate", false, 0},
      // Held longer, raised in the same rounds: no change.
      {"0110", "0111", nullptr, false, 0},
  };
  for (const auto& c : cases) {
    const auto changes = ChangesOf(c.b, c.c);
    if (c.kind == nullptr) {
      EXPECT_TRUE(changes.empty()) << c.b << " " << c.c;
      continue;
    }
    ASSERT_EQ(changes.size(), 1u) << c.b << " " << c.c;
    EXPECT_EQ(changes[0].kind, c.kind) << c.b << " " << c.c;
    if (!c.both) {
      EXPECT_FALSE(changes[0].baseline_first || changes[0].candidate_first) << c.b << " " << c.c;
    } else {
      ASSERT_TRUE(changes[0].baseline_first && changes[0].candidate_first) << c.b << " " << c.c;
      EXPECT_EQ(*changes[0].candidate_first - *changes[0].baseline_first, c.delay)
          << c.b << " " << c.c;
    }
  }
}

// A site's result with an alarm_delay change per (alarm, delay), each alarm
// raised once on either side.
Json::Value SiteWithDelays(const std::string& name,
                           const std::vector<std::pair<std::string, long long>>& delays) {
  Json::Value site = ParseJson(R"({"rounds": 10, "baseline": {"alarms": {}},
                                   "candidate": {"alarms": {}}, "changes": []})");
  site["site"] = name;
  for (const auto& [alarm, delay] : delays) {
    Json::Value change = ParseJson(R"({"kind": "alarm_delay", "baseline": 1, "candidate": 1})");
    change["alarm"] = alarm;
    change["delay_seconds"] = static_cast<Json::Int64>(delay);
    site["changes"].append(change);
    for (const char* side : {"baseline", "candidate"}) {
      site[side]["alarms"][alarm] = ParseJson(R"({"name": "low", "raised": 1})");
    }
  }
  return site;
}

// Only later raises count as delayed; the median is of the sites' own delays,
// halfway between the middle two of an even count.
TEST(DelaySummary, SitesLargestAndMedian) {
  std::vector<Json::Value> sites = {
      SiteWithDelays("a", {{"A", 10}, {"B", 7}}), SiteWithDelays("b", {{"A", 40}}),
      SiteWithDelays("c", {{"A", -300}}), SiteWithDelays("d", {{"A", 20}, {"B", 0}}),
      SiteWithDelays("e", {{"A", 31}})};
  // A failed site's figures stay out of the fleet's.
  sites.push_back(SiteWithDelays("f", {{"A", 5000}}));
  sites.back()["error"] = "history/a.csv:3: bad time";
  Json::Value document;
  std::string error;
  ASSERT_TRUE(sim::cli::MakeDocument(sites, document, error)) << error;
  const Json::Value& delayed = document["summary"]["alarms_delayed"];
  EXPECT_EQ(delayed["A"]["delayed"], ParseJson(R"({"sites": 4, "largest_seconds": 40,
                                                   "median_seconds": 25.5})"));
  EXPECT_EQ(delayed["A"]["name"], "low");
  EXPECT_EQ(delayed["B"]["delayed"], ParseJson(R"({"sites": 1, "largest_seconds": 7,
                                                   "median_seconds": 7})"));
  sites.erase(sites.begin() + 4);  // without e: 10, 20, 40
  ASSERT_TRUE(sim::cli::MakeDocument(sites, document, error)) << error;
  EXPECT_EQ(document["summary"]["alarms_delayed"]["A"]["delayed"]["median_seconds"], 20);
  EXPECT_THAT(sim::cli::FormatText(document),
              HasSubstr("raised later at 3 sites, by up to +40s, median +20s"));
}

// The text of a first raise: the date once when both fall on one day, the
// delay signed either way.
TEST(DelayText, DateOnceAndSign) {
  const struct {
    const char *baseline, *candidate;
    long long delay;
    const char* text;
  } cases[] = {
      {"2026-03-27T16:01:43+01:00", "2026-03-27T16:35:57+01:00", 2054,
       "first raised 2026-03-27 16:01:43 -> 16:35:57 (+34m14s)"},
      {"2026-03-27T23:59:00+00:00", "2026-03-28T00:01:00+00:00", 120,
       "first raised 2026-03-27 23:59:00 -> 2026-03-28 00:01:00 (+2m0s)"},
      {"2026-03-27T10:00:05+00:00", "2026-03-27T10:00:00+00:00", -5,
       "first raised 2026-03-27 10:00:05 -> 10:00:00 (-5s)"},
      {"2026-03-01T10:00:00+00:00", "2026-03-27T10:00:00+00:00", 26 * 86400,
       "first raised 2026-03-01 10:00:00 -> 2026-03-27 10:00:00 (+26d0h0m0s)"},
  };
  for (const auto& c : cases) {
    Json::Value site = SiteWithDelays("s", {{"A", c.delay}});
    site["changes"][0]["first_raised"]["baseline"] = c.baseline;
    site["changes"][0]["first_raised"]["candidate"] = c.candidate;
    Json::Value document;
    std::string error;
    ASSERT_TRUE(sim::cli::MakeDocument({site}, document, error)) << error;
    EXPECT_THAT(sim::cli::FormatText(document), HasSubstr(std::string("raised 1 -> 1, ") + c.text))
        << c.text;
  }
}

TEST(Markdown, EscapedOnOneLine) {
  const struct {
    std::string text, escaped;
  } cases[] = {
      {"north-2 (2026-11-02)", "north-2 (2026-11-02)"},
      {"a|b", "a\\|b"},
      {"*bold* _it_ `code`", "\\*bold\\* \\_it\\_ \\`code\\`"},
      {"[link](x) <b> &amp; ~x~", "\\[link\\](x) \\<b\\> \\&amp; \\~x\\~"},
      {"back\\slash", "back\\\\slash"},
      {"two\nlines\r\tend", "two lines  end"},
      {"caf\xE9", "caf\xEF\xBF\xBD"},
      {"电压过低", "电压过低"},
  };
  for (const auto& c : cases) EXPECT_EQ(sim::cli::MarkdownEscaped(c.text), c.escaped) << c.text;
}

TEST(Markdown, NamesThatAreNoUtf8SaidSo) {
  Json::Value document;
  std::string error;
  ASSERT_TRUE(sim::cli::MakeDocument({SiteWithDelays("caf\xE9", {{"A", 60}})}, document, error));
  std::string markdown = sim::cli::FormatMarkdown(document);
  EXPECT_TRUE(sim::cli::IsValidUtf8(markdown));
  EXPECT_THAT(markdown, HasSubstr("| caf\xEF\xBF\xBD | 10 |"));
  EXPECT_THAT(markdown, HasSubstr("Note: bytes that are no UTF-8 are shown as U+FFFD.\n"));
  ASSERT_TRUE(sim::cli::MakeDocument({SiteWithDelays("cafe", {{"A", 60}})}, document, error));
  EXPECT_THAT(sim::cli::FormatMarkdown(document), Not(HasSubstr("Note:")));
}

// The sites that change most first, at most kMarkdownSites rows, then the
// count of the rest; unchanged sites are no row.
TEST(Markdown, ChangedSitesByChangeAtMostFifty) {
  std::vector<Json::Value> sites;
  for (int i = 0; i < 53; ++i) {
    Json::Value site = SiteWithDelays("site" + std::to_string(100 + i), {{"A", 60}});
    site["changes"][0]["candidate"] = i % 7;
    sites.push_back(site);
  }
  sites.push_back(SiteWithDelays("quiet", {}));
  Json::Value document;
  std::string error;
  ASSERT_TRUE(sim::cli::MakeDocument(sites, document, error)) << error;
  const std::string markdown = sim::cli::FormatMarkdown(document);
  size_t rows = 0;
  for (size_t at = markdown.find("\n| site1"); at != std::string::npos;
       at = markdown.find("\n| site1", at + 1)) {
    ++rows;
  }
  EXPECT_EQ(rows, sim::cli::kMarkdownSites);
  EXPECT_THAT(markdown, HasSubstr("\nand 3 more sites with changes.\n"));
  EXPECT_THAT(markdown, Not(HasSubstr("| quiet")));
  // Candidate 6 differs most from the baseline's 1, and site106 is the first such;
  // the three left out are the last by name of those that differ least.
  EXPECT_THAT(markdown, HasSubstr("|---|--:|---|\n| site106 |"));
  EXPECT_LT(markdown.find("| site106 |"), markdown.find("| site100 |"));
  EXPECT_THAT(markdown, HasSubstr("| site129 |"));
  for (const char* left_out : {"| site136 |", "| site143 |", "| site150 |"}) {
    EXPECT_THAT(markdown, Not(HasSubstr(left_out)));
  }
}

}  // namespace
