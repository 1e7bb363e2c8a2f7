// The plot's threshold lines are what the device made of its settings: for
// every example site and check fixture the device accepts, the host alarms,
// the discharge lines and the limit lines follow the device's state, however
// the settings spell the values.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "sim/host/plugin_host.h"
#include "sim/host/session.h"
#include "sim/replay/csv_trace.h"
#include "sim/replay/replay.h"
#include "sim/report/plot.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using sim::cli::DeviceState;
using sim::cli::Threshold;

// Configures a device in the site's folder, as the replay does; false when
// the device refuses the settings.
bool StateOf(const fs::path& site, DeviceState& state) {
  Json::Value settings;
  std::string error;
  try {
    if (!sim::cli::ReadSettingsFile((site / "settings.json").string(), settings, error)) {
      return false;
    }
  } catch (const std::exception&) {
    return false;  // deeper than the reader goes
  }
  const fs::path back = fs::current_path();
  fs::current_path(site);
  sim::cli::Host host;
  bool read = false;
  if (host.Load(fs::path(AIKORVANE_PLUGIN_PATH)).empty()) {
    sim::cli::DevicePtr device = host.NewDevice(7, settings, nullptr, error);
    testing_support::CoutCapture quiet;
    try {
      read = device && device->InitSetting(settings) &&
             sim::cli::ReadDeviceState(*device, state, error);
    } catch (const std::exception&) {
      read = false;
    }
  }
  fs::current_path(back);
  return read;
}

std::vector<fs::path> Sites() {
  std::vector<fs::path> sites;
  auto add_children = [&sites](const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      std::error_code unreadable;
      if (fs::is_regular_file(entry.path() / "settings.json", unreadable)) {
        sites.push_back(entry.path());
      }
    }
  };
  add_children(AIKORVANE_EXAMPLES);
  add_children(fs::path(AIKORVANE_EXAMPLES) / "fleet");
  add_children(fs::path(AIKORVANE_SOURCE_TESTS) / "fixtures" / "check");
  return sites;
}

std::vector<double> ValuesLabelled(const std::vector<Threshold>& lines, const std::string& part) {
  std::vector<double> values;
  for (const Threshold& line : lines) {
    if (line.label.find(part) != std::string::npos) values.push_back(line.value);
  }
  return values;
}

TEST(PlotThresholds, FollowTheDeviceStateOfEverySite) {
  int accepted = 0;
  for (const fs::path& site : Sites()) {
    DeviceState state;
    if (!StateOf(site, state)) continue;
    ++accepted;
    const std::vector<Threshold> lines = CollectThresholds(state, sim::cli::Analysis{});
    const auto& ch = state.channel;
    std::vector<double> discharge;
    if (state.b_mode == 2 && ch.discharge_v_ > 0.01f) {
      discharge.push_back(ch.discharge_v_);
      if (ch.discharge_v_end_ != ch.discharge_v_) discharge.push_back(ch.discharge_v_end_);
    }
    EXPECT_EQ(ValuesLabelled(lines, "discharge"), discharge) << site;
    std::vector<double> limits;
    if (state.b_mode == 5) {
      for (const auto& table : state.limits) {
        for (const auto& [signal, entry] : table) limits.push_back(std::get<1>(entry));
      }
    }
    EXPECT_EQ(ValuesLabelled(lines, "Value"), limits) << site;
    size_t alarms = 0;
    for (const auto& [id, level] : state.alarm_levels) alarms += level != 0 ? 1 : 0;
    EXPECT_EQ(lines.size(), alarms + discharge.size() + limits.size()) << site;
    EXPECT_EQ(sim::cli::DefaultChannel(state),
              ch.ai_index_ >= 1 && ch.ai_index_ <= sim::cli::kMaxChannel ? ch.ai_index_ : 1)
        << site;
  }
  EXPECT_GE(accepted, 20);
}

const fs::path kFixtures = fs::path(AIKORVANE_SOURCE_TESTS) / "fixtures" / "check";

// The device reads the leading number of "49V" and runs its discharge
// report: the plot draws the start line the device uses (the end follows it).
TEST(PlotThresholds, DischargeGivenWithAUnitIsDrawn) {
  DeviceState state;
  ASSERT_TRUE(StateOf(kFixtures / "not-a-number.discharge-49V", state));
  const std::vector<Threshold> lines = CollectThresholds(state, sim::cli::Analysis{});
  EXPECT_EQ(ValuesLabelled(lines, "discharge start"), std::vector<double>{49});
  EXPECT_TRUE(ValuesLabelled(lines, "discharge end").empty());
}

// 5.0 and "5" are mode 5 to the device, as 5 is: the same limit lines.
TEST(PlotThresholds, ModeFiveSpelledOtherwiseDrawsTheSameLimits) {
  DeviceState plain, real, text;
  ASSERT_TRUE(StateOf(fs::path(AIKORVANE_EXAMPLES) / "limits", plain));
  ASSERT_TRUE(StateOf(kFixtures / "profile-missing.b-mode-real", real));
  ASSERT_TRUE(StateOf(kFixtures / "profile-missing.b-mode-text", text));
  const auto values = [](const DeviceState& state) {
    return ValuesLabelled(CollectThresholds(state, sim::cli::Analysis{}), "Value");
  };
  EXPECT_EQ(values(plain).size(), 4u);
  EXPECT_EQ(values(real), values(plain));
  EXPECT_EQ(values(text), values(plain));
}

// Outside mode 2 the device never reports a discharge, and outside mode 5
// never checks its limit tables: no lines for either.
TEST(PlotThresholds, LinesOnlyWhereTheModeUsesThem) {
  DeviceState state;
  state.channel.discharge_v_ = 47.5f;
  state.channel.discharge_v_end_ = 49;
  state.limits[0]["v"] = ThresholdEntry{"1001", 56, 55, false, 1};
  for (int mode : {0, 1, 3, 4, 6}) {
    state.b_mode = mode;
    EXPECT_TRUE(CollectThresholds(state, sim::cli::Analysis{}).empty()) << mode;
  }
  state.b_mode = 2;
  EXPECT_EQ(CollectThresholds(state, sim::cli::Analysis{}).size(), 2u);
  state.b_mode = 5;
  EXPECT_EQ(CollectThresholds(state, sim::cli::Analysis{}).size(), 1u);
  // A start of 0.01 or less turns the report off, end line included.
  state.b_mode = 2;
  state.channel.discharge_v_ = 0.01f;
  EXPECT_TRUE(CollectThresholds(state, sim::cli::Analysis{}).empty());
}

// A host alarm is drawn where the host raises it: a level that is not 0 and
// a threshold the host holds.
TEST(PlotThresholds, HostAlarmsWithALevelAndAValue) {
  DeviceState state;
  state.alarm_levels = {{"a", 0}, {"b", 2}, {"c", 3}};
  state.alarm_values = {{"a", 50}, {"b", 51}};
  const std::vector<Threshold> lines = CollectThresholds(state, sim::cli::Analysis{});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].label, "b");
  EXPECT_EQ(lines[0].value, 51);
}

}  // namespace
