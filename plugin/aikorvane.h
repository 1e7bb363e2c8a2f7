#pragma once

#include <sstream>

#include "config/channel_keys.h"
#include "host/osk_ai_device.h"
#include "host/provider.h"
#include "plugin/aikorvane_data.h"
#include "plugin/uni_data_device.h"

// The analog-input voltage device: converts a sample into a calibrated value,
// checks the battery voltage alarms and follows battery discharges. Its
// channel settings are the members of ChannelSettings, which the settings
// reader fills and the simulator copies whole.
class AIKorvane : public UniDataDevice<AIKorvane_Data_t, OSKAIDevice, 5032>,
                  public aikorvane::config::ChannelSettings {
 public:
  AIKorvane();
  ~AIKorvane() override;

  bool InitSetting(const Json::Value& settings) override;
  float process(short sample) override;
  void RunCheckThreshold() override;
  void GenJsonData() override;

  int discharge_state_ = 0;
  float discharge_last_v_ = 0.0f;

 private:
  // Kept text buffers: the alarm row's on the round's thread, published_text_
  // under value_mutex_.
  std::string row_description_;
  std::string row_name_;
  std::ostringstream published_text_;
  // The round's voltage as a new string stream writes it, formatted by the
  // first alarm row that needs it; empty until then.
  std::string voltage_text_;

  // Writes the round's "RunCheckThreshold value:" line.
  void WriteValueLine(float voltage);

  void CheckAlarmRow(const char* alarm_id, const char* fixed_name, bool alarm_when_above,
                     unsigned short flags, float voltage);
  void FollowDischarge(float voltage);
  void SendDischargeReport(float voltage);
};

class AIKorvaneProvider : public OSKAIDeviceProvider {
 public:
  OSKAIDevice* create() const override;
};

// Where discharge reports go unless AIKORVANE_DISCHARGE_URL names another place.
inline constexpr const char* kDefaultDischargeUrl = "http://127.0.0.1/welcome/discharge/";
