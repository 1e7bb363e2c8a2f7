// The device template's settings reading and cache restore, and the one
// instantiation of the template (its other bodies are instantiated beside
// their definitions).

#include "plugin/uni_data_device.h"

#include <iostream>

#include "config/device_contract.h"
#include "config/device_settings.h"
#include "config/setting_keys.h"

template <typename DataT, typename HostBase, int kRecordCode>
bool UniDataDevice<DataT, HostBase, kRecordCode>::LoadFromCache(const unsigned char* bytes,
                                                                int count) {
  if (bytes == nullptr || count != static_cast<int>(sizeof(DataT))) return false;
  std::memcpy(static_cast<void*>(&data_), bytes, sizeof(DataT));
  this->has_data_ = true;
  RoundDone();
  return true;
}

template <typename DataT, typename HostBase, int kRecordCode>
bool UniDataDevice<DataT, HostBase, kRecordCode>::InitSetting(const Json::Value& settings) {
  namespace config = aikorvane::config;
  data_.data_id = this->data_id_;
  config::ReadOperatingMode(settings, this->data_id_, b_mode_);
  const std::string path =
      config::FindProfile(this->data_id_, this->model_, config::CarrierName(b_mode_));
  std::cout << config::kChosenLine << path << std::endl;
  if (!path.empty()) config::LoadProfile(path, b_mode_, this->data_id_, ai_signals_, alarm_rules_);
  const aikorvane::ModeReads* reads = aikorvane::ModeOf(b_mode_);
  if (reads != nullptr && reads->alarm_records) {
    config::LoadAlarmRecords(settings, this->data_id_, alarm_signal_names_, alarm_report_prefix_,
                             this->alarm_levels_, this->alarm_values_);
  } else if (reads != nullptr && reads->limit_records) {
    config::LoadLimitRecords(settings, up_thresholds_, up2_thresholds_, low_thresholds_,
                             low2_thresholds_);
  }
  return HostBase::InitSetting(settings);
}

template class UniDataDevice<AIKorvane_Data_t, OSKAIDevice, 5032>;
