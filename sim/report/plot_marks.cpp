#include "sim/report/plot_marks.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "config/device_contract.h"
#include "sim/report/plot_layout.h"
#include "sim/report/text.h"

namespace sim::cli::drawing {

// The clock time of a round where the rounds ran on the clock, else its number.
std::string When(const Analysis& analysis, const RoundAt& at) {
  return analysis.on_clock ? LocalTimeText(at.time) : "round " + std::to_string(at.round);
}

namespace {

// "baseline: " before a tooltip where there are sides to tell apart.
std::string SidePrefix(const std::string& side) { return side.empty() ? "" : side + ": "; }

// A stretch of an alarm raised, in drawing units, with the rounds it runs
// between and the raises it holds.
struct Span {
  double x1 = 0, x2 = 0;
  RoundAt from, to;
  int raises = 1;
};

// Spans in order; unless kept apart, those less than a unit apart are joined:
// a flapping alarm draws as many shapes as there are columns at most, not
// one per raise.
using Spans = std::vector<Span>;
void AddSpan(Spans& spans, Span span, bool apart) {
  span.x2 = std::max(span.x2, span.x1 + (apart ? 0.6 : 2.0));
  if (!apart && !spans.empty() && span.x1 <= spans.back().x2 + 1) {
    Span& last = spans.back();
    last.x2 = std::max(last.x2, span.x2);
    last.to = span.to;
    last.raises += span.raises;
  } else {
    spans.push_back(span);
  }
}

Spans AlarmSpans(const Frame& frame, const Analysis& analysis, const std::string& id, bool apart) {
  Spans spans;
  std::optional<RoundAt> raised_at;
  // Kept apart, a raise starts at its own round: the next may start a second later.
  const double lead = apart ? 0 : 1;
  for (const AlarmChange& change : analysis.alarm_changes) {
    if (change.id != id) continue;
    if (change.raised) {
      if (!raised_at) raised_at = change.at;
    } else if (raised_at) {
      AddSpan(spans, {frame.X(*raised_at) - lead, frame.X(change.at), *raised_at, change.at, 1},
              apart);
      raised_at.reset();
    }
  }
  if (raised_at && analysis.last_round) {
    AddSpan(spans,
            {frame.X(*raised_at) - lead, frame.X(*analysis.last_round) + lead, *raised_at,
             *analysis.last_round, 1},
            apart);
  }
  return spans;
}

std::string SpanTitle(const Lane& lane, const Span& span) {
  std::string title = SidePrefix(lane.side) + lane.id + " raised " +
                      When(*lane.analysis, span.from) + " to " + When(*lane.analysis, span.to);
  if (span.raises > 1) title += " (" + std::to_string(span.raises) + " raises)";
  return title;
}

// One report's marker: a ring for the baseline (green for an end, purple
// otherwise), a diamond for the candidate (teal for an end, orange
// otherwise): the sides tell apart without colour too, and a report both
// sides sent in one round shows both.
void DrawReportMarker(const ReportSide& side, const DischargeReport& report, double x, double y,
                      std::ostream& svg) {
  const bool ended = report.play == aikorvane::kDischargeEnded;
  const char* colour = side.candidate ? (ended ? "#088" : "#e67e00") : (ended ? "#2a2" : "#c0c");
  const std::string title = SidePrefix(side.side) + When(*side.analysis, report.at) +
                            " Play=" + report.play + " His_DCV=" + report.voltage;
  if (side.candidate) {
    svg << "<path class=\"report candidate\" d=\"M" << x << "," << y - 6 << " L" << x + 6 << ","
        << y << " L" << x << "," << y + 6 << " L" << x - 6 << "," << y
        << " Z\" stroke=\"white\" fill=\"" << colour << "\">";
  } else {
    svg << "<circle class=\"report baseline\" cx=\"" << x << "\" cy=\"" << y
        << "\" r=\"6\" fill=\"none\" stroke-width=\"2\" stroke=\"" << colour << "\">";
  }
  svg << "<title>" << XmlEscaped(title) << "</title>" << (side.candidate ? "</path>" : "</circle>")
      << "\n";
}

}  // namespace

void DrawAlarmLanes(const Frame& frame, const std::vector<Lane>& lanes, bool apart,
                    std::ostream& svg) {
  Spans any;
  for (size_t index = 0; index < lanes.size(); ++index) {
    const Lane& lane = lanes[index];
    const double lane_y = frame.lanes_top + frame.lane_height * static_cast<double>(index);
    const auto stats = lane.analysis->alarms.find(lane.id);
    const std::string name = stats != lane.analysis->alarms.end() ? stats->second.name : "";
    svg << "<text x=\"" << frame.left + frame.PlotWidth() + 8 << "\" y=\"" << lane_y + 14 << "\">"
        << XmlEscaped(lane.label.empty() ? lane.id + " " + name : lane.label) << "</text>\n";
    for (const Span& span : AlarmSpans(frame, *lane.analysis, lane.id, apart)) {
      svg << "<rect class=\"alarm\" x=\"" << span.x1 << "\" y=\"" << lane_y + 3 << "\" width=\""
          << span.x2 - span.x1 << "\" height=\"" << frame.lane_height - 6 << "\" fill=\""
          << lane.colour << "\"><title>" << XmlEscaped(SpanTitle(lane, span))
          << "</title></rect>\n";
      any.push_back(span);
    }
  }
  std::sort(any.begin(), any.end(), [](const Span& a, const Span& b) { return a.x1 < b.x1; });
  Spans shaded;
  for (const Span& span : any) AddSpan(shaded, span, false);
  for (const Span& span : shaded) {
    svg << "<rect x=\"" << span.x1 << "\" y=\"" << frame.top << "\" width=\"" << span.x2 - span.x1
        << "\" height=\"" << frame.chart_height << "\" fill=\"#d33\" fill-opacity=\"0.08\"/>\n";
  }
}

void DrawReports(const Frame& frame, const std::vector<ReportSide>& sides, std::ostream& svg) {
  struct Shown {
    const ReportSide* side;
    const DischargeReport* report;
    double x, y;
  };
  std::vector<Shown> shown;
  for (const ReportSide& side : sides) {
    for (const DischargeReport& report : side.analysis->discharge_reports) {
      const bool known = report.round_voltage && std::isfinite(*report.round_voltage);
      shown.push_back(
          {&side, &report, frame.X(report.at),
           known ? frame.Y(*report.round_voltage) : frame.top + frame.chart_height - 6});
    }
  }
  std::stable_sort(shown.begin(), shown.end(),
                   [](const Shown& a, const Shown& b) { return a.x < b.x; });
  std::vector<double> at, width;
  for (const Shown& one : shown) {
    at.push_back(one.x);
    width.push_back(6.0 * static_cast<double>(one.report->play.size() + 5) + 6);
  }
  const std::vector<int> rows = StackLabels(at, width, 3);
  for (size_t i = 0; i < shown.size(); ++i) {
    const Shown& one = shown[i];
    if (rows[i] < 0) continue;
    const char* colour = one.side->candidate ? "#a50" : "#909";
    const double label_y = frame.top + 12 + 12.0 * rows[i];
    svg << "<line x1=\"" << one.x << "\" x2=\"" << one.x << "\" y1=\"" << label_y + 2 << "\" y2=\""
        << one.y << "\" stroke=\"" << colour << "\" stroke-opacity=\"0.35\"/><text "
        << "class=\"report-label\" x=\"" << one.x << "\" y=\"" << label_y
        << "\" text-anchor=\"middle\" font-size=\"10\" fill=\"" << colour
        << "\">Play=" << XmlEscaped(one.report->play) << "</text>\n";
  }
  for (const Shown& one : shown) DrawReportMarker(*one.side, *one.report, one.x, one.y, svg);
}

}  // namespace sim::cli::drawing
