// Sample conversion: which path a sample takes, how each mode scales it, the
// host's input correction, the three-segment calibration and the log lines.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plugin/aikorvane.h"
#include "sim/framework/sim_framework.h"
#include "support/test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing_support::CoutCapture;

// A device whose framework calls are recorded; the test sets members directly.
class Converter {
 public:
  Converter() { sim::SetSink(device, sink); }

  float Process(short sample) {
    sink->Clear();
    CoutCapture capture;
    const float value = device.process(sample);
    lines = capture.Lines();
    return value;
  }
  // Channels read by the last sample, in order.
  std::vector<int> ChannelsRead() const {
    std::vector<int> channels;
    for (const auto& event : sink->Events("ReadAi")) channels.push_back(event["channel"].asInt());
    return channels;
  }
  // Log lines of the conversion itself (the round adds its own after them).
  std::vector<std::string> ConversionLines() const {
    std::vector<std::string> own;
    for (const auto& line : lines) {
      if (line.rfind("AIKorvane::process(", 0) == 0 || line.rfind("read ai_index_:", 0) == 0 ||
          line.rfind("value:", 0) == 0) {
        own.push_back(line);
      }
    }
    return own;
  }

  AIKorvane device;
  std::shared_ptr<sim::RecordingSink> sink = std::make_shared<sim::RecordingSink>();
  std::vector<std::string> lines;
};

// ---- paths and modes -----------------------------------------------------

struct ConversionCase {
  const char* name;
  int ai_mode;
  float min;
  float max;
  int max_v;
  int real_value;
  int ai_index;
  bool current_mode;
  std::map<int, float> readings;
  short sample;
  float expected;
  std::optional<int> channel_read;  // nullopt: the raw path, nothing read
  int ai_index_after;
};

const ConversionCase kConversionCases[] = {
    // Channel orders.
    {"order reads the named channel", 1, 0, 100, 5, 0, 0, false, {{3, 12}}, 20003, 50, 3, 3},
    {"order with real_value reads ai_index",
     1,
     0,
     100,
     5,
     1,
     7,
     false,
     {{3, 20}, {7, 12}},
     20003,
     50,
     7,
     7},
    {"largest order", 2, 0, 0, 5, 0, 0, false, {{12767, 1.5f}}, 32767, 1.5f, 12767, 12767},
    {"20001 names channel 1", 2, 0, 0, 5, 0, 9, false, {{1, 4.25f}}, 20001, 4.25f, 1, 1},
    // 20000 itself is a raw reading: twice full scale.
    {"20000 is raw", 0, 0, 60, 5, 0, 4, false, {{0, 99}}, 20000, 120, std::nullopt, 4},
    // Raw path, modes 0..2 and negative scale onto min..max; 4 and above give 0.
    {"raw mode 0 half scale", 0, 0, 60, 5, 0, 0, false, {}, 5000, 30, std::nullopt, 0},
    {"raw mode 0 adds min", 0, 10, 60, 5, 0, 0, false, {}, 2500, 22.5f, std::nullopt, 0},
    {"raw mode 0 zero", 0, 10, 60, 5, 0, 0, false, {}, 0, 10, std::nullopt, 0},
    {"raw negative sample", 0, 0, 10000, 5, 0, 0, false, {}, -5, -5, std::nullopt, 0},
    {"raw most negative sample", 0, 0, 100, 5, 0, 0, false, {}, -32768, -327.68f, std::nullopt, 0},
    {"raw mode 1", 1, 0, 60, 5, 0, 0, false, {}, 5000, 30, std::nullopt, 0},
    {"raw mode 2", 2, 0, 60, 5, 0, 0, false, {}, 5000, 30, std::nullopt, 0},
    {"raw mode -1", -1, 0, 60, 5, 0, 0, false, {}, 5000, 30, std::nullopt, 0},
    {"raw mode -100", -100, 20, 60, 5, 0, 0, false, {}, 10000, 60, std::nullopt, 0},
    {"raw mode 4", 4, 0, 60, 5, 0, 0, false, {{0, 7}}, 5000, 0, std::nullopt, 0},
    {"raw mode 9", 9, 10, 60, 5, 0, 0, false, {}, 5000, 0, std::nullopt, 0},
    {"raw mode 4 ignores current mode", 4, 0, 100, 5, 0, 0, true, {}, 6012, 0, std::nullopt, 0},
    // Mode 3 and real_value always read ai_index_, ignoring a raw sample.
    {"mode 3 reads ai_index", 3, 0, 100, 5, 0, 2, false, {{2, 7.25f}}, 5000, 7.25f, 2, 2},
    {"mode 3 order", 3, 0, 100, 5, 0, 2, false, {{4, 8.5f}}, 20004, 8.5f, 4, 4},
    {"real_value with raw sample", 0, 0, 60, 5, 1, 6, false, {{6, 2.5f}}, 5000, 30, 6, 6},
    // Channel readings by mode.
    {"mode 0 scales volts to span", 0, 0, 60, 5, 0, 0, false, {{1, 2.5f}}, 20001, 30, 1, 1},
    {"mode 0 span without min", 0, 10, 60, 5, 0, 0, false, {{1, 5}}, 20001, 50, 1, 1},
    {"mode 0 max_v 10", 0, 0, 100, 10, 0, 0, false, {{1, 5}}, 20001, 50, 1, 1},
    {"mode 0 max 0 passes reading", 0, 0, 0, 5, 0, 0, false, {{1, 3.3f}}, 20001, 3.3f, 1, 1},
    {"mode 0 max 0 with min passes", 0, -40, 0, 5, 0, 0, false, {{1, 3.3f}}, 20001, 3.3f, 1, 1},
    {"mode 1 reading 12", 1, 0, 100, 5, 0, 0, false, {{1, 12}}, 20001, 50, 1, 1},
    {"mode 1 reading 3.9", 1, 0, 100, 5, 0, 0, false, {{1, 3.9f}}, 20001, 0, 1, 1},
    {"mode 1 reading 4", 1, 0, 100, 5, 0, 0, false, {{1, 4}}, 20001, 0, 1, 1},
    {"mode 1 reading 20", 1, 0, 100, 5, 0, 0, false, {{1, 20}}, 20001, 100, 1, 1},
    {"mode 1 reading 24 unclamped", 1, 0, 100, 5, 0, 0, false, {{1, 24}}, 20001, 125, 1, 1},
    {"mode 1 span without min", 1, 20, 100, 5, 0, 0, false, {{1, 12}}, 20001, 40, 1, 1},
    {"mode 1 negative reading", 1, 0, 100, 5, 0, 0, false, {{1, -8}}, 20001, 0, 1, 1},
    {"mode 2 unchanged", 2, 0, 100, 5, 0, 0, false, {{1, 12}}, 20001, 12, 1, 1},
    {"mode 4 unchanged", 4, 0, 100, 5, 0, 0, false, {{1, 12}}, 20001, 12, 1, 1},
    {"mode -1 unchanged", -1, 0, 100, 5, 0, 0, false, {{1, 12}}, 20001, 12, 1, 1},
    {"unknown channel reads 0", 1, 0, 100, 5, 0, 0, false, {}, 20009, 0, 9, 9},
    // The current-loop formula belongs to the raw path only.
    {"channel ignores current mode", 2, 0, 100, 5, 0, 0, true, {{1, 3}}, 20001, 3, 1, 1},
};

class ConversionTable : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ConversionTable, ValueChannelAndIndex) {
  const ConversionCase& c = GetParam();
  Converter converter;
  AIKorvane& device = converter.device;
  device.ai_mode_ = c.ai_mode;
  device.min_ = c.min;
  device.max_ = c.max;
  device.max_v_ = c.max_v;
  device.real_value_ = c.real_value;
  device.ai_index_ = c.ai_index;
  device.is_current_mode_ = c.current_mode;
  for (const auto& [channel, reading] : c.readings) sim::SetAiReading(device, channel, reading);

  const float value = converter.Process(c.sample);
  EXPECT_FLOAT_EQ(value, c.expected);
  EXPECT_EQ(device.data_.voltage, value);
  if (c.channel_read) {
    EXPECT_THAT(converter.ChannelsRead(), ElementsAre(*c.channel_read));
  } else {
    EXPECT_TRUE(converter.ChannelsRead().empty());
  }
  EXPECT_EQ(device.ai_index_, c.ai_index_after);
}

INSTANTIATE_TEST_SUITE_P(Samples, ConversionTable, ::testing::ValuesIn(kConversionCases),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) {
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

TEST(Conversion, ChannelFromAnOrderIsKeptForLaterSamples) {
  Converter converter;
  AIKorvane& device = converter.device;
  device.ai_mode_ = 3;
  sim::SetAiReading(device, 3, 11);
  sim::SetAiReading(device, 5, 22);
  EXPECT_FLOAT_EQ(converter.Process(20003), 11);
  // Mode 3 reads ai_index_ for a raw sample: still channel 3.
  EXPECT_FLOAT_EQ(converter.Process(100), 11);
  EXPECT_THAT(converter.ChannelsRead(), ElementsAre(3));
  EXPECT_FLOAT_EQ(converter.Process(20005), 22);
  EXPECT_EQ(device.ai_index_, 5);
}

TEST(Conversion, RealValueNeverMovesTheChannel) {
  Converter converter;
  AIKorvane& device = converter.device;
  device.ai_mode_ = 2;
  device.real_value_ = 1;
  device.ai_index_ = 2;
  sim::SetAiReading(device, 2, 6.5f);
  for (short sample : {20003, 20000, 0, -1, 32767}) {
    EXPECT_FLOAT_EQ(converter.Process(sample), 6.5f) << sample;
    EXPECT_THAT(converter.ChannelsRead(), ElementsAre(2)) << sample;
  }
  EXPECT_EQ(device.ai_index_, 2);
}

TEST(Conversion, ResultIsSentInTheRecordAndTheRoundCloses) {
  Converter converter;
  converter.device.max_ = 60;
  converter.Process(5000);
  const auto sent = converter.sink->Events("SendSP");
  ASSERT_EQ(sent.size(), 1u);
  // data id 0, then 30.0f = 0x41F00000 little-endian.
  EXPECT_EQ(sent[0]["bytes"].asString().substr(0, 16), "000000000000F041");
  EXPECT_EQ(converter.sink->Events("SaveDeviceHistory").size(), 1u);
}

// ---- current-loop raw signal ---------------------------------------------

struct CurrentCase {
  const char* name;
  float min;
  float max;
  short sample;
  float expected;
  float tolerance;
  const char* log_line;
};

TEST(CurrentMode, OneToFiveVoltSignal) {
  // 6012 stands for 2.99999 V (u = 1.99999), 2004 for 1.0 V (u = 0), 0 for 0 V.
  const CurrentCase cases[] = {
      {"3 V", 0, 100, 6012, 50, 0.001f, "value:1.99999 49.9997"},
      {"1 V", 0, 100, 2004, 0, 0.001f, "value:-4e-06 -0.0001"},
      {"0 V", 0, 100, 0, -25, 0, "value:-1 -25"},
      // min_ is not added, only the span counts.
      {"0 V with min", 10, 110, 0, -25, 0, "value:-1 -25"},
      {"full scale", 0, 8, 10000, 7.98f, 0.0001f, "value:3.99 7.98"},
      {"negative sample", 0, 4, -10000, -5.99f, 0.0001f, "value:-5.99 -5.99"},
  };
  for (const auto& c : cases) {
    Converter converter;
    converter.device.is_current_mode_ = true;
    converter.device.min_ = c.min;
    converter.device.max_ = c.max;
    const float value = converter.Process(c.sample);
    EXPECT_NEAR(value, c.expected, c.tolerance) << c.name;
    EXPECT_THAT(converter.ConversionLines(),
                ElementsAre(std::string("AIKorvane::process(") + std::to_string(c.sample) +
                                " is_current_mode_:1",
                            c.log_line))
        << c.name;
  }
}

TEST(CurrentMode, ComputedInDoubleThenNarrowed) {
  // With a span of 0.3f these samples come out differently when u or the
  // product is kept in single precision: 777 gives -0.0459207781 (double)
  // against -0.0459207743, 6012 gives 0.149999112 against 0.149999097.
  for (short sample : {777, 6012}) {
    Converter converter;
    converter.device.is_current_mode_ = true;
    converter.device.max_ = 0.3f;
    const double u = sample * 0.998 * 5 / 10000 - 1;
    const float expected = static_cast<float>((u / 4) * static_cast<double>(0.3f));
    const float single_u = sample * 0.998f * 5 / 10000 - 1;
    const float all_single = (single_u / 4) * 0.3f;
    const float narrowed_early = static_cast<float>(u / 4) * 0.3f;
    ASSERT_TRUE(expected != all_single || expected != narrowed_early) << sample;
    EXPECT_EQ(converter.Process(sample), expected) << sample;
  }
}

// ---- correction and calibration ------------------------------------------

TEST(Correction, GainAndOffsetApplyBeforeCalibration) {
  Converter converter;
  AIKorvane& device = converter.device;
  device.max_ = 60;
  device.ai_gain_ = 2;
  device.ai_offset_ = 1;
  EXPECT_FLOAT_EQ(converter.Process(5000), 61);
  // Calibrated on the corrected value: 61 falls in segment 3.
  device.x1_ = 0;
  device.x2_ = 10;
  device.x3_ = 50;
  device.x4_ = 100;
  device.slope3_ = 0.5f;
  device.intercept3_ = 3;
  EXPECT_FLOAT_EQ(converter.Process(5000), 33.5f);
}

TEST(Correction, HostSettingsProvideTheCorrection) {
  testing_support::ScratchDir scratch;
  Converter converter;
  AIKorvane& device = converter.device;
  Json::Value settings;
  settings["appSetting"]["max"] = 60;
  settings["hostSetting"]["aiGain"] = 0.5;
  settings["hostSetting"]["aiOffset"] = -2;
  {
    CoutCapture quiet;
    ASSERT_TRUE(device.InitSetting(settings));
  }
  EXPECT_FLOAT_EQ(converter.Process(5000), 13);
}

struct CalibrationCase {
  const char* name;
  float x[4];
  float segments[6];  // slope1, intercept1, slope2, intercept2, slope3, intercept3
  float corrected;
  float expected;
};

TEST(Calibration, SegmentChosenByFirstMatchingPoint) {
  const CalibrationCase cases[] = {
      {"segment 2", {1, 2, 3, 4}, {10, 0, 10, 0, 10, 0}, 2.5f, 25},
      {"x4 itself, segment 3", {1, 2, 3, 4}, {10, 0, 10, 0, 10, 0}, 4, 40},
      {"x3 itself", {1, 2, 3, 4}, {1, 100, 1, 200, 1, 300}, 3, 303},
      {"x2 itself", {1, 2, 3, 4}, {1, 100, 1, 200, 1, 300}, 2, 202},
      {"x1 itself", {1, 2, 3, 4}, {1, 100, 1, 200, 1, 300}, 1, 101},
      {"below x1 passes", {1, 2, 3, 4}, {1, 100, 1, 200, 1, 300}, 0.5f, 0.5f},
      {"above x4 passes", {1, 2, 3, 4}, {1, 100, 1, 200, 1, 300}, 4.5f, 4.5f},
      {"negative range", {-4, -3, -2, -1}, {1, 100, 1, 200, 1, 300}, -3.5f, 96.5f},
      // Unsorted points: tests run x3, x2, x1 and the first that holds wins.
      {"x3 below x2 wins first", {0.5f, 3, 2, 5}, {1, 100, 1, 200, 1, 300}, 2.5f, 302.5f},
      {"between x1 and unsorted x3", {0.5f, 3, 2, 5}, {1, 100, 1, 200, 1, 300}, 1.5f, 101.5f},
      {"x3 below x1", {2, 3, 1, 5}, {1, 100, 1, 200, 1, 300}, 2.5f, 302.5f},
      {"x4 below x1 never enters", {3, 2, 2.5f, 1}, {1, 100, 1, 200, 1, 300}, 2, 2},
      // Default points: only exactly 0 enters, through segment 3.
      {"zero points, value 0", {0, 0, 0, 0}, {1, 100, 1, 200, 2, 5}, 0, 5},
      {"zero points, value 0.1", {0, 0, 0, 0}, {1, 100, 1, 200, 2, 5}, 0.1f, 0.1f},
      {"zero points, value -0.1", {0, 0, 0, 0}, {1, 100, 1, 200, 2, 5}, -0.1f, -0.1f},
  };
  for (const auto& c : cases) {
    Converter converter;
    AIKorvane& device = converter.device;
    device.ai_mode_ = 2;  // the reading passes unchanged
    sim::SetAiReading(device, 1, c.corrected);
    device.x1_ = c.x[0];
    device.x2_ = c.x[1];
    device.x3_ = c.x[2];
    device.x4_ = c.x[3];
    device.slope1_ = c.segments[0];
    device.intercept1_ = c.segments[1];
    device.slope2_ = c.segments[2];
    device.intercept2_ = c.segments[3];
    device.slope3_ = c.segments[4];
    device.intercept3_ = c.segments[5];
    EXPECT_FLOAT_EQ(converter.Process(20001), c.expected) << c.name;
  }
}

TEST(Calibration, PointsFromSettingsGiveTheCurve) {
  testing_support::ScratchDir scratch;
  Converter converter;
  AIKorvane& device = converter.device;
  Json::Value settings;
  Json::Value& app = settings["appSetting"];
  app["max"] = 10;
  const char* keys[] = {"x1", "y1", "x2", "y2", "x3", "y3", "x4", "y4"};
  const int values[] = {1, 10, 2, 20, 3, 30, 4, 40};
  for (int i = 0; i < 8; ++i) app[keys[i]] = values[i];
  {
    CoutCapture quiet;
    device.InitSetting(settings);
  }
  // Raw samples scale onto 0..10, then the curve multiplies by 10 in range.
  const std::pair<short, float> cases[] = {
      {2500, 25}, {4000, 40}, {1000, 10}, {500, 0.5f}, {4500, 4.5f}, {3000, 30},
  };
  for (const auto& [sample, expected] : cases) {
    EXPECT_FLOAT_EQ(converter.Process(sample), expected) << sample;
  }
}

// ---- log lines -------------------------------------------------------------

TEST(ConversionLog, LinesAreByteExact) {
  struct LogCase {
    const char* name;
    int ai_mode;
    int max_v;
    bool current_mode;
    float reading;
    short sample;
    std::vector<std::string> expected;
  };
  const LogCase cases[] = {
      {"order",
       1,
       5,
       false,
       12,
       20003,
       {"AIKorvane::process(20003 is_current_mode_:0", "read ai_index_:3 ai 12 ai_mode:1 max_v:5"}},
      {"six significant digits",
       0,
       10,
       false,
       12.345678f,
       20007,
       {"AIKorvane::process(20007 is_current_mode_:0",
        "read ai_index_:7 ai 12.3457 ai_mode:0 max_v:10"}},
      {"negative reading and mode",
       -2,
       5,
       true,
       -0.5f,
       20001,
       {"AIKorvane::process(20001 is_current_mode_:1",
        "read ai_index_:1 ai -0.5 ai_mode:-2 max_v:5"}},
      {"raw sample", 0, 5, false, 0, -7, {"AIKorvane::process(-7 is_current_mode_:0"}},
      {"mode 3 raw",
       3,
       5,
       false,
       2.5f,
       100,
       {"AIKorvane::process(100 is_current_mode_:0", "read ai_index_:0 ai 2.5 ai_mode:3 max_v:5"}},
  };
  for (const auto& c : cases) {
    Converter converter;
    AIKorvane& device = converter.device;
    device.ai_mode_ = c.ai_mode;
    device.max_v_ = c.max_v;
    device.max_ = 100;
    device.is_current_mode_ = c.current_mode;
    for (int channel : {0, 1, 3, 7}) sim::SetAiReading(device, channel, c.reading);
    converter.Process(c.sample);
    EXPECT_EQ(converter.ConversionLines(), c.expected) << c.name;
    ASSERT_FALSE(converter.lines.empty());
    EXPECT_EQ(converter.lines.front(), c.expected.front()) << "the conversion logs first";
  }
}

TEST(ConversionLog, NothingButTheOpeningLineOnAPlainRawSample) {
  Converter converter;
  converter.device.max_ = 60;
  converter.Process(5000);
  ASSERT_GE(converter.lines.size(), 1u);
  EXPECT_EQ(converter.lines[0], "AIKorvane::process(5000 is_current_mode_:0");
  for (const auto& line : converter.lines) {
    EXPECT_THAT(line, ::testing::Not(HasSubstr("read ai_index_"))) << line;
    EXPECT_NE(line.rfind("value:", 0), 0u) << line;
  }
}

}  // namespace
