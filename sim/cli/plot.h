#pragma once

// The replay drawn as SVG: the voltage (an envelope of lowest and highest per
// column once rounds outnumber columns), the configured thresholds, a lane
// per alarm and the discharge reports, over a clock-time axis when the rounds
// ran on the virtual clock, else over round numbers.

#include <json/value.h>

#include <ctime>
#include <string>
#include <vector>

#include "sim/cli/analysis.h"

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

// Ticks of a value axis from low to high: multiples of 1, 2 or 5 times a
// power of ten, the step chosen so that at most max_ticks fall in the range.
std::vector<double> ValueTicks(double low, double high, int max_ticks);

// Ticks of a clock axis from first to last: whole minutes, hours or days of
// the local time zone, at most max_ticks of them.
std::vector<std::time_t> TimeTicks(std::time_t first, std::time_t last, int max_ticks);

// Labels of width `width` wanted at positions `at` (ascending) on rows of
// their own: the row (0 up to rows - 1) each label goes to so that no two on
// one row overlap, or -1 when every row is taken there (the label is dropped).
std::vector<int> StackLabels(const std::vector<double>& at, const std::vector<double>& width,
                             int rows);

}  // namespace sim::cli
