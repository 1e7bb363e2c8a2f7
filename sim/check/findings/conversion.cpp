// Conversion, calibration and discharge settings that the device takes but
// that will not do what they say.

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "config/device_contract.h"
#include "config/setting_keys.h"
#include "plugin/alarm_rows.h"
#include "sim/check/findings/families.h"

namespace sim::cli::findings {
namespace config = aikorvane::config;
namespace {

using Settings = config::ChannelSettings;

std::string AppPointer(float Settings::*member) {
  return Pointer({config::kAppSetting, config::KeyOf(member)});
}
std::string Key(float Settings::*member) { return Quoted(config::KeyOf(member)); }

}  // namespace

void Discharge(Context& c) {
  if (!c.Reads().discharge_report) return;
  if (!(static_cast<double>(c.s.channel.discharge_v_) > aikorvane::kDischargeSwitch)) {
    c.Add(CodeId::kDischargeOff, AppPointer(&Settings::discharge_v_),
          "the discharge start voltage is " + Number(c.s.channel.discharge_v_) +
              " (0.01 or less): the device sends no discharge reports; set " +
              Key(&Settings::discharge_v_) +
              " to the start voltage (for example 47.5) to turn them on");
    return;
  }
  if (c.s.channel.discharge_v_end_ < c.s.channel.discharge_v_) {
    c.Add(CodeId::kDischargeEndBelowStart, AppPointer(&Settings::discharge_v_end_),
          "the discharge ends above " + Number(c.s.channel.discharge_v_end_) + " but starts at " +
              Number(c.s.channel.discharge_v_) + " or below: while the voltage lies above " +
              Number(c.s.channel.discharge_v_end_) + " and at or below " +
              Number(c.s.channel.discharge_v_) +
              ", the device sends a start report and an end report on alternate rounds, each "
              "a blocking POST; set " +
              Key(&Settings::discharge_v_end_) + " at or above " + Key(&Settings::discharge_v_));
  }
  if (c.s.channel.discharge_v_diff_ <= 0) {
    c.Add(CodeId::kDischargeStepNotPositive, AppPointer(&Settings::discharge_v_diff_),
          "the discharge progress step is " + Number(c.s.channel.discharge_v_diff_) +
              ": during a discharge the device sends a progress report every round, each a "
              "blocking POST; set " +
              Key(&Settings::discharge_v_diff_) + " to the voltage step wanted (for example 0.5)");
  }
}

void Calibration(Context& c) {
  const Settings& ch = c.s.channel;
  auto x = [&ch](int i) { return ch.*config::kCalibrationPoints[i].x; };
  auto slope = [&ch](int i) { return ch.*config::kCalibrationSegments[i].slope; };
  auto intercept = [&ch](int i) { return ch.*config::kCalibrationSegments[i].intercept; };
  auto x_key = [](int i) { return std::string(config::KeyOf(config::kCalibrationPoints[i].x)); };
  auto set = [](float coordinate) {
    return std::fabs(coordinate) > aikorvane::config::kUnsetCoordinate;
  };
  // Segments of each point: point 1 shapes segment 1, point 2 segments 1 and
  // 2, point 3 segments 2 and 3, point 4 segment 3.
  const int first[] = {0, 0, 1, 2};
  const int last[] = {0, 1, 2, 2};
  auto segment_text = [&](int i) {
    return "segment " + std::to_string(i + 1) + " (now slope " + Number(slope(i)) + ", intercept " +
           Number(intercept(i)) + ")";
  };
  for (int point = 0; point < 4; ++point) {
    const config::CalibrationPoint& coordinates = config::kCalibrationPoints[point];
    for (float Settings::*member : {coordinates.x, coordinates.y}) {
      const std::string key = config::KeyOf(member);
      const float value = ch.*member;
      if (!c.Given(key.c_str()) || set(value)) continue;
      std::string segments = segment_text(first[point]);
      if (last[point] != first[point]) segments += " and " + segment_text(last[point]);
      c.Add(CodeId::kCalibrationUnsetPoint, Pointer({config::kAppSetting, key}),
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
    c.Add(CodeId::kCalibrationSegmentRefused, Pointer({config::kAppSetting, x_key(segment)}),
          "points " + std::to_string(segment) + " and " + std::to_string(segment + 1) +
              " both have x " + Number(x(segment - 1)) + ": the device refuses " +
              segment_text(segment - 1) +
              ", which keeps the previous slope and intercept; "
              "give the two points different x");
  }
  std::vector<int> xs;
  for (int i = 0; i < 4; ++i) {
    if (set(x(i))) xs.push_back(i);
  }
  bool ordered = true;
  for (std::size_t k = 1; k < xs.size(); ++k) {
    const int a = xs[k - 1];
    const int b = xs[k];
    if (x(a) < x(b)) continue;
    const bool covered =
        b == a + 1 && x(a) == x(b) && std::find(refused.begin(), refused.end(), a) != refused.end();
    if (!covered) ordered = false;
  }
  bool any_given = false;
  for (int i = 0; i < 4; ++i) any_given = any_given || c.Given(x_key(i).c_str());
  const bool empty_range = any_given && x(3) < x(0);
  if (ordered && !empty_range) return;
  std::string message = "the x values are " + Number(x(0)) + ", " + Number(x(1)) + ", " +
                        Number(x(2)) + ", " + Number(x(3));
  if (empty_range) {
    message += ": x4 is below x1, so the curve applies to no value";
  } else {
    message +=
        ": the curve applies from x1 to x4 and takes segment 3 at or above x3, else segment "
        "2 at or above x2, else segment 1, so points out of order leave segments unused or "
        "used outside their points";
  }
  c.Add(CodeId::kCalibrationNotIncreasing, Pointer({config::kAppSetting, x_key(0)}),
        message + "; give the points in strictly increasing x");
}

void Range(Context& c) {
  const Settings& ch = c.s.channel;
  if (!std::isfinite(ch.min_) || !std::isfinite(ch.max_) || ch.max_ > ch.min_) return;
  const bool channel = ch.ai_mode_ == 1 || (ch.ai_mode_ == 0 && ch.max_ != 0);
  const bool raw = ch.real_value_ == 0 && ch.ai_mode_ <= 2;
  // Whether the host hands raw samples is the host's choice: a range left at
  // its default is only worth a word where the channel readings use it.
  if (!channel && !(raw && (c.Given("min") || c.Given("max")))) return;
  const float span = ch.max_ - ch.min_;
  const std::string range =
      "\"max\" (" + Number(ch.max_) + ") is not above \"min\" (" + Number(ch.min_) + ")";
  const std::string effect = span == 0
                                 ? "converts to the same value"
                                 : "converts upside down (the value falls as the input rises)";
  if (channel) {
    c.Add(CodeId::kRangeEmpty, AppPointer(&Settings::max_),
          range + ": in conversion mode " + std::to_string(ch.ai_mode_) + " every channel reading" +
              (raw ? " and every raw sample" : "") + " " + effect + "; set the measuring range");
  } else {
    c.AddAs(CodeId::kRangeEmpty, Severity::kNote, AppPointer(&Settings::max_),
            range + ": in conversion mode " + std::to_string(ch.ai_mode_) +
                " channel readings do not use the range, but every raw sample (" +
                std::to_string(aikorvane::kChannelSampleBase) + " or less) " + effect +
                "; set the range if the host hands raw samples");
  }
}

}  // namespace sim::cli::findings
