#pragma once

// The replay drawn as SVG: the voltage (an envelope of lowest and highest per
// column once rounds outnumber columns), the configured thresholds, a lane
// per alarm and the discharge reports, over a clock-time axis when the rounds
// ran on the virtual clock, else over round numbers.

#include <json/value.h>

#include <ctime>
#include <string>
#include <vector>

#include "sim/host/plugin_host.h"
#include "sim/report/analysis.h"
#include "sim/report/plot_layout.h"

namespace sim::cli {

// A configured alarm threshold, for the plot.
struct Threshold {
  std::string label;
  double value = 0;
};

// The thresholds the device works with, as its settings left it: the host's
// alarm values, the discharge start and end voltages where its mode runs the
// discharge report, and the limits of its limit tables where its mode checks
// them.
std::vector<Threshold> CollectThresholds(const DeviceState& state, const Analysis& analysis);

std::string RenderSvg(const Analysis& analysis, const std::vector<Threshold>& thresholds);
// The baseline's voltage, both sides' reports, with a lane of each side under each
// alarm that either side raised: where a settings change moves an alarm.
std::string RenderComparisonSvg(const Analysis& baseline, const Analysis& candidate,
                                const std::vector<Threshold>& thresholds);

// The rounds of the baseline's zoom window, with what each side did in them;
// an alarm raised when the window opens is raised at its first round.
Analysis ZoomedAnalysis(const Analysis& whole, const ZoomWindow& zoom);
// The hour either side of where the sides first differ, each raise a shape of
// its own; empty when they never differ.
std::string RenderZoomSvg(const Analysis& baseline, const Analysis& candidate,
                          const std::vector<Threshold>& thresholds);

}  // namespace sim::cli
