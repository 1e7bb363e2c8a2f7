// The mode-2 discharge report: its two-state machine round by round, the
// reference voltage, the report body on the wire, and a report whose
// transfer fails.

#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "net/http_tool.h"
#include "plugin/aikorvane.h"
#include "sim/framework/sim_framework.h"
#include "support/loopback_http.h"
#include "support/test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing_support::CoutCapture;
using testing_support::LoopbackServer;
using testing_support::RecordedRequest;
using testing_support::RefusingPort;

const auto* const kCurl = ::testing::AddGlobalTestEnvironment(new testing_support::CurlEnvironment);

constexpr const char* kPath = "/welcome/discharge/";

// The body of a report for device 12 at the voltage text given.
std::string Body(int play, const std::string& voltage) {
  return "Play=" + std::to_string(play) +
         "&Device_ID=12&SPID_1=130610010010&SPNames=001#48V蓄电池组电压&His_DCV=" + voltage;
}

class DischargeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(setenv("AIKORVANE_DISCHARGE_URL", receiver_.Url(kPath).c_str(), 1), 0);
    device_.b_mode_ = 2;
    device_.data_id_ = 12;
    sim::SetSink(device_, sink_);
  }
  void TearDown() override { unsetenv("AIKORVANE_DISCHARGE_URL"); }

  // Sets start, end and step voltages as the settings would.
  void Configure(float start, float end, float step) {
    device_.discharge_v_ = start;
    device_.discharge_v_end_ = end;
    device_.discharge_v_diff_ = step;
  }

  // Runs one round's check at voltage v; returns the bodies posted in it.
  std::vector<std::string> Round(float v) {
    const size_t before = receiver_.Requests().size();
    device_.data_.voltage = v;
    {
      CoutCapture capture;
      device_.RunCheckThreshold();
      lines_ = capture.Lines();
    }
    const std::vector<RecordedRequest> requests = receiver_.Requests();
    std::vector<std::string> bodies;
    for (size_t i = before; i < requests.size(); ++i) bodies.push_back(requests[i].body);
    return bodies;
  }

  int State() const { return device_.discharge_state_; }
  float Reference() const { return device_.discharge_last_v_; }

  LoopbackServer receiver_;
  AIKorvane device_;
  std::shared_ptr<sim::RecordingSink> sink_ = std::make_shared<sim::RecordingSink>();
  std::vector<std::string> lines_;  // diagnostic lines of the last round
};

TEST_F(DischargeTest, StartReportOnTheWire) {
  Configure(48.0f, 48.0f, 0.02f);

  EXPECT_THAT(Round(47.5f),
              ElementsAre("Play=1&Device_ID=12&SPID_1=130610010010&SPNames=001#48V蓄电池组电压"
                          "&His_DCV=47.5"));

  const std::vector<RecordedRequest> requests = receiver_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, kPath);
  EXPECT_THAT(requests[0].headers, ::testing::Contains(::testing::Pair(
                                       "Content-Type", "application/x-www-form-urlencoded")));
  EXPECT_THAT(requests[0].headers, ::testing::Contains(::testing::Pair("charset", "utf-8")));
  EXPECT_EQ(State(), 1);
  EXPECT_EQ(Reference(), 47.5f);
  // A delivered report leaves no diagnostic line beyond the round's own.
  EXPECT_THAT(lines_, ElementsAre("AIKorvane::RunCheckThreshold value:47.5"));
}

// The switch: discharge_v_ must be above 0.01 for any report.
struct SwitchCase {
  const char* label;
  float start;
  float voltage;
  bool reports;
};

class DischargeSwitchTest : public DischargeTest,
                            public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(DischargeSwitchTest, ReportsOnlyWhenStartVoltageIsAboveOneHundredth) {
  Configure(GetParam().start, GetParam().start, 0.02f);

  const std::vector<std::string> bodies = Round(GetParam().voltage);

  if (GetParam().reports) {
    EXPECT_EQ(bodies.size(), 1u);
    EXPECT_EQ(State(), 1);
  } else {
    EXPECT_THAT(bodies, IsEmpty());
    EXPECT_EQ(State(), 0);
  }
  // The reference takes the voltage either way.
  EXPECT_EQ(Reference(), GetParam().voltage);
}

INSTANTIATE_TEST_SUITE_P(
    StartVoltage, DischargeSwitchTest,
    ::testing::Values(SwitchCase{"ZeroWithZeroVolts", 0.0f, 0.0f, false},
                      SwitchCase{"ZeroWithNegativeVolts", 0.0f, -1.0f, false},
                      SwitchCase{"OneHundredth", 0.01f, 0.005f, false},
                      SwitchCase{"JustAboveOneHundredth", 0.0101f, 0.01f, true},
                      SwitchCase{"Battery", 48.0f, 47.0f, true},
                      SwitchCase{"BatteryAboveStart", 48.0f, 50.0f, false}),
    [](const ::testing::TestParamInfo<SwitchCase>& info) { return info.param.label; });

TEST_F(DischargeTest, SwitchedOffStateStillTakesFirstReferenceOnly) {
  // With the report off only the "reference under 0.001" step runs, so the
  // reference is taken once and then kept.
  Configure(0.0f, 0.0f, 0.02f);
  Round(50.0f);
  Round(40.0f);
  EXPECT_EQ(Reference(), 50.0f);
  EXPECT_EQ(State(), 0);
  EXPECT_THAT(receiver_.Requests(), IsEmpty());
}

TEST_F(DischargeTest, IdleReferenceFollowsEveryVoltage) {
  Configure(48.0f, 48.0f, 0.02f);
  for (float v : {50.0f, 49.0f, 60.0f, 48.0625f}) {
    EXPECT_THAT(Round(v), IsEmpty());
    EXPECT_EQ(Reference(), v);
  }
  EXPECT_EQ(State(), 0);
}

TEST_F(DischargeTest, StartAtEqualityEndOnlyAboveEndVoltage) {
  Configure(48.0f, 49.0f, 0.5f);

  EXPECT_THAT(Round(48.5f), IsEmpty());  // idle above the start voltage
  EXPECT_EQ(Reference(), 48.5f);
  EXPECT_THAT(Round(48.0f), ElementsAre(Body(1, "48")));  // equal to start: starts
  EXPECT_EQ(State(), 1);
  EXPECT_EQ(Reference(), 48.0f);

  // Equal to the end voltage: no end, but a full step up from 48 is progress.
  EXPECT_THAT(Round(49.0f), ElementsAre(Body(1, "49")));
  EXPECT_EQ(State(), 1);
  EXPECT_THAT(Round(49.0f), IsEmpty());

  // Inside the hysteresis band nothing ends the discharge.
  EXPECT_THAT(Round(48.75f), IsEmpty());
  EXPECT_EQ(State(), 1);

  EXPECT_THAT(Round(49.25f), ElementsAre(Body(0, "49.25")));  // above the end: end report
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(Reference(), 0.0f);

  // The next round takes the voltage as reference before anything else and,
  // still above the start voltage, stays idle.
  EXPECT_THAT(Round(49.5f), IsEmpty());
  EXPECT_EQ(Reference(), 49.5f);
  EXPECT_EQ(State(), 0);
}

TEST_F(DischargeTest, ReferenceAfterEndIsRetakenEvenWithReportSwitchedOff) {
  Configure(48.0f, 48.0f, 0.02f);
  Round(47.0f);
  ASSERT_THAT(Round(48.25f), ElementsAre(Body(0, "48.25")));
  ASSERT_EQ(Reference(), 0.0f);

  Configure(0.0f, 0.0f, 0.02f);
  Round(46.5f);
  EXPECT_EQ(Reference(), 46.5f);
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(receiver_.Requests().size(), 2u);
}

TEST_F(DischargeTest, OnlyStartVoltageEndsWhenNoEndIsConfigured) {
  // "discharge_v" alone: end equals start, so just above it ends.
  Configure(48.0f, 48.0f, 0.02f);
  ASSERT_THAT(Round(47.75f), ElementsAre(Body(1, "47.75")));
  EXPECT_THAT(Round(48.0f), ElementsAre(Body(1, "48")));  // 0.25 up: progress, no end
  EXPECT_THAT(Round(48.001f), ElementsAre(Body(0, "48.001")));
  EXPECT_EQ(State(), 0);
}

TEST_F(DischargeTest, ExactStepSendsProgressSmallerChangesNever) {
  // 0.5 and the voltages below are exact in single precision, so the change
  // from 47.5 to 47 is exactly the step.
  Configure(48.0f, 48.0f, 0.5f);
  ASSERT_THAT(Round(47.5f), ElementsAre(Body(1, "47.5")));

  // Changes under the step, however many rounds, send nothing and leave the
  // reference where the last report put it.
  const float just_under = std::nextafter(47.0f, 48.0f);
  for (float v : {47.25f, 47.75f, 47.125f, 47.875f, 47.0625f, 47.9375f, just_under}) {
    EXPECT_THAT(Round(v), IsEmpty()) << v;
    EXPECT_EQ(Reference(), 47.5f);
  }

  EXPECT_THAT(Round(47.0f), ElementsAre(Body(1, "47")));
  EXPECT_EQ(Reference(), 47.0f);
  // Upwards counts the same as downwards.
  EXPECT_THAT(Round(47.5f), ElementsAre(Body(1, "47.5")));
  EXPECT_EQ(State(), 1);
}

TEST_F(DischargeTest, StartUnderOneThousandthGivesNoProgressJumpNextRound) {
  Configure(1.0f, 1.0f, 0.02f);
  ASSERT_THAT(Round(0.0005f), ElementsAre(Body(1, "0.0005")));
  EXPECT_EQ(Reference(), 0.0005f);

  // The reference under 0.001 is replaced by the present voltage first, so
  // the jump from the start voltage is no step.
  EXPECT_THAT(Round(0.9f), IsEmpty());
  EXPECT_EQ(Reference(), 0.9f);
  EXPECT_EQ(State(), 1);

  EXPECT_THAT(Round(0.875f), ElementsAre(Body(1, "0.875")));
}

TEST_F(DischargeTest, StartAtZeroVolts) {
  Configure(1.0f, 1.0f, 0.02f);
  EXPECT_THAT(Round(0.0f), ElementsAre(Body(1, "0")));
  EXPECT_EQ(Reference(), 0.0f);
  EXPECT_THAT(Round(0.5f), IsEmpty());
  EXPECT_EQ(Reference(), 0.5f);
}

TEST_F(DischargeTest, NotANumberNeitherStartsNorEndsNorSteps) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Configure(48.0f, 48.0f, 0.02f);
  EXPECT_THAT(Round(nan), IsEmpty());
  EXPECT_EQ(State(), 0);

  ASSERT_THAT(Round(47.0f), ElementsAre(Body(1, "47")));
  EXPECT_THAT(Round(nan), IsEmpty());
  EXPECT_EQ(State(), 1);
  EXPECT_EQ(Reference(), 47.0f);
}

TEST_F(DischargeTest, RunsWithEveryAlarmLevelZero) {
  for (const char* id : {"110610040010", "110610050010", "110610060010", "110410040010",
                         "110410050010", "110410060010"}) {
    device_.alarm_levels_[id] = 0;
  }
  Configure(48.0f, 48.0f, 0.02f);

  EXPECT_THAT(Round(47.0f), ElementsAre(Body(1, "47")));
  EXPECT_THAT(sink_->Events("CheckThresholdBool"), IsEmpty());
}

TEST_F(DischargeTest, OtherModesNeverReport) {
  Configure(48.0f, 48.0f, 0.02f);
  for (int mode : {1, 3, 5, 0}) {
    device_.b_mode_ = mode;
    EXPECT_THAT(Round(40.0f), IsEmpty()) << mode;
  }
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(Reference(), 0.0f);
}

// The voltage goes out as a default-formatted stream float.
struct FormatCase {
  const char* label;
  float voltage;
  const char* text;
};

class DischargeFormatTest : public DischargeTest,
                            public ::testing::WithParamInterface<FormatCase> {};

TEST_P(DischargeFormatTest, VoltageText) {
  Configure(1e9f, 1e9f, 0.02f);
  EXPECT_THAT(Round(GetParam().voltage), ElementsAre(Body(1, GetParam().text)));
}

INSTANTIATE_TEST_SUITE_P(Voltages, DischargeFormatTest,
                         ::testing::Values(FormatCase{"Whole", 48.0f, "48"},
                                           FormatCase{"Half", 53.5f, "53.5"},
                                           FormatCase{"SixDigits", 47.123456f, "47.1235"},
                                           FormatCase{"TinyExponent", 0.00005f, "5e-05"},
                                           FormatCase{"LargeExponent", 1234567.0f, "1.23457e+06"},
                                           FormatCase{"Negative", -0.25f, "-0.25"}),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                           return info.param.label;
                         });

TEST_F(DischargeTest, DeviceIdIsUnsignedDecimal) {
  device_.data_id_ = 4294967295u;
  Configure(48.0f, 48.0f, 0.02f);
  EXPECT_THAT(Round(47.5f), ElementsAre("Play=1&Device_ID=4294967295&SPID_1=130610010010&"
                                        "SPNames=001#48V蓄电池组电压&His_DCV=47.5"));
}

TEST_F(DischargeTest, ReceiverErrorStatusIsLoggedButNotResent) {
  receiver_.SetResponder([](const httplib::Request&, httplib::Response& response) {
    response.status = 500;
    response.set_content("broken", "text/plain");
  });
  Configure(48.0f, 48.0f, 0.02f);

  EXPECT_THAT(Round(47.5f), ElementsAre(Body(1, "47.5")));
  EXPECT_EQ(State(), 1);
  EXPECT_THAT(lines_, ElementsAre("AIKorvane::RunCheckThreshold value:47.5",
                                  "AIKorvane::RunCheckThreshold discharge report to " +
                                      receiver_.Url(kPath) + " refused: HTTP status 500"));
  EXPECT_THAT(Round(47.5f), IsEmpty());  // not resent
  EXPECT_THAT(lines_, ElementsAre("AIKorvane::RunCheckThreshold value:47.5"));
}

// A report that cannot be delivered: the machine moves on as if it had gone
// out, and one diagnostic line names the loss.
TEST_F(DischargeTest, FailedTransferMovesStateAndLeavesOneLine) {
  RefusingPort refusing;
  const std::string url = refusing.Url(kPath);
  ASSERT_EQ(setenv("AIKORVANE_DISCHARGE_URL", url.c_str(), 1), 0);
  const std::string failure = "AIKorvane::RunCheckThreshold discharge report to " + url +
                              " failed: curl code 7 (" + curl_easy_strerror(CURLE_COULDNT_CONNECT) +
                              ")";
  Configure(48.0f, 48.0f, 0.5f);

  Round(47.5f);
  EXPECT_THAT(lines_, ElementsAre("AIKorvane::RunCheckThreshold value:47.5", failure));
  EXPECT_EQ(State(), 1);
  EXPECT_EQ(Reference(), 47.5f);

  Round(47.5f);  // the lost start is not sent again
  EXPECT_THAT(lines_, ElementsAre("AIKorvane::RunCheckThreshold value:47.5"));

  Round(47.0f);  // progress, lost too
  EXPECT_THAT(lines_, ElementsAre("AIKorvane::RunCheckThreshold value:47", failure));
  EXPECT_EQ(Reference(), 47.0f);

  Round(48.5f);  // end, lost too
  EXPECT_THAT(lines_, ElementsAre("AIKorvane::RunCheckThreshold value:48.5", failure));
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(Reference(), 0.0f);

  EXPECT_THAT(receiver_.Requests(), IsEmpty());
}

TEST_F(DischargeTest, EmptyUrlVariableFallsBackToLocalWebService) {
  // Only checkable where nothing serves port 80 of the loopback interface.
  HttpTool probe;
  if (probe.Get("http://127.0.0.1/", "") != CURLE_COULDNT_CONNECT) {
    GTEST_SKIP() << "something listens on 127.0.0.1:80";
  }
  ASSERT_EQ(setenv("AIKORVANE_DISCHARGE_URL", "", 1), 0);
  Configure(48.0f, 48.0f, 0.02f);

  Round(47.5f);
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_THAT(lines_[1], ::testing::StartsWith("AIKorvane::RunCheckThreshold discharge report to "
                                               "http://127.0.0.1/welcome/discharge/ failed: "));
  EXPECT_THAT(receiver_.Requests(), IsEmpty());
}

}  // namespace
