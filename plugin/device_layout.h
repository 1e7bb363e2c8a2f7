#pragma once

// Where the members that the simulator reads live inside an AIKorvane object.
// The plug-in carries this record in its own ELF section (device_layout.cpp)
// and the simulator compares it with the record computed from the headers it
// was built with: a plug-in built from other sources is not read through a
// class definition that does not fit it.

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "plugin/aikorvane.h"

// Section of the plug-in file that holds the record. Not an exported symbol:
// the plug-in's dynamic symbol table keeps only get_providers.
#define AIKORVANE_LAYOUT_SECTION ".aikorvane.layout"
// Section that holds the package version the plug-in was built as, a
// NUL-terminated text: data only, so that a build can be told apart from its
// file alone. Builds before it keep none.
#define AIKORVANE_VERSION_SECTION ".aikorvane.version"

struct DeviceLayout {
  char tag[8];  // "AIKLAY1": a new record format gets a new tag
  uint32_t words[64];
};

// offsetof on a class with virtual functions is conditionally supported; GCC
// and clang support it for classes without virtual bases, which is what this
// class tree is, and evaluate it at compile time.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
constexpr DeviceLayout MakeDeviceLayout() {
  DeviceLayout layout{{'A', 'I', 'K', 'L', 'A', 'Y', '1', '\0'}, {}};
  const std::size_t words[] = {
      sizeof(AIKorvane),
      sizeof(Json::Value),
      sizeof(std::mutex),
      sizeof(std::string),
      sizeof(ThresholdEntry),
      sizeof(ThresholdTable),
      sizeof(AiSignalTable),
      sizeof(TextTable),
      sizeof(std::map<std::string, int>),
      sizeof(std::map<std::string, float>),
      sizeof(aikorvane::config::ChannelSettings),
      offsetof(AIKorvane, alarm_levels_),
      offsetof(AIKorvane, alarm_values_),
      offsetof(AIKorvane, b_mode_),
      offsetof(AIKorvane, alarm_report_prefix_),
      offsetof(AIKorvane, alarm_signal_names_),
      offsetof(AIKorvane, alarm_rules_),
      offsetof(AIKorvane, up_thresholds_),
      offsetof(AIKorvane, up2_thresholds_),
      offsetof(AIKorvane, low_thresholds_),
      offsetof(AIKorvane, low2_thresholds_),
      offsetof(AIKorvane, value_mutex_),
      offsetof(AIKorvane, value_),
      offsetof(AIKorvane, ai_signals_),
      offsetof(AIKorvane, min_),
      offsetof(AIKorvane, max_),
      offsetof(AIKorvane, y1_),
      offsetof(AIKorvane, x1_),
      offsetof(AIKorvane, y2_),
      offsetof(AIKorvane, x2_),
      offsetof(AIKorvane, y3_),
      offsetof(AIKorvane, x3_),
      offsetof(AIKorvane, y4_),
      offsetof(AIKorvane, x4_),
      offsetof(AIKorvane, slope1_),
      offsetof(AIKorvane, intercept1_),
      offsetof(AIKorvane, slope2_),
      offsetof(AIKorvane, intercept2_),
      offsetof(AIKorvane, slope3_),
      offsetof(AIKorvane, intercept3_),
      offsetof(AIKorvane, is_current_mode_),
      offsetof(AIKorvane, ai_index_),
      offsetof(AIKorvane, ai_mode_),
      offsetof(AIKorvane, max_v_),
      offsetof(AIKorvane, real_value_),
      offsetof(AIKorvane, discharge_v_),
      offsetof(AIKorvane, discharge_v_end_),
      offsetof(AIKorvane, discharge_v_diff_),
  };
  static_assert(sizeof(words) / sizeof(words[0]) <= sizeof(DeviceLayout::words) / 4);
  for (std::size_t i = 0; i < sizeof(words) / sizeof(words[0]); ++i) {
    layout.words[i] = static_cast<uint32_t>(words[i]);
  }
  return layout;
}
#pragma GCC diagnostic pop
