#include "plugin/aikorvane.h"

#include <curl/curl.h>

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <locale>
#include <sstream>
#include <string_view>

#include "net/http_tool.h"
#include "plugin/float_text.h"

namespace {

struct AlarmRow {
  const char* id;
  const char* name;
  bool alarm_when_above;
};

// Battery voltage alarms checked in operating mode 2, in this order.
constexpr AlarmRow kTelecomRows[] = {
    {"110610040010", "001#48V蓄电池电压过高", true},
    {"110610050010", "001#48V蓄电池电压过低", false},
    {"110610060010", "001#48V蓄电池电压超低", false},
    {"110410040010", "001#UPS蓄电池组电压过高", true},
    {"110410050010", "001#UPS蓄电池组电压过低", false},
    {"110410060010", "001#UPS蓄电池组电压超低", false},
};

// Empties a kept stream for a new text. Making a new string stream, with its
// locale facets, costs more than the short texts of a round; the kept one
// follows the global locale as a new stream would.
std::ostringstream& Fresh(std::ostringstream& stream) {
  stream.str(std::string());
  stream.clear();
  const std::locale global;
  if (stream.getloc() != global) stream.imbue(global);
  return stream;
}

std::string DischargeUrl() {
  const char* configured = std::getenv("AIKORVANE_DISCHARGE_URL");
  if (configured != nullptr && *configured != '\0') return configured;
  return kDefaultDischargeUrl;
}

}  // namespace

AIKorvane::AIKorvane() { model_ = "aikorvane"; }

AIKorvane::~AIKorvane() = default;

float AIKorvane::process(short sample) {
  if (aikorvane::IsPlainStream(std::cout)) {
    // The same bytes in one piece.
    char line[64] = "AIKorvane::process(";
    char* end = std::to_chars(line + 19, line + 32, sample).ptr;
    const std::string_view mode = is_current_mode_ ? " is_current_mode_:1" : " is_current_mode_:0";
    end = std::copy(mode.begin(), mode.end(), end);
    aikorvane::WriteLine(std::cout, std::string_view(line, static_cast<std::size_t>(end - line)));
  } else {
    std::cout << "AIKorvane::process(" << sample
              << " is_current_mode_:" << (is_current_mode_ ? 1 : 0) << std::endl;
  }
  float value = 0.0f;
  if (sample > 20000 || ai_mode_ == 3 || real_value_ != 0) {
    if (real_value_ == 0 && sample > 20000) ai_index_ = sample - 20000;
    value = ReadAi(ai_index_);
    std::cout << "read ai_index_:" << ai_index_ << " ai " << value << " ai_mode:" << ai_mode_
              << " max_v:" << max_v_ << std::endl;
    if (ai_mode_ == 0) {
      if (max_ != 0.0f) value = ((max_ - min_) * value) / static_cast<float>(max_v_);
    } else if (ai_mode_ == 1) {
      value = value >= 4.0f ? ((value - 4.0f) / 16.0f) * (max_ - min_) : 0.0f;
    }
  } else if (ai_mode_ <= 2) {
    value = min_ + (sample * (max_ - min_)) / 10000.0f;
    if (is_current_mode_) {
      // A 1 to 5 V current-loop signal: 1 V is the bottom of the range.
      const double u = sample * 0.998 * 5 / 10000 - 1;
      value = static_cast<float>((u / 4) * static_cast<double>(max_ - min_));
      std::cout << "value:" << u << " " << value << std::endl;
    }
  }
  value = ai_gain_ * value + ai_offset_;
  if (!(value < x1_) && !(value > x4_)) {
    if (value >= x3_) {
      value = slope3_ * value + intercept3_;
    } else if (value >= x2_) {
      value = slope2_ * value + intercept2_;
    } else if (value >= x1_) {
      value = slope1_ * value + intercept1_;
    }
  }
  data_.voltage = value;
  RoundDone();
  return value;
}

void AIKorvane::GenJsonData() {
  std::lock_guard<std::mutex> lock(value_mutex_);
  if (update_time_ == published_time_) return;
  published_time_ = update_time_;
  // Looked up every time: the host may have removed either since.
  value_["电压"] = Json::Value(static_cast<double>(data_.voltage));
  Json::Value& time_member = value_["更新时间"];
  const unsigned fields[] = {data_.year, data_.month,  data_.day,
                             data_.hour, data_.minute, data_.second};
  const char separators[] = {'-', '-', ' ', ':', ':'};
  if (std::locale() == std::locale::classic()) {
    // Plain decimal numbers, as a stream in the classic locale writes them.
    char text[40];
    char* end = text;
    for (std::size_t i = 0; i < 6; ++i) {
      if (i > 0) *end++ = separators[i - 1];
      end = std::to_chars(end, text + sizeof text, fields[i]).ptr;
    }
    time_member = Json::Value(text, end);
  } else {
    // The global locale may group the digits of the year.
    std::ostringstream& time_text = Fresh(published_text_);
    time_text << data_.year;
    for (std::size_t i = 1; i < 6; ++i) time_text << separators[i - 1] << fields[i];
    time_member = time_text.str();
  }
}

void AIKorvane::RunCheckThreshold() {
  const float voltage = data_.voltage;
  WriteValueLine(voltage);
  voltage_text_.clear();
  // The host takes its texts as strings: make them once, not every round.
  static const std::string kValueId = "value";
  static const std::string kValueName = "电压";
  static const std::string kGroupId = "461627401001";
  static const std::string kGroupName = "蓄电池组总电压";
  static const std::string kGroupSignal = "461127400001";
  CheckThreshold(kValueId, kValueName, voltage, 1);
  switch (b_mode_) {
    case 1:
      CheckThreshold(kGroupId, kGroupName, voltage, 1);
      CheckAOReport(kGroupId, kGroupSignal, voltage);
      break;
    case 2:
      for (const AlarmRow& row : kTelecomRows) {
        CheckAlarmRow(row.id, row.name, row.alarm_when_above, 1, voltage);
      }
      FollowDischarge(voltage);
      break;
    case 3:
      CheckAlarmRow("007001", nullptr, true, 65535, voltage);
      CheckAlarmRow("007002", nullptr, false, 65535, voltage);
      break;
    default:
      break;
  }
}

void AIKorvane::WriteValueLine(float voltage) {
  static constexpr std::string_view kHead = "AIKorvane::RunCheckThreshold value:";
  if (aikorvane::IsPlainStream(std::cout)) {
    char line[kHead.size() + aikorvane::kFloatTextCapacity];
    char number[aikorvane::kFloatTextCapacity];
    const std::size_t length = aikorvane::QuickStreamFloatText(voltage, number);
    if (length != 0) {
      std::copy(kHead.begin(), kHead.end(), line);
      std::copy(number, number + length, line + kHead.size());
      aikorvane::WriteLine(std::cout, std::string_view(line, kHead.size() + length));
      return;
    }
  }
  aikorvane::WriteFloat(std::cout << kHead, voltage) << std::endl;
}

void AIKorvane::CheckAlarmRow(const char* alarm_id, const char* fixed_name, bool alarm_when_above,
                              unsigned short flags, float voltage) {
  // The id as text once, for every look-up and the host call.
  const std::string id(alarm_id);
  const int level = alarm_levels_[id];
  if (level == 0) return;
  // Fixed rows carry their own name; the others take name and description
  // prefix from the threshold configuration. The voltage is written as a
  // new string stream writes it.
  if (fixed_name != nullptr) {
    row_description_.assign(fixed_name);
    row_description_ += " 当前值：";
  } else {
    row_description_ = alarm_report_prefix_[id];
  }
  // Every row of the round writes the same voltage: format it once.
  if (voltage_text_.empty()) aikorvane::AppendStreamFloat(voltage_text_, voltage);
  row_description_ += voltage_text_;
  const std::string& name =
      fixed_name != nullptr ? row_name_.assign(fixed_name) : alarm_signal_names_[id];
  const float threshold = alarm_values_[id];
  const bool condition = alarm_when_above ? voltage > threshold : voltage < threshold;
  CheckThresholdBool(level, id, id, name, row_description_, condition, flags);
}

void AIKorvane::FollowDischarge(float voltage) {
  if (static_cast<double>(discharge_last_v_) < 0.001) discharge_last_v_ = voltage;
  if (!(static_cast<double>(discharge_v_) > 0.01)) return;
  if (discharge_state_ == 0 && voltage <= discharge_v_) {
    discharge_state_ = 1;
    SendDischargeReport(voltage);
    discharge_last_v_ = voltage;
  } else if (discharge_state_ == 1 && voltage > discharge_v_end_) {
    discharge_state_ = 0;
    SendDischargeReport(voltage);
    discharge_last_v_ = 0.0f;
  } else if (discharge_state_ == 1 && std::fabs(discharge_last_v_ - voltage) >= discharge_v_diff_) {
    SendDischargeReport(voltage);
    discharge_last_v_ = voltage;
  } else if (discharge_state_ == 0) {
    discharge_last_v_ = voltage;
  }
}

void AIKorvane::SendDischargeReport(float voltage) {
  std::ostringstream body;
  body << "Play=" << discharge_state_ << "&Device_ID=" << data_id_
       << "&SPID_1=130610010010&SPNames=001#48V蓄电池组电压&His_DCV=" << voltage;
  const std::string url = DischargeUrl();
  HttpTool client;
  const int result = client.Post(url, body.str(), "application/x-www-form-urlencoded");
  // The report is not resent: the state has moved on. Leave a trace of the
  // loss in the host's log instead.
  if (result != 0) {
    std::cout << "AIKorvane::RunCheckThreshold discharge report to " << url << " failed: curl code "
              << result << " (" << curl_easy_strerror(static_cast<CURLcode>(result)) << ")"
              << std::endl;
  } else if (client.status_ >= 400) {
    std::cout << "AIKorvane::RunCheckThreshold discharge report to " << url
              << " refused: HTTP status " << client.status_ << std::endl;
  }
}

OSKAIDevice* AIKorvaneProvider::create() const { return new AIKorvane(); }
