#include "sim/report/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <optional>
#include <sstream>
#include <tuple>

#include "config/device_contract.h"
#include "config/setting_keys.h"
#include "plugin/alarm_rows.h"
#include "sim/report/text.h"

namespace sim::cli {
namespace {

// Fonts with Chinese glyphs before the generic family: alarm names are Chinese.
constexpr const char* kFonts = "'Noto Sans CJK SC', 'WenQuanYi Micro Hei', sans-serif";

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

Frame MakeFrame(const Analysis& analysis, const std::vector<Threshold>& thresholds, size_t lanes) {
  Frame frame;
  frame.lanes_top = frame.top + frame.chart_height + 40;
  frame.height = frame.lanes_top + frame.lane_height * static_cast<double>(lanes) + 30;
  const RoundAt first = analysis.first_round.value_or(RoundAt{1, 0});
  const RoundAt last = analysis.last_round.value_or(first);
  frame.by_time = analysis.on_clock && last.time > first.time;
  frame.first = frame.by_time ? static_cast<double>(first.time) : first.round;
  frame.last = frame.by_time ? static_cast<double>(last.time) : std::max(last.round, 1);
  bool any = false;
  auto widen = [&](double value) {
    if (!std::isfinite(value)) return;
    frame.low = any ? std::min(frame.low, value) : value;
    frame.high = any ? std::max(frame.high, value) : value;
    any = true;
  };
  for (const EnvelopeColumn& column : analysis.voltage.Columns()) {
    if (column.any) {
      widen(column.low);
      widen(column.high);
    }
  }
  for (const Threshold& threshold : thresholds) widen(threshold.value);
  if (frame.high - frame.low < 1e-6) {
    frame.low -= 1;
    frame.high += 1;
  }
  const double pad = (frame.high - frame.low) * 0.08;
  frame.low -= pad;
  frame.high += pad;
  return frame;
}

void DrawAxes(const Frame& frame, const Analysis& analysis, std::ostream& svg) {
  svg << "<rect x=\"" << frame.left << "\" y=\"" << frame.top << "\" width=\"" << frame.PlotWidth()
      << "\" height=\"" << frame.chart_height << "\" fill=\"none\" stroke=\"#888\"/>\n";
  for (const double value : ValueTicks(frame.low, frame.high, 8)) {
    const double y = frame.Y(value);
    svg << "<line x1=\"" << frame.left - 4 << "\" x2=\"" << frame.left + frame.PlotWidth()
        << "\" y1=\"" << y << "\" y2=\"" << y << "\" stroke=\"#ddd\"/><text x=\"" << frame.left - 8
        << "\" y=\"" << y + 4 << "\" text-anchor=\"end\">" << ShortNumber(value) << "</text>\n";
  }
  const double axis_y = frame.top + frame.chart_height;
  auto tick = [&](double x, const std::string& label) {
    svg << "<line x1=\"" << x << "\" x2=\"" << x << "\" y1=\"" << axis_y << "\" y2=\"" << axis_y + 4
        << "\" stroke=\"#888\"/><text class=\"xtick\" x=\"" << x << "\" y=\"" << axis_y + 17
        << "\" text-anchor=\"middle\">" << XmlEscaped(label) << "</text>\n";
  };
  if (frame.by_time) {
    const auto ticks =
        TimeTicks(static_cast<std::time_t>(frame.first), static_cast<std::time_t>(frame.last), 10);
    const bool days = ticks.size() > 1 && ticks[1] - ticks[0] >= 86400;
    for (const std::time_t time : ticks) {
      const std::string text = LocalTimeText(time);
      // "2026-01-05" for days, "00:00" for hours and minutes.
      tick(frame.X(RoundAt{0, time}), days ? text.substr(0, 10) : text.substr(11, 5));
    }
    svg << "<text x=\"" << frame.left << "\" y=\"" << axis_y + 32 << "\">"
        << LocalTimeText(static_cast<std::time_t>(frame.first)) << " to "
        << LocalTimeText(static_cast<std::time_t>(frame.last)) << "</text>\n";
  } else {
    for (const double round : ValueTicks(frame.first, frame.last, 10)) {
      if (round == std::floor(round))
        tick(frame.X(RoundAt{static_cast<int>(round), 0}), ShortNumber(round));
    }
    svg << "<text x=\"" << frame.left << "\" y=\"" << axis_y + 32 << "\">round</text>\n";
  }
  (void)analysis;
}

// Spans [from, to] in drawing units, in order, with those less than a unit
// apart joined: a flapping alarm draws as many shapes as there are columns
// at most, not one per raise.
using Spans = std::vector<std::pair<double, double>>;
void AddSpan(Spans& spans, double from, double to) {
  to = std::max(to, from + 2);
  if (!spans.empty() && from <= spans.back().second + 1) {
    spans.back().second = std::max(spans.back().second, to);
  } else {
    spans.emplace_back(from, to);
  }
}

Spans AlarmSpans(const Frame& frame, const Analysis& analysis, const std::string& id) {
  Spans spans;
  bool raised = false;
  RoundAt raised_at;
  for (const AlarmChange& change : analysis.alarm_changes) {
    if (change.id != id) continue;
    if (change.raised) {
      raised = true;
      raised_at = change.at;
    } else if (raised) {
      AddSpan(spans, frame.X(raised_at) - 1, frame.X(change.at));
      raised = false;
    }
  }
  if (raised && analysis.last_round) {
    AddSpan(spans, frame.X(raised_at) - 1, frame.X(*analysis.last_round) + 1);
  }
  return spans;
}

// A lane below the chart: one alarm of one analysis.
struct Lane {
  std::string id;
  const Analysis* analysis;
  std::string label;  // empty: the alarm's id and name
  const char* colour;
};

// Lanes below the chart and the time any alarm was raised shaded over it.
void DrawAlarmLanes(const Frame& frame, const std::vector<Lane>& lanes, std::ostream& svg) {
  Spans any;
  for (size_t index = 0; index < lanes.size(); ++index) {
    const Lane& lane = lanes[index];
    const double lane_y = frame.lanes_top + frame.lane_height * static_cast<double>(index);
    const auto stats = lane.analysis->alarms.find(lane.id);
    const std::string name = stats != lane.analysis->alarms.end() ? stats->second.name : "";
    svg << "<text x=\"" << frame.left + frame.PlotWidth() + 8 << "\" y=\"" << lane_y + 14 << "\">"
        << XmlEscaped(lane.label.empty() ? lane.id + " " + name : lane.label) << "</text>\n";
    for (const auto& [x1, x2] : AlarmSpans(frame, *lane.analysis, lane.id)) {
      svg << "<rect class=\"alarm\" x=\"" << x1 << "\" y=\"" << lane_y + 3 << "\" width=\""
          << x2 - x1 << "\" height=\"" << frame.lane_height - 6 << "\" fill=\"" << lane.colour
          << "\"/>\n";
      any.emplace_back(x1, x2);
    }
  }
  std::sort(any.begin(), any.end());
  Spans shaded;
  for (const auto& [x1, x2] : any) AddSpan(shaded, x1, x2);
  for (const auto& [x1, x2] : shaded) {
    svg << "<rect x=\"" << x1 << "\" y=\"" << frame.top << "\" width=\"" << x2 - x1
        << "\" height=\"" << frame.chart_height << "\" fill=\"#d33\" fill-opacity=\"0.08\"/>\n";
  }
}

// The ids of every alarm that changed state, in the order they first did.
std::vector<std::string> ChangedAlarms(const Analysis& analysis) {
  std::vector<std::string> ids;
  for (const AlarmChange& change : analysis.alarm_changes) {
    if (std::find(ids.begin(), ids.end(), change.id) == ids.end()) ids.push_back(change.id);
  }
  return ids;
}

// Dashed lines, labelled on the right; labels of close thresholds are moved
// apart so that none covers another.
void DrawThresholds(const Frame& frame, std::vector<Threshold> thresholds, std::ostream& svg) {
  std::sort(thresholds.begin(), thresholds.end(),
            [](const Threshold& a, const Threshold& b) { return a.value > b.value; });
  double next_free = -1e9;
  for (const Threshold& threshold : thresholds) {
    const double y = frame.Y(threshold.value);
    const double label_y = std::max(y + 4, next_free);
    next_free = label_y + 13;
    svg << "<line class=\"threshold\" x1=\"" << frame.left << "\" x2=\""
        << frame.left + frame.PlotWidth() << "\" y1=\"" << y << "\" y2=\"" << y
        << "\" stroke=\"#e90\" stroke-dasharray=\"6 4\"/><text x=\""
        << frame.left + frame.PlotWidth() + 8 << "\" y=\"" << label_y << "\" fill=\"#a60\">"
        << XmlEscaped(threshold.label + " " + ShortNumber(threshold.value)) << "</text>\n";
  }
}

// A line through every round while each has a column of its own, else the
// band between each column's lowest and highest voltage. Columns without a
// number break the line.
void DrawVoltage(const Frame& frame, const Analysis& analysis, std::ostream& svg) {
  const auto& columns = analysis.voltage.Columns();
  const bool band = analysis.voltage.RoundsPerColumn() > 1 ||
                    static_cast<double>(columns.size()) > frame.PlotWidth();
  size_t start = 0;
  while (start < columns.size()) {
    if (!columns[start].any) {
      ++start;
      continue;
    }
    size_t end = start;
    while (end < columns.size() && columns[end].any) ++end;
    if (band) {
      svg << "<path class=\"voltage\" fill=\"#1f5fbf\" fill-opacity=\"0.45\" stroke=\"#1f5fbf\" "
             "stroke-width=\"1\" d=\"M";
      for (size_t i = start; i < end; ++i) {
        svg << frame.X(columns[i].first) << "," << frame.Y(columns[i].high) << " ";
      }
      for (size_t i = end; i-- > start;) {
        svg << frame.X(columns[i].last) << "," << frame.Y(columns[i].low) << " ";
      }
      svg << "Z\"/>\n";
    } else {
      svg << "<polyline class=\"voltage\" fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\" "
             "points=\"";
      for (size_t i = start; i < end; ++i) {
        svg << frame.X(columns[i].first) << "," << frame.Y(columns[i].high) << " ";
      }
      svg << "\"/>\n";
    }
    start = end;
  }
}

// A dot per report (green for an end, purple otherwise) and its "Play="
// label in rows along the top of the chart, tied to the dot by a faint line;
// a label that finds no free place on the three rows is dropped.
void DrawReports(const Frame& frame, const Analysis& analysis, std::ostream& svg) {
  std::vector<const DischargeReport*> shown;
  std::vector<double> at, width;
  for (const DischargeReport& report : analysis.discharge_reports) {
    if (!report.round_voltage || !std::isfinite(*report.round_voltage)) continue;
    shown.push_back(&report);
    at.push_back(frame.X(report.at));
    width.push_back(6.0 * static_cast<double>(report.play.size() + 5) + 6);
  }
  const std::vector<int> rows = StackLabels(at, width, 3);
  for (size_t i = 0; i < shown.size(); ++i) {
    const DischargeReport& report = *shown[i];
    const double x = at[i], y = frame.Y(*report.round_voltage);
    const char* colour = report.play == aikorvane::kDischargeEnded ? "#2a2" : "#c0c";
    if (rows[i] >= 0) {
      const double label_y = frame.top + 12 + 12.0 * rows[i];
      svg << "<line x1=\"" << x << "\" x2=\"" << x << "\" y1=\"" << label_y + 2 << "\" y2=\"" << y
          << "\" stroke=\"" << colour << "\" stroke-opacity=\"0.35\"/><text "
          << "class=\"report-label\" x=\"" << x << "\" y=\"" << label_y
          << "\" text-anchor=\"middle\" font-size=\"10\" fill=\"" << colour
          << "\">Play=" << XmlEscaped(report.play) << "</text>\n";
    }
    svg << "<circle class=\"report\" cx=\"" << x << "\" cy=\"" << y << "\" r=\"4\" fill=\""
        << colour << "\"><title>round " << report.at.round << " Play=" << XmlEscaped(report.play)
        << " His_DCV=" << XmlEscaped(report.voltage) << "</title></circle>\n";
  }
}

}  // namespace

std::vector<Threshold> CollectThresholds(const DeviceState& state, const Analysis& analysis) {
  std::vector<Threshold> thresholds;
  // The host's alarms: a level of 0 is an alarm the host does not raise.
  for (const auto& [id, level] : state.alarm_levels) {
    const auto value = state.alarm_values.find(id);
    if (level == 0 || value == state.alarm_values.end() || !std::isfinite(value->second)) continue;
    const auto stats = analysis.alarms.find(id);
    const bool named = stats != analysis.alarms.end() && !stats->second.name.empty();
    thresholds.push_back({named ? stats->second.name : id, value->second});
  }
  const aikorvane::ModeReads* mode = aikorvane::ModeOf(state.b_mode);
  const aikorvane::config::ChannelSettings& channel = state.channel;
  if (mode != nullptr && mode->discharge_report &&
      static_cast<double>(channel.discharge_v_) > aikorvane::kDischargeSwitch) {
    thresholds.push_back({"discharge start", channel.discharge_v_});
    if (channel.discharge_v_end_ != channel.discharge_v_) {
      thresholds.push_back({"discharge end", channel.discharge_v_end_});
    }
  }
  if (mode != nullptr && mode->limit_records) {
    int table = 0;
    for (const aikorvane::config::LimitFamily& family : aikorvane::config::kLimitFamilies) {
      for (const auto& [signal, entry] : state.limits[table]) {
        thresholds.push_back({signal + " " + family.limit, std::get<1>(entry)});
      }
      ++table;
    }
  }
  return thresholds;
}

namespace {

std::string Render(const Analysis& analysis, const std::vector<Threshold>& thresholds,
                   const std::vector<Lane>& lanes) {
  const Frame frame = MakeFrame(analysis, thresholds, lanes.size());
  std::ostringstream svg;
  svg << std::fixed << std::setprecision(1);
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << frame.width << "\" height=\""
      << frame.height << "\" viewBox=\"0 0 " << frame.width << " " << frame.height
      << "\" font-family=\"" << kFonts << "\" font-size=\"12\">\n";
  svg << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg << "<text x=\"" << frame.left << "\" y=\"24\" font-size=\"15\">aikorvane-sim: voltage of "
      << analysis.rounds << (analysis.rounds == 1 ? " round" : " rounds") << "</text>\n";
  DrawAxes(frame, analysis, svg);
  DrawAlarmLanes(frame, lanes, svg);
  DrawThresholds(frame, thresholds, svg);
  DrawVoltage(frame, analysis, svg);
  DrawReports(frame, analysis, svg);
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace

std::string RenderSvg(const Analysis& analysis, const std::vector<Threshold>& thresholds) {
  std::vector<Lane> lanes;
  for (const std::string& id : ChangedAlarms(analysis))
    lanes.push_back({id, &analysis, "", "#d33"});
  return Render(analysis, thresholds, lanes);
}

std::string RenderComparisonSvg(const Analysis& baseline, const Analysis& candidate,
                                const std::vector<Threshold>& thresholds) {
  std::vector<std::string> ids = ChangedAlarms(baseline);
  for (const std::string& id : ChangedAlarms(candidate)) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
  std::vector<Lane> lanes;
  for (const std::string& id : ids) {
    // The candidate's lane under the baseline's, named once.
    lanes.push_back({id, &baseline, "", "#d33"});
    lanes.push_back({id, &candidate, "  \u2514 candidate", "#36c"});
  }
  return Render(baseline, thresholds, lanes);
}

}  // namespace sim::cli
