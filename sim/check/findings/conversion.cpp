// Conversion, calibration and discharge settings that the device takes but
// that will not do what they say.

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "config/setting_keys.h"
#include "plugin/alarm_rows.h"
#include "sim/check/findings/families.h"

namespace sim::cli::findings {

void Discharge(Context& c) {
  if (c.s.b_mode != 2) return;
  if (!(static_cast<double>(c.s.discharge_v) > aikorvane::kDischargeSwitch)) {
    c.Add(CodeId::kDischargeOff, "/appSetting/discharge_v",
          "the discharge start voltage is " + Number(c.s.discharge_v) +
              " (0.01 or less): the device sends no discharge reports; set \"discharge_v\" to "
              "the start voltage (for example 47.5) to turn them on");
    return;
  }
  if (c.s.discharge_v_end < c.s.discharge_v) {
    c.Add(CodeId::kDischargeEndBelowStart, "/appSetting/discharge_v_end",
          "the discharge ends above " + Number(c.s.discharge_v_end) + " but starts at " +
              Number(c.s.discharge_v) + " or below: while the voltage lies above " +
              Number(c.s.discharge_v_end) + " and at or below " + Number(c.s.discharge_v) +
              ", the device sends a start report and an end report on alternate rounds, each "
              "a blocking POST; set \"discharge_v_end\" at or above \"discharge_v\"");
  }
  if (c.s.discharge_v_diff <= 0) {
    c.Add(CodeId::kDischargeStepNotPositive, "/appSetting/discharge_v_diff",
          "the discharge progress step is " + Number(c.s.discharge_v_diff) +
              ": during a discharge the device sends a progress report every round, each a "
              "blocking POST; set \"discharge_v_diff\" to the voltage step wanted (for "
              "example 0.5)");
  }
}

void Calibration(Context& c) {
  auto set = [](float coordinate) {
    return std::fabs(coordinate) > aikorvane::config::kUnsetCoordinate;
  };
  // Segments of each point: point 1 shapes segment 1, point 2 segments 1 and
  // 2, point 3 segments 2 and 3, point 4 segment 3.
  const int first[] = {0, 0, 1, 2};
  const int last[] = {0, 1, 2, 2};
  auto segment_text = [&](int i) {
    return "segment " + std::to_string(i + 1) + " (now slope " + Number(c.s.slope[i]) +
           ", intercept " + Number(c.s.intercept[i]) + ")";
  };
  for (int point = 0; point < 4; ++point) {
    for (const char axis : {'x', 'y'}) {
      const std::string key = std::string(1, axis) + std::to_string(point + 1);
      const float value = axis == 'x' ? c.s.x[point] : c.s.y[point];
      if (!c.Given(key.c_str()) || set(value)) continue;
      std::string segments = segment_text(first[point]);
      if (last[point] != first[point]) segments += " and " + segment_text(last[point]);
      c.Add(CodeId::kCalibrationUnsetPoint, Pointer({"appSetting", key}),
            "\"" + key + "\" is " + Number(value) +
                ", and a coordinate of magnitude 0.001 or less counts as unset: " + segments +
                (last[point] != first[point] ? " keep" : " keeps") +
                " the previous slope and intercept; use a small value such as 0.01 instead of 0");
    }
  }
  const std::string kRefused = aikorvane::config::kRefusedSegmentLine;
  std::vector<int> refused;
  for (const std::string& line : c.site.diagnostics) {
    if (line.rfind(kRefused, 0) != 0) continue;
    const int segment = std::atoi(line.c_str() + kRefused.size());
    if (segment < 1 || segment > 3) continue;
    refused.push_back(segment - 1);
    c.Add(CodeId::kCalibrationSegmentRefused,
          Pointer({"appSetting", "x" + std::to_string(segment + 1)}),
          "points " + std::to_string(segment) + " and " + std::to_string(segment + 1) +
              " both have x " + Number(c.s.x[segment - 1]) + ": the device refuses " +
              segment_text(segment - 1) +
              ", which keeps the previous slope and intercept; "
              "give the two points different x");
  }
  std::vector<int> xs;
  for (int i = 0; i < 4; ++i) {
    if (set(c.s.x[i])) xs.push_back(i);
  }
  bool ordered = true;
  for (std::size_t k = 1; k < xs.size(); ++k) {
    const int a = xs[k - 1];
    const int b = xs[k];
    if (c.s.x[a] < c.s.x[b]) continue;
    const bool covered = b == a + 1 && c.s.x[a] == c.s.x[b] &&
                         std::find(refused.begin(), refused.end(), a) != refused.end();
    if (!covered) ordered = false;
  }
  const bool any_given = c.Given("x1") || c.Given("x2") || c.Given("x3") || c.Given("x4");
  const bool empty_range = any_given && c.s.x[3] < c.s.x[0];
  if (ordered && !empty_range) return;
  std::string message = "the x values are " + Number(c.s.x[0]) + ", " + Number(c.s.x[1]) + ", " +
                        Number(c.s.x[2]) + ", " + Number(c.s.x[3]);
  if (empty_range) {
    message += ": x4 is below x1, so the curve applies to no value";
  } else {
    message +=
        ": the curve applies from x1 to x4 and takes segment 3 at or above x3, else segment "
        "2 at or above x2, else segment 1, so points out of order leave segments unused or "
        "used outside their points";
  }
  c.Add(CodeId::kCalibrationNotIncreasing, "/appSetting/x1",
        message + "; give the points in strictly increasing x");
}

void Range(Context& c) {
  if (!std::isfinite(c.s.min) || !std::isfinite(c.s.max) || c.s.max > c.s.min) return;
  const bool channel = c.s.ai_mode == 1 || (c.s.ai_mode == 0 && c.s.max != 0);
  const bool raw = c.s.real_value == 0 && c.s.ai_mode <= 2;
  // Whether the host hands raw samples is the host's choice: a range left at
  // its default is only worth a word where the channel readings use it.
  if (!channel && !(raw && (c.Given("min") || c.Given("max")))) return;
  const float span = c.s.max - c.s.min;
  const std::string range =
      "\"max\" (" + Number(c.s.max) + ") is not above \"min\" (" + Number(c.s.min) + ")";
  const std::string effect = span == 0
                                 ? "converts to the same value"
                                 : "converts upside down (the value falls as the input rises)";
  if (channel) {
    c.Add(CodeId::kRangeEmpty, "/appSetting/max",
          range + ": in conversion mode " + std::to_string(c.s.ai_mode) + " every channel reading" +
              (raw ? " and every raw sample" : "") + " " + effect + "; set the measuring range");
  } else {
    c.AddAs(CodeId::kRangeEmpty, Severity::kNote, "/appSetting/max",
            range + ": in conversion mode " + std::to_string(c.s.ai_mode) +
                " channel readings do not use the range, but every raw sample (20000 or less) " +
                effect + "; set the range if the host hands raw samples");
  }
}

}  // namespace sim::cli::findings
