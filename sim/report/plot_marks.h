#pragma once

// What the plots mark on their frame, each with its tooltip: the alarm lanes
// under the chart and the discharge reports on it.

#include <ostream>
#include <string>
#include <vector>

#include "sim/report/analysis.h"

namespace sim::cli::drawing {

// Where things go on the drawing.
struct Frame {
  double width = 1400, left = 70, right = 280, top = 40, chart_height = 360;
  double lane_height = 22, lanes_top = 0, height = 0;
  double low = 0, high = 1;
  bool by_time = false;
  double first = 0, last = 1;  // of the x axis: seconds or rounds

  double PlotWidth() const { return width - left - right; }
  double X(const RoundAt& at) const {
    const double value = by_time ? static_cast<double>(at.time) : at.round;
    return last <= first ? left + PlotWidth() / 2
                         : left + (value - first) / (last - first) * PlotWidth();
  }
  double Y(double value) const { return top + (high - value) / (high - low) * chart_height; }
};

// The clock time of a round where the rounds ran on the clock, else its number.
std::string When(const Analysis& analysis, const RoundAt& at);

// A lane below the chart: one alarm of one analysis.
struct Lane {
  std::string id;
  const Analysis* analysis;
  std::string label;  // empty: the alarm's id and name
  const char* colour;
  std::string side;  // for the tooltips; empty where there is one side
};

// Lanes below the chart and the time any alarm was raised shaded over it;
// apart: each raise a bar of its own, else those closer than a unit joined.
void DrawAlarmLanes(const Frame& frame, const std::vector<Lane>& lanes, bool apart,
                    std::ostream& svg);

// The discharge reports of one side and how they are drawn.
struct ReportSide {
  const Analysis* analysis;
  std::string side;  // for the tooltips; empty where there is one side
  bool candidate = false;
};

// Every report of every side as a marker, at the round's voltage (on the
// chart's floor where the round has none), and their "Play=" labels in rows
// along the top of the chart, tied to the marker by a faint line; a label
// that finds no free place on the three rows is dropped.
void DrawReports(const Frame& frame, const std::vector<ReportSide>& sides, std::ostream& svg);

}  // namespace sim::cli::drawing
