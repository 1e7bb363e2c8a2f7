#include "sim/report/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <map>
#include <optional>
#include <sstream>
#include <tuple>

#include "config/device_contract.h"
#include "config/setting_keys.h"
#include "plugin/alarm_rows.h"
#include "sim/report/plot_marks.h"
#include "sim/report/text.h"

namespace sim::cli {
namespace {

using drawing::Frame;
using drawing::Lane;
using drawing::ReportSide;

// Fonts with Chinese glyphs before the generic family: alarm names are Chinese.
constexpr const char* kFonts = "'Noto Sans CJK SC', 'WenQuanYi Micro Hei', sans-serif";

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

// What the plot draws: the voltage and the rounds of `drawn`, a lane per
// entry and the reports of each side; `apart`: each raise a shape of its own.
struct Drawing {
  const Analysis* drawn;
  std::vector<Lane> lanes;
  std::vector<ReportSide> reports;
  std::string title;
  bool apart = false;
};

std::string Render(const Drawing& drawing, const std::vector<Threshold>& thresholds) {
  const Analysis& analysis = *drawing.drawn;
  const Frame frame = MakeFrame(analysis, thresholds, drawing.lanes.size());
  std::ostringstream svg;
  svg << std::fixed << std::setprecision(1);
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << frame.width << "\" height=\""
      << frame.height << "\" viewBox=\"0 0 " << frame.width << " " << frame.height
      << "\" font-family=\"" << kFonts << "\" font-size=\"12\">\n";
  svg << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg << "<text x=\"" << frame.left << "\" y=\"24\" font-size=\"15\">" << XmlEscaped(drawing.title)
      << "</text>\n";
  DrawAxes(frame, analysis, svg);
  DrawAlarmLanes(frame, drawing.lanes, drawing.apart, svg);
  DrawThresholds(frame, thresholds, svg);
  DrawVoltage(frame, analysis, svg);
  DrawReports(frame, drawing.reports, svg);
  svg << "</svg>\n";
  return svg.str();
}

std::string RoundsTitle(const Analysis& analysis) {
  return "aikorvane-sim: voltage of " + std::to_string(analysis.rounds) +
         (analysis.rounds == 1 ? " round" : " rounds");
}

// The lanes of every alarm either side changed: the candidate's under the
// baseline's, named once.
std::vector<Lane> ComparisonLanes(const Analysis& baseline, const Analysis& candidate) {
  std::vector<std::string> ids = ChangedAlarms(baseline);
  for (const std::string& id : ChangedAlarms(candidate)) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
  std::vector<Lane> lanes;
  for (const std::string& id : ids) {
    lanes.push_back({id, &baseline, "", "#d33", "baseline"});
    lanes.push_back({id, &candidate, "  \u2514 candidate", "#36c", "candidate"});
  }
  return lanes;
}

}  // namespace

Analysis ZoomedAnalysis(const Analysis& whole, const ZoomWindow& zoom) {
  Analysis part;
  part.on_clock = whole.on_clock;
  part.alarms = whole.alarms;
  if (zoom.Points().empty()) return part;
  const RoundAt from = zoom.Points().front().at, to = zoom.Points().back().at;
  part.first_round = from;
  part.last_round = to;
  part.rounds = to.round - from.round + 1;
  for (const ZoomWindow::Point& point : zoom.Points()) part.voltage.Add(point.at, point.voltage);
  // An alarm raised before the window opens is raised at its first round.
  std::map<std::string, const AlarmChange*> before;
  for (const AlarmChange& change : whole.alarm_changes) {
    if (change.at.round < from.round) before[change.id] = &change;
  }
  for (const auto& [id, change] : before) {
    if (change->raised) part.alarm_changes.push_back({from, id, change->name, true});
  }
  for (const AlarmChange& change : whole.alarm_changes) {
    if (change.at.round >= from.round && change.at.round <= to.round) {
      part.alarm_changes.push_back(change);
    }
  }
  for (const DischargeReport& report : whole.discharge_reports) {
    if (report.at.round >= from.round && report.at.round <= to.round) {
      part.discharge_reports.push_back(report);
    }
  }
  return part;
}

std::string RenderSvg(const Analysis& analysis, const std::vector<Threshold>& thresholds) {
  Drawing drawing{&analysis, {}, {{&analysis, "", false}}, RoundsTitle(analysis)};
  for (const std::string& id : ChangedAlarms(analysis))
    drawing.lanes.push_back({id, &analysis, "", "#d33", ""});
  return Render(drawing, thresholds);
}

std::string RenderComparisonSvg(const Analysis& baseline, const Analysis& candidate,
                                const std::vector<Threshold>& thresholds) {
  const Drawing drawing{&baseline,
                        ComparisonLanes(baseline, candidate),
                        {{&baseline, "baseline", false}, {&candidate, "candidate", true}},
                        RoundsTitle(baseline)};
  return Render(drawing, thresholds);
}

std::string RenderZoomSvg(const Analysis& baseline, const Analysis& candidate,
                          const std::vector<Threshold>& thresholds) {
  const ZoomWindow& zoom = baseline.zoom;
  if (!zoom.CentreTime() || zoom.Points().empty()) return "";
  const Analysis base = ZoomedAnalysis(baseline, zoom), cand = ZoomedAnalysis(candidate, zoom);
  std::string title = "first difference " + LocalTimeText(*zoom.CentreTime()) + ", " +
                      std::to_string(zoom.Points().size()) + " rounds around it";
  // Past the changes kept, the window's lanes would be missing raises.
  const auto beyond = [&](const Analysis& side) {
    return side.changes_not_kept > 0 &&
           (side.alarm_changes.empty() ||
            side.alarm_changes.back().at.round < base.last_round->round);
  };
  if (beyond(baseline) || beyond(candidate)) title += " (alarm changes past those kept not drawn)";
  Drawing drawing{&base,
                  ComparisonLanes(base, cand),
                  {{&base, "baseline", false}, {&cand, "candidate", true}},
                  title,
                  true};
  return Render(drawing, thresholds);
}

}  // namespace sim::cli
