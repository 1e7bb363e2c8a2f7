// The change-based report of one signal: reported when its value left the
// band around the last report or the period ran out.

#include <cstdint>
#include <iterator>

#include "plugin/kept/quick_checks.h"
#include "plugin/uni_data_device.h"

template <typename DataT, typename HostBase, int kRecordCode>
bool UniDataDevice<DataT, HostBase, kRecordCode>::CheckAOReport(const std::string& fallback_id,
                                                                const std::string& signal_id,
                                                                float value) {
  auto no_hint = this->ao_report_settings_.end();
  std::time_t now = kUnread;
  return CheckAOReport(fallback_id, signal_id, value, no_hint, now);
}

template <typename DataT, typename HostBase, int kRecordCode>
bool UniDataDevice<DataT, HostBase, kRecordCode>::CheckAOReport(
    const std::string& fallback_id, const std::string& signal_id, float value,
    typename AOSettings::iterator& previous, std::time_t& now) {
  auto& settings = this->ao_report_settings_;
  auto it = settings.end();
  if (previous != settings.end()) {
    const auto next = std::next(previous);
    if (next != settings.end() && aikorvane::kept::SameText(next->first, signal_id)) it = next;
  }
  if (it == settings.end()) {
    it = FindAOSetting(fallback_id, signal_id);
    if (it == settings.end()) return false;
  }
  previous = it;
  return ReportIfDue(it->second, signal_id, value, now);
}

template <typename DataT, typename HostBase, int kRecordCode>
typename UniDataDevice<DataT, HostBase, kRecordCode>::AOSettings::iterator
UniDataDevice<DataT, HostBase, kRecordCode>::FindAOSetting(const std::string& fallback_id,
                                                           const std::string& signal_id) {
  auto& settings = this->ao_report_settings_;
  auto it = settings.find(signal_id);
  if (it == settings.end()) {
    const auto fallback = settings.find(fallback_id);
    if (fallback == settings.end()) return settings.end();
    it = settings.emplace(signal_id, fallback->second).first;
  }
  return it;
}

template <typename DataT, typename HostBase, int kRecordCode>
bool UniDataDevice<DataT, HostBase, kRecordCode>::ReportIfDue(OSKVDevice::BAOSetting& setting,
                                                              const std::string& signal_id,
                                                              float value, std::time_t& now) {
  bool report = false;
  if (setting.change_enabled) {
    if (value > setting.last_report_value + setting.change_value ||
        value < setting.last_report_value - setting.change_value) {
      report = true;
    }
  }
  if (setting.percent_enabled) {
    // The sum or difference first, then times the last value, then over 100.
    const float last = setting.last_report_value;
    if (value > last * (setting.percent_value + 100.0f) / 100.0f ||
        value < last * (100.0f - setting.percent_value) / 100.0f) {
      report = true;
    }
  }
  if (setting.period_enabled) {
    if (now == kUnread) now = std::time(nullptr);
    const float seconds = static_cast<float>(static_cast<int64_t>(now));
    const float last = static_cast<float>(setting.last_report_time);
    if (seconds > last + setting.period_minutes * 60.0f) report = true;
  }
  if (!report) return false;
  setting.last_report_value = value;
  setting.last_report_time = static_cast<uint32_t>(std::time(nullptr));
  this->OSKVDevice::CheckAOReport(signal_id, value);
  return true;
}

using AIKorvaneBase = UniDataDevice<AIKorvane_Data_t, OSKAIDevice, 5032>;
template bool AIKorvaneBase::CheckAOReport(const std::string&, const std::string&, float);
template bool AIKorvaneBase::CheckAOReport(const std::string&, const std::string&, float,
                                           AOSettings::iterator&, std::time_t&);
template AIKorvaneBase::AOSettings::iterator AIKorvaneBase::FindAOSetting(const std::string&,
                                                                          const std::string&);
template bool AIKorvaneBase::ReportIfDue(OSKVDevice::BAOSetting&, const std::string&, float,
                                         std::time_t&);
