// The simulator's device run and the site test's comparison, without the
// plug-in: a stand-in device makes the framework calls, and the comparison
// is fed rounds as a run hands them on.

#include "sim/host/device_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/osk_ai_device.h"
#include "sim/framework/sim_framework.h"
#include "sim/host/event_log.h"
#include "sim/sitetests/comparison.h"

namespace sim::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Stands in for the plug-in's device: its process, in the slot after the
// framework's operations, sends a record of the channel's reading, checks
// one alarm (raised below 47) and reports the value; it throws in the round
// named by throw_at, after raising the alarm.
class FakeDevice : public OSKAIDevice {
 public:
  virtual float process(short sample);
  int throw_at = 0;

 private:
  int rounds_ = 0;
};

float FakeDevice::process(short sample) {
  const float reading = ReadAi(sample - 20000);
  if (++rounds_ == throw_at) {
    CheckThresholdBool(1, "A1", "A1", "low", "", true, 0);
    throw std::runtime_error("boom");
  }
  AIKorvane_Data_t record{};
  record.data_id = 7;
  record.voltage = reading;
  unsigned char bytes[sizeof record];
  std::memcpy(bytes, &record, sizeof record);
  SendSP(5032, bytes, sizeof bytes, false);
  CheckThresholdBool(1, "A1", "A1", "low", "", reading < 47, 0);
  CheckAOReport("S1", reading);
  return reading;
}

// Writes down what reaches it, one line per call.
class Notes : public RunListener {
 public:
  explicit Notes(bool events = false) : events_(events) {}
  bool WantsEvents() const override { return events_; }
  void RoundBegun(const RoundBegin& begin) override {
    lines.push_back("begin " + std::to_string(begin.round) + " " + std::to_string(begin.time));
  }
  void RecordSent(const AIKorvane_Data_t& record) override {
    lines.push_back("record " + FloatText(record.voltage));
  }
  void AlarmChecked(const AlarmCall& call) override {
    lines.push_back("alarm " + call.id + " " + call.name + (call.condition ? " 1" : " 0"));
  }
  void ValueReported(const std::string& signal, double value) override {
    lines.push_back("report " + signal + " " + FloatText(value));
  }
  void DischargeReported(const Json::Value& request) override {
    lines.push_back("http " + request["body"].asString());
  }
  void Failed(const RunError& error) override {
    lines.push_back("failed " + error.where + ": " + error.message);
  }
  void RoundEnded() override { lines.push_back("end"); }
  std::vector<std::string> lines;

 private:
  bool events_;
};

class DeviceRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    sim::SetVirtualTime(1000);
  }
  void TearDown() override { sim::SetVirtualTime(std::nullopt); }
  FakeDevice device_;
};

// The typed calls and the JSON events of the framework reach a listener as
// the same calls; a round that throws ends with its error, and the run goes on.
TEST_F(DeviceRunTest, BothPathsHandOnTheSameCallsAndAThrowEndsItsRound) {
  for (const bool events : {false, true}) {
    SCOPED_TRACE(events ? "JSON events" : "typed calls");
    FakeDevice device;
    device.throw_at = 2;
    Notes notes, log_like(events);
    DeviceRun run({&notes, &log_like});
    run.Attach(device);
    EXPECT_TRUE(run.ChannelRound(3, 46.5f));
    EXPECT_FALSE(run.ChannelRound(3, 48.0f));
    EXPECT_EQ(run.Error(), "process threw: boom");
    EXPECT_EQ(run.Thrown(), "boom");
    sim::SetVirtualTime(1060);
    EXPECT_TRUE(run.ChannelRound(3, 48.0f));
    EXPECT_EQ(run.Error(), "");
    EXPECT_EQ(run.Rounds(), 3);
    EXPECT_THAT(
        notes.lines,
        ElementsAre("begin 1 1000", "record 46.5", "alarm A1 low 1", "report S1 46.5", "end",
                    "begin 2 1000", "alarm A1 low 1", "failed process: process threw: boom", "end",
                    "begin 3 1060", "record 48", "alarm A1 low 0", "report S1 48", "end"));
    sim::SetVirtualTime(1000);
  }
}

// Reports routed elsewhere are taken inside the round, before its end; the
// inbox hands requests to the run attached and drops them otherwise.
TEST_F(DeviceRunTest, ReportsArriveInsideTheirRound) {
  Notes notes;
  DeviceRun run({&notes});
  run.Attach(device_);
  int taken = 0;
  run.SetReportSource([&taken] {
    Json::Value request;
    request["body"] = "Play=" + std::to_string(++taken);
    return std::vector<Json::Value>{request};
  });
  run.ChannelRound(1, 50.0f);
  EXPECT_THAT(notes.lines, ElementsAre("begin 1 1000", "record 50", "alarm A1 low 0",
                                       "report S1 50", "http Play=1", "end"));
  ReportInbox inbox;
  Json::Value request;
  request["body"] = "Play=9";
  inbox.Received(request);
  {
    const InboxAttachment attached(&inbox, run);
    inbox.Received(request);
  }
  inbox.Received(request);
  EXPECT_EQ(std::count(notes.lines.begin(), notes.lines.end(), "http Play=9"), 1);
}

// The log writes "event" and "round" first, numbers only what happens inside
// a round, and a bad input line as an error with its place.
TEST_F(DeviceRunTest, EventLogLinesOfARun) {
  std::ostringstream out;
  EventLog log(&out);
  device_.throw_at = 2;
  DeviceRun run({&log});
  run.Attach(device_);
  run.ApplySettings(Json::Value(Json::objectValue));
  run.ChannelRound(2, 45.25f, 4);
  run.ChannelRound(2, 45.25f, 5);
  run.InputFailed("t.txt", 6, "bad line");
  std::vector<std::string> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 12u) << out.str();
  EXPECT_EQ(lines[0], R"({"event":"InitSetting","result":true})");
  EXPECT_EQ(lines[1], R"({"event":"round","round":1,"cause":"sample","line":4,"sample":20002})");
  EXPECT_EQ(lines[2], R"({"event":"ReadAi","round":1,"channel":2,"reading":45.25})");
  EXPECT_THAT(lines[3], HasSubstr(R"({"event":"SendSP","round":1,"bytes":"070000000000354200)"));
  EXPECT_THAT(lines[3], HasSubstr(R"("record":{"data_id":7,)"));
  EXPECT_EQ(lines[6], R"({"event":"result","round":1,"value":45.25})");
  EXPECT_EQ(lines[10], R"({"event":"error","round":2,"message":"process threw: boom",)"
                       R"("where":"process"})");
  EXPECT_EQ(lines[11], R"({"event":"error","file":"t.txt","line":6,"message":"bad line",)"
                       R"("where":"trace"})");
}

// ---- the site test's comparison --------------------------------------------

Expectation At(const std::string& text, std::optional<int> round, std::optional<long long> seconds,
               std::optional<double> voltage) {
  Expectation expectation;
  expectation.at.text = text;
  expectation.at.round = round;
  expectation.at.seconds = seconds;
  expectation.voltage = voltage;
  return expectation;
}

// Rounds at the given times, each sending a record of the given voltage.
void Feed(TestComparison& comparison, const std::vector<std::pair<std::time_t, double>>& rounds) {
  int round = 0;
  for (const auto& [time, voltage] : rounds) {
    comparison.RoundBegun(RoundBegin{++round, time, true, {}});
    AIKorvane_Data_t record{};
    record.voltage = static_cast<float>(voltage);
    comparison.RecordSent(record);
    comparison.RoundEnded();
  }
  comparison.Finish();
}

class ComparisonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    test_.name = "t";
  }
  SiteTest test_;
};

// Each point is the round it names, or the last at or before its time in
// the order the rounds ran, even when the clock went back.
TEST_F(ComparisonTest, PointsAtRoundsAndBetweenRounds) {
  test_.expect = {At("2", 2, std::nullopt, 1),     At("9", 9, std::nullopt, 1),
                  At("90s", std::nullopt, 90, 1),  At("30s", std::nullopt, 30, 1),
                  At("1h", std::nullopt, 3600, 1), At("-", std::nullopt, -10, 1)};
  TestComparison comparison(test_, 0);
  // The fourth round goes back to 40 s: the last at or before 90 s.
  Feed(comparison, {{0, 50}, {60, 51}, {120, 52}, {40, 53}, {200, 54}});
  EXPECT_EQ(comparison.Rounds(), 5);
  EXPECT_THAT(
      comparison.Failures({}),
      ElementsAre(
          "    test: t, round 2 (1970-01-01 00:01:00), voltage:\n        exp: 1\n        got: 51\n",
          "    test: t, at 9: round 9 never ran (the test ran 5 rounds)\n",
          "    test: t, round 4 (1970-01-01 00:00:40), the last at or before start + 90s, "
          "voltage:\n        exp: 1\n        got: 53\n",
          "    test: t, round 1 (1970-01-01 00:00:00), the last at or before start + 30s, "
          "voltage:\n        exp: 1\n        got: 50\n",
          "    test: t, round 5 (1970-01-01 00:03:20), the last at or before start + 1h, "
          "voltage:\n        exp: 1\n        got: 54\n",
          "    test: t, at -: no round ran at or before start + - (1969-12-31 23:59:50)\n"));
}

// The alarms of a point are those raised when its round ended: a round that
// threw keeps what it raised before, and the threshold comparison uses the
// thresholds given at the end.
TEST_F(ComparisonTest, AlarmsOfARoundThatThrew) {
  Expectation point = At("2", 2, std::nullopt, std::nullopt);
  point.alarms = std::vector<std::string>{};
  test_.expect = {point};
  TestComparison comparison(test_, 0);
  comparison.RoundBegun(RoundBegin{1, 0, true, {}});
  AIKorvane_Data_t record{};
  record.voltage = 46.5f;
  comparison.RecordSent(record);
  comparison.RoundEnded();
  comparison.RoundBegun(RoundBegin{2, 60, true, {}});
  comparison.AlarmChecked(AlarmCall{"A1", "low", true});
  comparison.Failed(RunError{"process", "", 0, "process threw: boom"});
  comparison.RoundEnded();
  comparison.Finish();
  EXPECT_THAT(comparison.Failures({{"A1", 47.0f}}),
              ElementsAre("    test: t, round 2 (1970-01-01 00:01:00), alarms:\n"
                          "        extra: [A1]\n        exp: []\n        got: [A1]\n"));
}

// Published values are asked for only in rounds that a point may show.
TEST_F(ComparisonTest, PublishedValuesOnlyWherePointsWantThem) {
  Expectation at_round = At("3", 3, std::nullopt, std::nullopt);
  at_round.published["v"] = 1;
  Expectation at_time = At("2m", std::nullopt, 120, std::nullopt);
  at_time.published["v"] = 2;
  test_.expect = {at_round, at_time, At("9", 9, std::nullopt, 1)};
  TestComparison comparison(test_, std::nullopt);
  std::vector<int> wanted;
  for (int round = 1; round <= 6; ++round) {
    comparison.RoundBegun(RoundBegin{round, 1000 + (round - 1) * 50, true, {}});
    if (comparison.WantsPublished()) {
      wanted.push_back(round);
      Json::Value values;
      values["v"] = round;
      comparison.Published(values);
    }
    comparison.RoundEnded();
  }
  comparison.Finish();
  // Rounds at 0, 50 and 100 s may be the last at or before 2m; round 3 is named.
  EXPECT_THAT(wanted, ElementsAre(1, 2, 3));
  const std::vector<std::string> failures = comparison.Failures({});
  ASSERT_EQ(failures.size(), 3u);
  EXPECT_EQ(failures[0],
            "    test: t, round 3 (1970-01-01 00:18:20), published:\n        v: exp 1, got 3\n");
  EXPECT_EQ(failures[1],
            "    test: t, round 3 (1970-01-01 00:18:20), the last at or before start + 2m, "
            "published:\n        v: exp 2, got 3\n");
  EXPECT_THAT(failures[2], HasSubstr("at 9: round 9 never ran (the test ran 6 rounds)"));
}

ExpectedReport Expected(const std::string& play) {
  ExpectedReport report;
  report.fields = {{"Play", play}};
  return report;
}

Json::Value Request(const std::string& play) {
  Json::Value request;
  request["body"] = "Play=" + play;
  request["path"] = "/welcome/discharge/";
  request["status"] = 200;
  return request;
}

// The first report that differs, and both lists cut after 50, however many
// reports were sent.
TEST_F(ComparisonTest, ReportListsComparedAsTheyArrive) {
  const struct {
    const char* name;
    int expected, sent, differs;  // differs: the sent report (from 0) that does not match
    const char* head;
  } cases[] = {
      {"equal", 3, 3, -1, nullptr},
      {"one missing", 3, 2, -1, "report 3 expected but not sent"},
      {"one more", 2, 3, -1, "report 3 sent but not expected"},
      {"differs beyond the shown", 60, 60, 55, "report 56 differs"},
      {"none expected", 0, 1, -1, "report 1 sent but not expected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ExpectedReport> expected;
    for (int i = 0; i < c.expected; ++i) expected.push_back(Expected("1"));
    test_.discharge_reports = expected;
    TestComparison comparison(test_, 0);
    comparison.RoundBegun(RoundBegin{1, 0, true, {}});
    for (int i = 0; i < c.sent; ++i)
      comparison.DischargeReported(Request(i == c.differs ? "0" : "1"));
    comparison.Finish();
    const std::vector<std::string> failures = comparison.Failures({});
    if (c.head == nullptr) {
      EXPECT_TRUE(failures.empty());
      continue;
    }
    ASSERT_EQ(failures.size(), 1u);
    const std::string& block = failures[0];
    EXPECT_THAT(block, HasSubstr(std::string("    test: t, discharge_reports: ") + c.head + "\n"));
    EXPECT_THAT(block, HasSubstr("got list (" + std::to_string(c.sent) + "):\n"));
    const bool cut = std::max(c.expected, c.sent) > 50;
    EXPECT_EQ(block.find("(lists cut after 50)") != std::string::npos, cut);
    EXPECT_EQ(block.find("          51. ") != std::string::npos, false);
    if (c.differs >= 0) {
      EXPECT_THAT(block, HasSubstr("        got: {Play: 0, round: 1}\n"));
    } else if (c.sent < c.expected) {
      EXPECT_THAT(block, HasSubstr("        got: (none)\n"));
    } else {
      EXPECT_THAT(block, HasSubstr("        exp: (none)\n"));
    }
  }
}

}  // namespace
}  // namespace sim::cli
