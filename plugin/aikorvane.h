#pragma once

#include <sstream>

#include "host/osk_ai_device.h"
#include "host/provider.h"
#include "plugin/aikorvane_data.h"
#include "plugin/uni_data_device.h"

// The analog-input voltage device: converts a sample into a calibrated value,
// checks the battery voltage alarms and follows battery discharges.
class AIKorvane : public UniDataDevice<AIKorvane_Data_t, OSKAIDevice, 5032> {
 public:
  AIKorvane();
  ~AIKorvane() override;

  bool InitSetting(const Json::Value& settings) override;
  float process(short sample) override;
  void RunCheckThreshold() override;
  void GenJsonData() override;

  float min_ = 0.0f;
  float max_ = 0.0f;
  float y1_ = 0.0f, x1_ = 0.0f, y2_ = 0.0f, x2_ = 0.0f;
  float y3_ = 0.0f, x3_ = 0.0f, y4_ = 0.0f, x4_ = 0.0f;
  float slope1_ = 1.0f, intercept1_ = 0.0f;
  float slope2_ = 1.0f, intercept2_ = 0.0f;
  float slope3_ = 1.0f, intercept3_ = 0.0f;
  bool is_current_mode_ = false;
  int ai_index_ = 0;
  int ai_mode_ = 0;
  int discharge_state_ = 0;
  int max_v_ = 5;
  int real_value_ = 0;
  float discharge_v_ = 0.0f;
  float discharge_v_end_ = 0.0f;
  float discharge_v_diff_ = 0.02f;
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
