// The parts of the simulator's report that arithmetic decides: the voltage
// envelope, the axis ticks, the report labels, the reading of host events
// and the grouping of discharge reports.

#include <gtest/gtest.h>
#include <json/value.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "sim/host/host_events.h"
#include "sim/report/analysis.h"
#include "sim/report/plot.h"
#include "sim/report/summary.h"

namespace {

using namespace sim::cli;

TEST(SimEnvelope, KeepsLowestAndHighestOfEveryRoundInBoundedColumns) {
  struct Case {
    long long rounds;
    size_t columns;
    long long per_column;
  };
  for (const Case c : {Case{1, 1, 1}, Case{2000, 2000, 1}, Case{2001, 1001, 2},
                       Case{86400, 1350, 64}, Case{1000000, 1954, 512}}) {
    Envelope envelope;
    double lowest = 1e9, highest = -1e9;
    for (long long i = 0; i < c.rounds; ++i) {
      // A saw tooth with one deep spike, which no column may lose.
      const double voltage = i == c.rounds / 2 ? 10.0 : 48.0 + static_cast<double>(i % 7) / 10;
      lowest = std::min(lowest, voltage);
      highest = std::max(highest, voltage);
      envelope.Add(RoundAt{static_cast<int>(i + 1), static_cast<std::time_t>(i)}, voltage);
    }
    const auto& columns = envelope.Columns();
    EXPECT_EQ(columns.size(), c.columns) << c.rounds;
    EXPECT_EQ(envelope.RoundsPerColumn(), c.per_column) << c.rounds;
    double low = 1e9, high = -1e9;
    int next_round = 1;
    for (const EnvelopeColumn& column : columns) {
      // Columns follow each other without a gap or an overlap.
      EXPECT_EQ(column.first.round, next_round) << c.rounds;
      next_round = column.last.round + 1;
      low = std::min(low, column.low);
      high = std::max(high, column.high);
    }
    EXPECT_EQ(next_round, c.rounds + 1);
    EXPECT_EQ(low, lowest) << c.rounds;
    EXPECT_EQ(high, highest) << c.rounds;
  }
}

TEST(SimEnvelope, ColumnsOfNothingButNotANumberHaveNoVoltage) {
  Envelope envelope;
  envelope.Add(RoundAt{1, 0}, std::nan(""));
  envelope.Add(RoundAt{2, 1}, 47.0);
  ASSERT_EQ(envelope.Columns().size(), 2u);
  EXPECT_FALSE(envelope.Columns()[0].any);
  EXPECT_TRUE(envelope.Columns()[1].any);
}

TEST(SimPlot, ValueTicksAreOneTwoOrFiveTimesAPowerOfTen) {
  struct Case {
    double low, high;
    int max_ticks;
    std::vector<double> ticks;
  };
  const Case cases[] = {
      {45.32, 58.3, 8, {46, 48, 50, 52, 54, 56, 58}},
      {0, 1, 5, {0, 0.2, 0.4, 0.6, 0.8, 1}},
      {-0.3, 0.3, 6, {-0.3, -0.2, -0.1, 0, 0.1, 0.2, 0.3}},
      {1, 86400, 10, {10000, 20000, 30000, 40000, 50000, 60000, 70000, 80000}},
      {47.1, 47.4, 8, {47.1, 47.15, 47.2, 47.25, 47.3, 47.35, 47.4}},
      {5, 5, 8, {}},
  };
  for (const Case& c : cases) {
    const std::vector<double> ticks = ValueTicks(c.low, c.high, c.max_ticks);
    ASSERT_EQ(ticks.size(), c.ticks.size()) << c.low << " " << c.high;
    for (size_t i = 0; i < ticks.size(); ++i) {
      EXPECT_NEAR(ticks[i], c.ticks[i], 1e-9) << c.low << " " << c.high;
    }
  }
}

TEST(SimPlot, TimeTicksFallOnWholeLocalMinutesHoursAndDays) {
  setenv("TZ", "Asia/Shanghai", 1);
  tzset();
  // 2026-01-05 00:00:00 in Shanghai (UTC+8).
  const std::time_t midnight = 1767542400;
  struct Case {
    std::time_t first, last;
    long long step;
    std::time_t first_tick;
  };
  const Case cases[] = {
      {midnight + 10, midnight + 86399, 3 * 3600, midnight + 3 * 3600},
      {midnight + 61, midnight + 600, 60, midnight + 120},
      {midnight - 3600, midnight + 30 * 86400, 7 * 86400, midnight},
      {midnight + 1, midnight + 12 * 86400, 2 * 86400, midnight + 86400},
  };
  for (const Case& c : cases) {
    const auto ticks = TimeTicks(c.first, c.last, 10);
    ASSERT_FALSE(ticks.empty());
    EXPECT_LE(ticks.size(), 10u);
    EXPECT_EQ(ticks.front(), c.first_tick) << c.first;
    if (ticks.size() > 1) {
      EXPECT_EQ(ticks[1] - ticks[0], c.step) << c.first;
    }
    EXPECT_LE(ticks.back(), c.last);
  }
  unsetenv("TZ");
  tzset();
}

TEST(SimPlot, ReportLabelsStackAndDropRatherThanOverlap) {
  struct Case {
    std::vector<double> at;
    std::vector<int> rows;
  };
  // Labels 40 units wide, three rows.
  const Case cases[] = {
      {{0, 100, 200}, {0, 0, 0}},
      {{0, 10, 20, 30}, {0, 1, 2, -1}},
      {{0, 39, 40, 80}, {0, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StackLabels(c.at, std::vector<double>(c.at.size(), 40), 3), c.rows);
  }
}

TEST(SimHostEvents, OneReaderForAlarmsFormsAndRecords) {
  // Battery rows repeat the alarm id; limit tables name the signal first.
  struct AlarmCase {
    const char *first, *second, *third, *id, *name;
  };
  for (const AlarmCase& c :
       {AlarmCase{"110610060010", "110610060010", "001#48V蓄电池电压超低", "110610060010",
                  "001#48V蓄电池电压超低"},
        AlarmCase{"sig0001", "300100001001", "48.5", "300100001001", "sig0001"}}) {
    Json::Value event;
    event["event"] = "CheckThresholdBool";
    for (const char* text : {c.first, c.second, c.third, "description"}) {
      event["texts"].append(text);
    }
    event["condition"] = true;
    const auto call = AlarmOf(event);
    ASSERT_TRUE(call);
    EXPECT_EQ(call->id, c.id);
    EXPECT_EQ(call->name, c.name);
    EXPECT_TRUE(call->condition);
  }
  const FormFields fields = ParseForm("Play=1&Device_ID=12&SPNames=001#48V&His_DCV=47.5&flag");
  EXPECT_EQ(FieldOf(fields, "Play"), "1");
  EXPECT_EQ(FieldOf(fields, "SPNames"), "001#48V");
  EXPECT_EQ(FieldOf(fields, "His_DCV"), "47.5");
  EXPECT_EQ(FieldOf(fields, "flag"), "");
  EXPECT_EQ(FieldOf(fields, "missing"), "");
  // Data id 12, 47.5 V, 2026-12-07 09:05:03.
  const auto record = DecodeRecord(
      "0C000000"
      "00003E42"
      "EA07"
      "0C07090503");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->data_id, 12u);
  EXPECT_EQ(record->voltage, 47.5f);
  EXPECT_EQ(record->year, 2026);
  EXPECT_EQ(record->second, 3);
  EXPECT_FALSE(DecodeRecord("0C00"));
  EXPECT_FALSE(DecodeRecord("zz000000000000000000000000000000"));
}

TEST(SimSummary, DischargeReportsGroupByDischarge) {
  auto report = [](int round, const char* play) {
    DischargeReport r;
    r.at.round = round;
    r.play = play;
    return r;
  };
  const auto groups = GroupDischarges({report(3, "1"), report(5, "1"), report(6, "1"),
                                       report(9, "0"), report(12, "0"), report(20, "1")});
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0].start.at.round, 3);
  EXPECT_EQ(groups[0].progress, 2);
  EXPECT_EQ(groups[0].end->at.round, 9);
  EXPECT_EQ(groups[1].start.play, "0");  // an end with no start stands alone
  EXPECT_EQ(groups[2].start.at.round, 20);
  EXPECT_FALSE(groups[2].end);
  EXPECT_EQ(DurationText(0), "0s");
  EXPECT_EQ(DurationText(3725), "1h02m05s");
  EXPECT_EQ(DurationText(600), "10m00s");
}

TEST(SimSummary, FlappingCountsRaisesWithinAMinuteOfAClear) {
  Analyser analyser;
  // Raised at 0, cleared at 10, raised at 70 (a minute after), cleared at
  // 80, raised at 141 (61 s after).
  const std::pair<std::time_t, bool> rounds[] = {{0, true},   {10, false}, {70, true},
                                                 {80, false}, {141, true}, {150, true}};
  int round = 0;
  for (const auto& [time, condition] : rounds) {
    analyser.BeginRound(++round, time, true);
    analyser.AlarmChecked(AlarmCall{"110610060010", "超低", condition});
  }
  const Analysis analysis = analyser.Result();
  const AlarmStats& stats = analysis.alarms.at("110610060010");
  EXPECT_EQ(stats.raises, 3);
  EXPECT_EQ(stats.flapping, 1);
  EXPECT_EQ(stats.rounds_raised, 4);
  EXPECT_EQ(stats.seconds_raised, 10 + 10 + 9);
  EXPECT_EQ(stats.last_clear->round, 4);
  EXPECT_TRUE(stats.raised_since);
}

}  // namespace
