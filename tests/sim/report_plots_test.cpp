// The backtest's plots and page where faults hide: the zoom window's bounds,
// raises told apart in it, every report marker and lane with its tooltip,
// and the page's delays, time raised and flapping read from the document.

#include <gtest/gtest.h>
#include <json/value.h>

#include <algorithm>
#include <ctime>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "sim/backtest/html_report.h"
#include "sim/report/analysis.h"
#include "sim/report/plot.h"

namespace {

using namespace sim::cli;

constexpr std::time_t kStart = 1774627200;  // a Friday, midnight UTC

// Rounds of every `step` seconds from kStart; centred at `centre` seconds in
// unless negative.
ZoomWindow Window(int rounds, int per_second, long long centre) {
  ZoomWindow zoom;
  for (int i = 0; i < rounds; ++i) {
    const std::time_t time = kStart + i / per_second;
    zoom.Add(RoundAt{i + 1, time}, 48.0);
    if (centre >= 0 && i == centre * per_second) zoom.Centre(time);
  }
  return zoom;
}

TEST(SimZoom, KeepsAnHourEitherSideOfTheCentreAndNoMoreThanItsBound) {
  struct Case {
    const char* what;
    int rounds, per_second;
    long long centre;
    long long first, last;  // seconds after kStart; -1: empty
    size_t points;
  };
  const Case cases[] = {
      {"1-second rows, centre well inside", 20000, 1, 10000, 6401, 13600, 7200},
      {"centre near the start", 20000, 1, 100, 0, 3700, 3701},
      {"history ends before the hour after", 10500, 1, 10000, 6401, 10499, 4099},
      // Twice a second the bound is reached first: half of it either side.
      {"half-second rows", 40000, 2, 10000, 8200, 11800, 7200},
      {"never centred: the last hour only", 20000, 1, -1, 16400, 19999, 3600},
  };
  for (const Case& c : cases) {
    const ZoomWindow zoom = Window(c.rounds, c.per_second, c.centre);
    ASSERT_EQ(zoom.Points().size(), c.points) << c.what;
    EXPECT_LE(zoom.Points().size(), ZoomWindow::kMaxRounds) << c.what;
    EXPECT_EQ(zoom.Points().front().at.time - kStart, c.first) << c.what;
    EXPECT_EQ(zoom.Points().back().at.time - kStart, c.last) << c.what;
    EXPECT_EQ(zoom.CentreTime().has_value(), c.centre >= 0) << c.what;
  }
  ZoomWindow twice = Window(100, 1, 10);
  twice.Centre(kStart + 50);
  EXPECT_EQ(*twice.CentreTime(), kStart + 10) << "only the first centre counts";
}

// A side's run: 1-second rounds at 48 V, the alarm raised for the rounds in
// `raised`, a discharge report at each round of `reports`.
struct SideRun {
  int rounds = 0;
  std::vector<std::pair<int, int>> raised;  // [from, to) in rounds
  std::vector<int> reports;
  std::vector<int> no_voltage;  // rounds with no record: reports there have no voltage
  long long centre = -1;
};

Analysis Replay(const SideRun& run) {
  Analyser analyser;
  size_t next = 0;
  for (int i = 1; i <= run.rounds; ++i) {
    const std::time_t time = kStart + i;
    analyser.BeginRound(i, time, true);
    if (std::find(run.no_voltage.begin(), run.no_voltage.end(), i) == run.no_voltage.end()) {
      AIKorvane_Data_t record{};
      record.voltage = 48.0 - i % 5 * 0.1;
      analyser.RecordSent(record);
    }
    bool raised = false;
    for (const auto& [from, to] : run.raised) raised = raised || (i >= from && i < to);
    analyser.AlarmChecked(AlarmCall{"110610050010", "001#48V蓄电池电压过低", raised});
    if (next < run.reports.size() && run.reports[next] == i) {
      Json::Value request;
      request["path"] = "/report";
      request["body"] = std::string("Play=") + (next % 2 ? "0" : "1") + "&His_DCV=4" +
                        std::to_string(next) + ".5";
      analyser.DischargeReported(request);
      ++next;
    }
    if (i == run.centre) analyser.CentreZoom(time);
    analyser.RoundEnded();
  }
  return analyser.Result();
}

std::vector<std::string> Titles(const std::string& svg, const std::string& element_class) {
  const std::regex marker("class=\"" + element_class + "\"[^>]*><title>([^<]*)</title>");
  std::vector<std::string> titles;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), marker); it != std::sregex_iterator();
       ++it) {
    titles.push_back((*it)[1]);
  }
  return titles;
}

// Flapping: raised 3 s of every 10 s for two hours from round 20000, on a
// week of 1-second rounds.
std::vector<std::pair<int, int>> Flapping(int from, int count) {
  std::vector<std::pair<int, int>> raises;
  for (int i = 0; i < count; ++i) raises.emplace_back(from + 10 * i, from + 10 * i + 3);
  return raises;
}

TEST(SimZoom, SingleRaisesInTheWindowAreSeparateLaneSegments) {
  SideRun baseline{7 * 86400, Flapping(20000, 720), {}, {}, 21000};
  baseline.raised.insert(baseline.raised.begin(), {15000, 17500});  // open when the window opens
  SideRun candidate = baseline;
  candidate.raised = {{21000, 21300}};
  const Analysis base = Replay(baseline), cand = Replay(candidate);

  const std::string zoom = RenderZoomSvg(base, cand, {});
  const std::vector<std::string> lanes = Titles(zoom, "alarm");
  int baseline_lanes = 0, candidate_lanes = 0;
  for (const std::string& title : lanes) {
    baseline_lanes += title.rfind("baseline: ", 0) == 0;
    candidate_lanes += title.rfind("candidate: ", 0) == 0;
  }
  // The window runs from round 17401 to 24600: the raise open at its start,
  // then each of the 461 raises that start from 20000 up to 24600, the last
  // still raised when the window ends.
  EXPECT_EQ(baseline_lanes, 1 + 461);
  EXPECT_EQ(candidate_lanes, 1);
  EXPECT_NE(std::find(lanes.begin(), lanes.end(),
                      "baseline: 110610050010 raised " + LocalTimeText(kStart + 20010) + " to " +
                          LocalTimeText(kStart + 20013)),
            lanes.end());
  EXPECT_NE(std::find(lanes.begin(), lanes.end(),
                      "baseline: 110610050010 raised " + LocalTimeText(kStart + 17401) + " to " +
                          LocalTimeText(kStart + 17500)),
            lanes.end())
      << "the raise open when the window opens starts at its first round";

  // The whole week joins raises closer than a column: fewer shapes than raises,
  // each naming how many it holds.
  const std::string whole = RenderComparisonSvg(base, cand, {});
  const std::vector<std::string> week = Titles(whole, "alarm");
  EXPECT_LT(week.size(), 100u);
  EXPECT_NE(whole.find(" raises)</title>"), std::string::npos);

  EXPECT_EQ(RenderZoomSvg(Replay(SideRun{600, {{10, 20}}, {}, {}, -1}), cand, {}), "")
      << "no difference, no zoom";
}

TEST(SimPlot, EveryReportOfEachSideHasAMarkerNamingSideTimePlayAndVoltage) {
  // The candidate's third report falls in a round without a voltage: it is
  // drawn all the same.
  const SideRun baseline{4000, {}, {100, 900, 1800, 2500}, {}, 1800};
  const SideRun candidate{4000, {}, {100, 950, 2200}, {2200}, -1};
  const Analysis base = Replay(baseline), cand = Replay(candidate);
  struct Plot {
    const char* what;
    std::string svg;
  };
  for (const Plot& plot : {Plot{"whole", RenderComparisonSvg(base, cand, {})},
                           Plot{"zoom", RenderZoomSvg(base, cand, {})}}) {
    for (const auto& [side, run] : {std::pair{std::string("baseline"), &baseline},
                                    std::pair{std::string("candidate"), &candidate}}) {
      const std::vector<std::string> titles = Titles(plot.svg, "report " + side);
      ASSERT_EQ(titles.size(), run->reports.size()) << plot.what << " " << side;
      for (size_t i = 0; i < titles.size(); ++i) {
        const std::string expected = side + ": " + LocalTimeText(kStart + run->reports[i]) +
                                     " Play=" + (i % 2 ? "0" : "1") + " His_DCV=4" +
                                     std::to_string(i) + ".5";
        EXPECT_EQ(titles[i], expected) << plot.what;
      }
    }
  }
}

// A document as the backtest writes it, with a delayed alarm, one only the
// candidate raises, and a change that is no alarm's.
Json::Value Document() {
  Json::Value site;
  site["site"] = "north";
  site["rounds"] = 86400;
  const char* kId = "110610050010";
  Json::Value& baseline = site["baseline"]["alarms"][kId];
  baseline["name"] = "001#48V蓄电池电压过低";
  baseline["raised"] = 3;
  baseline["seconds_raised"] = 3725;
  baseline["flapping"] = 2;
  Json::Value& candidate = site["candidate"]["alarms"][kId];
  candidate = baseline;
  candidate["raised"] = 1;
  candidate["seconds_raised"] = 600;
  candidate["flapping"] = 0;
  Json::Value& only = site["candidate"]["alarms"]["110610060010"];
  only["name"] = "001#48V蓄电池电压超低";
  only["raised"] = 1;
  only["seconds_raised"] = 59;
  only["flapping"] = 0;
  Json::Value delay;
  delay["kind"] = "alarm_delay";
  delay["alarm"] = kId;
  delay["name"] = baseline["name"];
  delay["baseline"] = 3;
  delay["candidate"] = 1;
  delay["first_raised"]["baseline"] = "2026-03-27T16:01:43+00:00";
  delay["first_raised"]["candidate"] = "2026-03-27T16:35:57+00:00";
  delay["delay_seconds"] = 2054;
  delay["first_differences"].append("2026-03-27T16:01:43+00:00");
  site["changes"].append(delay);
  Json::Value midnight = delay;  // first raised on either side of midnight
  midnight["alarm"] = "110410050010";
  midnight["first_raised"]["baseline"] = "2026-03-27T23:59:00+00:00";
  midnight["first_raised"]["candidate"] = "2026-03-28T00:04:00+00:00";
  midnight["delay_seconds"] = 300;
  site["changes"].append(midnight);
  Json::Value reports;
  reports["kind"] = "discharge_reports";
  reports["baseline"] = 6;
  reports["candidate"] = 5;
  reports["first_differences"].append("2026-03-27T11:34:00+00:00");
  site["changes"].append(reports);
  Json::Value finding;
  finding["severity"] = "warning";
  finding["code"] = "threshold_order";
  finding["place"] = "hostSetting";
  finding["message"] = "the low alarm lies under the very low one";
  site["check"]["findings"].append(finding);
  Json::Value document;
  document["sites"].append(site);
  Json::Value& summary = document["summary"];
  summary["sites"] = 1;
  summary["sites_changed"] = 1;
  summary["sites_failed"] = 0;
  summary["rounds"] = 86400;
  summary["alarms_raised"][kId]["name"] = baseline["name"];
  summary["alarms_raised"][kId]["baseline"] = 3;
  summary["alarms_raised"][kId]["candidate"] = 1;
  summary["alarms_raised"]["110610060010"]["name"] = only["name"];
  summary["alarms_raised"]["110610060010"]["baseline"] = 0;
  summary["alarms_raised"]["110610060010"]["candidate"] = 1;
  summary["alarms_delayed"][kId]["delayed"]["sites"] = 1;
  summary["alarms_delayed"][kId]["delayed"]["largest_seconds"] = 2054;
  summary["alarms_delayed"][kId]["delayed"]["median_seconds"] = -75;
  return document;
}

TEST(SimHtmlReport, ShowsDelaysTimeRaisedFlappingFindingsAndBothPlots) {
  const std::string page =
      HtmlReport(Document(), {{"north", "<svg id=\"whole\"></svg>\n<svg id=\"zoom\"></svg>\n"}});
  const std::string expected[] = {
      // The fleet: sites delayed, largest and median delay; the alarm no
      // site delays has empty cells.
      "<td class=\"n\">1</td><td class=\"n\">+34m14s</td><td class=\"n\">-1m15s</td>",
      "<td class=\"n more\">1</td><td></td><td></td><td></td></tr>",
      // The change: first raised per side and the delay; none for the reports.
      "<td>2026-03-27T16:01:43+00:00 \u2192 16:35:57+00:00</td><td "
      "class=\"n\">+34m14s</td>",
      "<td>2026-03-27T23:59:00+00:00 \u2192 2026-03-28T00:04:00+00:00</td><td "
      "class=\"n\">+5m0s</td>",
      "<td class=\"n less\">5</td><td></td><td class=\"n\"></td>",
      // Raises, time raised and flapping of each side; nothing of a side that
      // never raised it.
      "<td>110610050010 001#48V蓄电池电压过低</td><td class=\"n\">3</td><td class=\"n "
      "less\">1</td><td class=\"n\">1h2m5s</td><td class=\"n\">10m0s</td><td "
      "class=\"n\">2</td><td class=\"n less\">0</td>",
      "<td>110610060010 001#48V蓄电池电压超低</td><td class=\"n\">0</td><td class=\"n "
      "more\">1</td><td class=\"n\">0s</td><td class=\"n\">59s</td>",
      "warning threshold_order hostSetting: the low alarm lies under the very low one",
      "<div class=\"plots\"><svg id=\"whole\"></svg>\n<svg id=\"zoom\"></svg>\n</div>",
  };
  for (const std::string& text : expected) {
    EXPECT_NE(page.find(text), std::string::npos) << text;
  }
}

}  // namespace
