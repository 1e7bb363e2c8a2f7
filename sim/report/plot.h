#pragma once

// The replay drawn as SVG: the voltage (an envelope of lowest and highest per
// column once rounds outnumber columns), the configured thresholds, a lane
// per alarm and the discharge reports, over a clock-time axis when the rounds
// ran on the virtual clock, else over round numbers.

#include <json/value.h>

#include <ctime>
#include <string>
#include <vector>

#include "sim/report/analysis.h"
#include "sim/report/plot_layout.h"

namespace sim::cli {

// A configured alarm threshold, for the plot.
struct Threshold {
  std::string label;
  double value = 0;
};

// Thresholds named by a settings object: the framework's alarm values, the
// discharge start and end voltages and the limits of the limit records.
std::vector<Threshold> CollectThresholds(const Json::Value& settings, const Analysis& analysis);

std::string RenderSvg(const Analysis& analysis, const std::vector<Threshold>& thresholds);
// The baseline's voltage and reports, with a lane of each side under each
// alarm that either side raised: where a settings change moves an alarm.
std::string RenderComparisonSvg(const Analysis& baseline, const Analysis& candidate,
                                const std::vector<Threshold>& thresholds);

}  // namespace sim::cli
