#include "reference/plain_round.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/lexical_cast.hpp>
#include <cstdint>
#include <ctime>
#include <iostream>
#include <mutex>
#include <sstream>

namespace reference {

void PlainDevice::RoundDone() {
  if (!has_data_) has_data_ = true;
  update_time_ = boost::posix_time::second_clock::local_time();
  const uint64_t packed = get_ttime(update_time_);
  auto* bytes = reinterpret_cast<unsigned char*>(&data_);
  for (int i = 0; i < 7; ++i) bytes[8 + i] = static_cast<unsigned char>(packed >> (8 * i));
  SendSP(5032, bytes, sizeof data_, false);
  Reset();
  round_state_ = 1;
  round_check_result_ = false;
  RunCheckThreshold();
  if (b_mode_ == 1) {
    CheckAiSignals();
  } else if (b_mode_ == 3) {
    CheckAlarmRules();
  } else if (b_mode_ == 5) {
    GenJsonData();
    std::lock_guard<std::mutex> lock(value_mutex_);
    CheckLimitTable(up_thresholds_, true);
    CheckLimitTable(up2_thresholds_, true);
    CheckLimitTable(low_thresholds_, false);
    CheckLimitTable(low2_thresholds_, false);
  }
  std::cout << "rvSize is " << rule_values_.size() << std::endl;
  if (DoBatchCheckThreshold(rule_values_)) round_check_result_ = true;
  SaveDeviceHistory(bytes, sizeof data_);
  rule_values_.clear();
}

void PlainDevice::CheckAiSignals() {
  GenJsonData();
  std::lock_guard<std::mutex> lock(value_mutex_);
  for (const auto& [key, signal] : ai_signals_) {
    if (signal.first.size() < 9) {
      std::cout << "RoundDone skips signal " << key << ": id " << signal.first
                << " is shorter than 9 characters" << std::endl;
      continue;
    }
    std::string report_id = signal.first;
    report_id[3] = '6';
    report_id[8] = '1';
    const Json::Value& member = value_[key];
    if (member.isNull() || !member.isConvertibleTo(Json::realValue)) continue;
    const float value = member.asFloat();
    CheckThreshold(report_id, signal.second, value, 1);
    ReportOnChange(report_id, signal.first, value);
  }
}

void PlainDevice::ReportOnChange(const std::string& fallback_id, const std::string& signal_id,
                                 float value) {
  if (ao_report_settings_.count(signal_id) == 0) {
    if (ao_report_settings_.count(fallback_id) == 0) return;
    ao_report_settings_[signal_id] = ao_report_settings_[fallback_id];
  }
  OSKVDevice::BAOSetting& setting = ao_report_settings_[signal_id];
  const float last = setting.last_report_value;
  bool report = false;
  if (setting.change_enabled &&
      (value > last + setting.change_value || value < last - setting.change_value)) {
    report = true;
  }
  if (setting.percent_enabled && (value > last * (setting.percent_value + 100.0f) / 100.0f ||
                                  value < last * (100.0f - setting.percent_value) / 100.0f)) {
    report = true;
  }
  if (setting.period_enabled) {
    const float now = static_cast<float>(static_cast<int64_t>(std::time(nullptr)));
    if (now > static_cast<float>(setting.last_report_time) + setting.period_minutes * 60.0f) {
      report = true;
    }
  }
  if (!report) return;
  setting.last_report_value = value;
  setting.last_report_time = static_cast<uint32_t>(std::time(nullptr));
  OSKVDevice::CheckAOReport(signal_id, value);
}

void PlainDevice::CheckAlarmRules() {
  GenJsonData();
  std::lock_guard<std::mutex> lock(value_mutex_);
  for (const auto& [key, rule] : alarm_rules_) {
    const std::string data_name = key.substr(0, key.find('_'));
    const auto comma = rule.find(',');
    const std::string alarm_id = rule.substr(0, comma);
    const std::string word = comma == std::string::npos ? rule : rule.substr(comma + 1);
    const int level = alarm_levels_[alarm_id];
    const float threshold = alarm_values_[alarm_id];
    std::cout << "dataName:" << data_name << " alarmId:" << alarm_id << " alarmComp:" << word
              << " level:" << level << " realvalue:" << value_[data_name] << " vs " << threshold
              << std::endl;
    if (level == 0) continue;
    std::ostringstream description;
    description << alarm_report_prefix_[alarm_id] << value_[data_name];
    const std::string& signal_name = alarm_signal_names_[alarm_id];
    const Json::Value& left = value_[data_name];
    const Json::Value right(static_cast<double>(threshold));
    bool condition;
    if (word == "upper") {
      condition = left > right;
    } else if (word == "lower") {
      condition = left < right;
    } else if (word == "equal") {
      condition = left == right;
    } else if (word == "notequal") {
      condition = left != right;
    } else {
      continue;
    }
    CheckThresholdBool(level, alarm_id, alarm_id, signal_name, description.str(), condition, 1);
  }
}

void PlainDevice::CheckLimitTable(ThresholdTable& table, bool is_upper) {
  for (auto& [key, entry] : table) {
    if (!value_.isMember(key) || !value_[key].isNumeric()) continue;
    const float value = value_[key].asFloat();
    auto& [alarm_id, threshold, recovery, active, level] = entry;
    if (!active) {
      active = is_upper ? value >= threshold : value <= threshold;
    } else {
      active = !(is_upper ? value <= recovery : value >= recovery);
    }
    const std::string value_text = boost::lexical_cast<std::string>(value);
    std::string message;
    if (active) {
      message = "当前值" + value_text + (is_upper ? "高于阈值:" : "低于阈值:") +
                boost::lexical_cast<std::string>(threshold);
    }
    CheckThresholdBool(level, key, alarm_id, value_text, message, active, 1);
  }
}

}  // namespace reference
