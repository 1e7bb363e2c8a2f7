// The simulated host's own "hostSetting": every way it is refused or warned
// about, once through the framework's InitSetting (the complaint it keeps)
// and once through check (the finding a user reads), from one table.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/writer.h>

#include <string>

#include "host/osk_ai_device.h"
#include "sim/framework/sim_framework.h"
#include "support/sim_run.h"
#include "support/test_support.h"

namespace {

using ::testing::HasSubstr;
using testing_support::ParseJson;
using testing_support::ScratchDir;

struct HostCase {
  const char* host;     // the value of "hostSetting"
  const char* refusal;  // the framework's complaint; "" when accepted
  const char* unknown;  // place of the unknown-key warning; "" when none
};

const char kNoCountOfSeconds[] =
    "hostSetting.aoReport.461627401001.lastReportTime must be a count of seconds (0 to "
    "4294967295)";

const HostCase kCases[] = {
    {"null", "hostSetting must be an object", ""},
    {"[1]", "hostSetting must be an object", ""},
    {"\"x\"", "hostSetting must be an object", ""},
    {R"({"aiGain":"1.0"})", "hostSetting.aiGain must be a number", ""},
    {R"({"aiOffset":true})", "hostSetting.aiOffset must be a number", ""},
    {R"({"aiGain":null})", "hostSetting.aiGain must be a number", ""},
    {R"({"channels":[8.9]})", "hostSetting.channels must be an object", ""},
    {R"({"channels":{"x":1}})", "hostSetting.channels key x is no channel", ""},
    {R"({"channels":{"":1}})", "hostSetting.channels key  is no channel", ""},
    {R"({"channels":{"3a":1}})", "hostSetting.channels key 3a is no channel", ""},
    // A number's text but not a channel's: strtol alone would take these.
    {R"({"channels":{" 3":1}})", "hostSetting.channels key  3 is no channel", ""},
    {R"({"channels":{"+3":1}})", "hostSetting.channels key +3 is no channel", ""},
    {R"({"channels":{"4294967299":1}})", "hostSetting.channels key 4294967299 is no channel", ""},
    {R"({"channels":{"3":"8.9"}})", "hostSetting.channels.3 must be a number", ""},
    {R"({"alarms":3})", "hostSetting.alarms must be an object", ""},
    {R"({"alarms":{"110610050010":47}})", "hostSetting.alarms.110610050010 must be an object", ""},
    {R"({"alarms":{"110610050010":{"value":47}}})",
     "hostSetting.alarms.110610050010.level must be an integer", ""},
    {R"({"alarms":{"110610050010":{"level":2.5,"value":47}}})",
     "hostSetting.alarms.110610050010.level must be an integer", ""},
    {R"({"alarms":{"110610050010":{"level":"2","value":47}}})",
     "hostSetting.alarms.110610050010.level must be an integer", ""},
    // Past int: refused, not thrown from the conversion.
    {R"({"alarms":{"110610050010":{"level":4294967296,"value":47}}})",
     "hostSetting.alarms.110610050010.level must be an integer", ""},
    {R"({"alarms":{"110610050010":{"level":2}}})",
     "hostSetting.alarms.110610050010.value must be a number", ""},
    {R"({"alarms":{"110610050010":{"level":2,"value":"47"}}})",
     "hostSetting.alarms.110610050010.value must be a number", ""},
    {R"({"aoReport":[]})", "hostSetting.aoReport must be an object", ""},
    {R"({"aoReport":{"461627401001":0.5}})", "hostSetting.aoReport.461627401001 must be an object",
     ""},
    {R"({"aoReport":{"461627401001":{"change":"0.5"}}})",
     "hostSetting.aoReport.461627401001.change must be a number", ""},
    // A trigger is on when its key is present: null is no way to turn it off.
    {R"({"aoReport":{"461627401001":{"percent":null}}})",
     "hostSetting.aoReport.461627401001.percent must be a number", ""},
    {R"({"aoReport":{"461627401001":{"periodMinutes":[15]}}})",
     "hostSetting.aoReport.461627401001.periodMinutes must be a number", ""},
    {R"({"aoReport":{"461627401001":{"lastReportValue":"0"}}})",
     "hostSetting.aoReport.461627401001.lastReportValue must be a number", ""},
    {R"({"aoReport":{"461627401001":{"lastReportTime":-1}}})", kNoCountOfSeconds, ""},
    {R"({"aoReport":{"461627401001":{"lastReportTime":4294967296}}})", kNoCountOfSeconds, ""},
    {R"({"aoReport":{"461627401001":{"lastReportTime":1.5}}})", kNoCountOfSeconds, ""},
    {R"({"aoReport":{"461627401001":{"lastReportTime":"0"}}})", kNoCountOfSeconds, ""},
    // Past int64, where the conversion itself would throw.
    {R"({"aoReport":{"461627401001":{"lastReportTime":18446744073709551615}}})", kNoCountOfSeconds,
     ""},
    {R"({"aoReport":{"461627401001":{"lastReportTime":1e19}}})", kNoCountOfSeconds, ""},
    // The first complaint in the order of the keys' table, not of the text.
    {R"({"aoReport":{"461627401001":1},"alarms":2,"aiGain":"x"})",
     "hostSetting.aiGain must be a number", ""},
    {R"({"aoReport":{"461627401001":1},"alarms":2})", "hostSetting.alarms must be an object", ""},
    // Accepted at the edges.
    {"{}", "", ""},
    {R"({"aiGain":-2e-3,"aiOffset":0,"channels":{"0":0,"007":-1.5}})", "", ""},
    {R"({"alarms":{"110610050010":{"level":2.0,"value":47},"x":{"level":-1,"value":0}}})", "", ""},
    {R"({"aoReport":{"461627401001":{"lastReportTime":4294967295},"2":{"lastReportTime":0}}})", "",
     ""},
    // Members the host does not read: accepted, and said.
    {R"({"aiGian":1.002})", "", "/hostSetting/aiGian"},
    {R"({"alarms":{"110610050010":{"level":2,"value":47,"levle":3}}})", "",
     "/hostSetting/alarms/110610050010/levle"},
    {R"({"aoReport":{"461627401001":{"change":0.5,"period":15}}})", "",
     "/hostSetting/aoReport/461627401001/period"},
    // Said on a refused site too.
    {R"({"chanels":{"1":2},"aiGain":"x"})", "hostSetting.aiGain must be a number",
     "/hostSetting/chanels"},
};

std::string Settings(const HostCase& c) {
  return std::string(R"({"appSetting":{"b_mode":2,"discharge_v":47.5,"discharge_v_end":49},)") +
         "\"hostSetting\":" + c.host + "}";
}

TEST(HostSettings, FrameworkRefusesWithTheFirstComplaint) {
  for (const HostCase& c : kCases) {
    OSKAIDevice device;
    bool accepted = false;
    EXPECT_NO_THROW(accepted = device.InitSetting(ParseJson(Settings(c)))) << c.host;
    EXPECT_EQ(accepted, std::string(c.refusal).empty()) << c.host;
    EXPECT_EQ(sim::LastSettingsError(device), c.refusal) << c.host;
  }
}

TEST(HostSettings, CheckSaysTheRefusalAndTheUnreadMembers) {
  ScratchDir scratch;
  std::string sites;
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    scratch.Write("host-" + std::to_string(i) + "/settings.json", Settings(kCases[i]));
    sites += " host-" + std::to_string(i);
  }
  const testing_support::SimRun run = testing_support::RunSim("check --format json" + sites);
  EXPECT_EQ(run.status, 1) << run.err;
  const Json::Value document = ParseJson(run.out);
  ASSERT_EQ(document["sites"].size(), std::size(kCases)) << run.out;
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    const HostCase& c = kCases[i];
    const Json::Value& site = document["sites"][static_cast<int>(i)];
    const bool refused = !std::string(c.refusal).empty();
    EXPECT_EQ(site["accepted"].asBool(), !refused) << c.host;
    int refusals = 0;
    std::string unknown, negative;
    for (const Json::Value& finding : site["findings"]) {
      const std::string code = finding["code"].asString();
      if (code == "settings-refused") {
        ++refusals;
        EXPECT_EQ(finding["place"].asString(), "/hostSetting") << c.host;
        EXPECT_THAT(finding["message"].asString(),
                    HasSubstr(std::string("the host refuses its settings: ") + c.refusal + "."))
            << c.host;
      } else if (code == "unknown-key") {
        unknown += (unknown.empty() ? "" : " ") + finding["place"].asString();
      } else if (code == "alarm-level-negative") {
        negative += finding["place"].asString();
      } else {
        // Nothing else of the host's settings is wrong in these sites.
        EXPECT_EQ(finding["severity"].asString(), "note") << c.host << ": " << finding;
      }
    }
    EXPECT_EQ(refusals, refused ? 1 : 0) << c.host;
    EXPECT_EQ(unknown, c.unknown) << c.host;
    // Accepted, but a level the host has no use for.
    const bool below_zero = std::string(c.host).find("\"level\":-") != std::string::npos;
    EXPECT_EQ(negative, below_zero ? "/hostSetting/alarms/x/level" : "") << c.host;
  }
}

// What a refusal keeps: gain, offset and channel readings only when the whole
// "hostSetting" is accepted; alarm and report entries read before the
// complaint stay.
TEST(HostSettings, RefusalKeepsOnlyTheEntriesReadBeforeIt) {
  OSKAIDevice device;
  ASSERT_TRUE(device.InitSetting(ParseJson(R"({"hostSetting":{"aiGain":2,"channels":{"1":9}}})")));
  EXPECT_FALSE(device.InitSetting(ParseJson(R"({"hostSetting":{"aiGain":3,"aiOffset":1,
      "channels":{"1":5,"2":6},
      "alarms":{"110610040010":{"level":2,"value":57},"110610050010":{"level":"x"},
                "110610060010":{"level":1,"value":46}}}})")));
  EXPECT_EQ(device.ai_gain_, 2);
  EXPECT_EQ(device.ai_offset_, 0);
  EXPECT_EQ(device.ReadAi(1), 9);
  EXPECT_EQ(device.ReadAi(2), 0);
  // Entries are read in key order: the first was read, the third never.
  EXPECT_EQ(device.alarm_levels_.count("110610040010"), 1u);
  EXPECT_EQ(device.alarm_levels_.count("110610050010"), 0u);
  EXPECT_EQ(device.alarm_levels_.count("110610060010"), 0u);

  // A report entry replaces the whole earlier one: a trigger not named is off.
  ASSERT_TRUE(device.InitSetting(ParseJson(
      R"({"hostSetting":{"aoReport":{"7":{"change":0.5,"periodMinutes":15,"lastReportTime":9}}}})")));
  ASSERT_TRUE(device.InitSetting(ParseJson(R"({"hostSetting":{"aoReport":{"7":{"percent":2}}}})")));
  const OSKVDevice::BAOSetting& report = device.ao_report_settings_.at("7");
  EXPECT_FALSE(report.change_enabled);
  EXPECT_FALSE(report.period_enabled);
  EXPECT_TRUE(report.percent_enabled);
  EXPECT_EQ(report.percent_value, 2);
  EXPECT_EQ(report.last_report_time, 0u);
}

}  // namespace
