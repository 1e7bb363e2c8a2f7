// The battery voltage alarms of a round: the host's generic check, the fixed
// rows of the operating mode and, in mode 2, the discharge state machine with
// its reports to the local web service.

#include <curl/curl.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "config/device_contract.h"
#include "net/http_tool.h"
#include "plugin/aikorvane.h"
#include "plugin/alarm_rows.h"
#include "plugin/text/diagnostic_line.h"
#include "plugin/text/float_text.h"

namespace {

std::string DischargeUrl() {
  const char* configured = std::getenv("AIKORVANE_DISCHARGE_URL");
  if (configured != nullptr && *configured != '\0') return configured;
  return kDefaultDischargeUrl;
}

}  // namespace

void AIKorvane::RunCheckThreshold() {
  const float voltage = data_.voltage;
  WriteValueLine(voltage);
  voltage_text_.clear();
  // The host takes its texts as strings: make them once, not every round.
  static const std::string kValueId = aikorvane::kGenericAlarmId;
  static const std::string kValueName = aikorvane::kGenericAlarmName;
  static const std::string kGroupId = "461627401001";
  static const std::string kGroupName = "蓄电池组总电压";
  static const std::string kGroupSignal = "461127400001";
  CheckThreshold(kValueId, kValueName, voltage, 1);
  using aikorvane::OperatingMode;
  switch (static_cast<OperatingMode>(b_mode_)) {
    case OperatingMode::kUnicom:
      CheckThreshold(kGroupId, kGroupName, voltage, 1);
      CheckAOReport(kGroupId, kGroupSignal, voltage);
      break;
    case OperatingMode::kTelecom:
      for (const aikorvane::AlarmRow& row : aikorvane::kTelecomRows) {
        CheckAlarmRow(row.id, row.name, row.alarm_when_above, aikorvane::kTelecomRowFlags, voltage);
      }
      FollowDischarge(voltage);
      break;
    case OperatingMode::kMobile:
      for (const aikorvane::AlarmRow& row : aikorvane::kMobileRows) {
        CheckAlarmRow(row.id, row.name, row.alarm_when_above, aikorvane::kMobileRowFlags, voltage);
      }
      break;
    case OperatingMode::kLimitTables:
    default:
      break;
  }
}

void AIKorvane::WriteValueLine(float voltage) {
  aikorvane::DiagnosticLine(std::cout) << "AIKorvane::RunCheckThreshold value:" << voltage;
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
  if (!(static_cast<double>(discharge_v_) > aikorvane::kDischargeSwitch)) return;
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
  namespace contract = aikorvane;
  body << contract::kDischargeStateField << '=' << discharge_state_ << '&'
       << contract::kDischargeDeviceField << '=' << data_id_ << '&'
       << contract::kDischargeSignalField << '=' << contract::kDischargeSignalId << '&'
       << contract::kDischargeSignalNameField << '=' << contract::kDischargeSignalName << '&'
       << contract::kDischargeVoltageField << '=' << voltage;
  const std::string url = DischargeUrl();
  HttpTool client;
  const int result = client.Post(url, body.str(), aikorvane::kDischargeMediaType);
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
