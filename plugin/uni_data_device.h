#pragma once

#include <json/value.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "config/tables.h"
#include "host/osk_ai_device.h"
#include "plugin/aikorvane_data.h"
#include "plugin/kept/kept_state.h"

// Device template over a data record type, a host base class and the record
// code under which every record is sent to the host. It owns the record, the
// settings tables and the published values, and runs the end of every round.
// Its bodies are compiled once, for the one device: uni_data_device.cpp
// (settings and cache), round.cpp (the round and its mode loops),
// threshold_map.cpp (limit tables), ao_report.cpp (change-based report).
template <typename DataT, typename HostBase, int kRecordCode>
class UniDataDevice : public HostBase {
 public:
  UniDataDevice() { std::memset(static_cast<void*>(&data_), 0, sizeof data_); }
  ~UniDataDevice() override = default;

  using HostBase::LoadFromCache;
  bool LoadFromCache(const unsigned char* bytes, int count) override;
  void RoundDone() override;
  bool InitSetting(const Json::Value& settings) override;

  virtual float process(short sample) = 0;
  virtual void RunCheckThreshold() {}
  virtual void GenJsonData() {}

  // Hysteresis check of one limit table against the published values; the
  // caller holds value_mutex_.
  void CheckSignalThresholdMap(ThresholdTable& table, bool is_upper);
  // Change-based report of one signal; true when the value was reported.
  bool CheckAOReport(const std::string& fallback_id, const std::string& signal_id, float value);

  // What the rounds keep for speed, for the benchmarks that turn parts off.
  aikorvane::kept::KeptState& Kept() { return kept_; }

  DataT data_;
  int b_mode_ = 1;
  TextTable alarm_report_prefix_;
  TextTable alarm_signal_names_;
  TextTable alarm_rules_;
  ThresholdTable up_thresholds_;
  ThresholdTable up2_thresholds_;
  ThresholdTable low_thresholds_;
  ThresholdTable low2_thresholds_;
  boost::posix_time::ptime published_time_;
  std::mutex value_mutex_;
  Json::Value value_;
  AiSignalTable ai_signals_;

 private:
  using AOSettings = std::map<std::string, OSKVDevice::BAOSetting>;
  // The time of a round's period checks before it is first needed.
  static constexpr std::time_t kUnread = -1;

  // The mode loops of a round, each under value_mutex_ after GenJsonData.
  void CheckAiSignals();
  void CheckAlarmRules();
  void CheckLimitTables();
  // The member of value_ named `key`: from the index when it has it, else by
  // the inserting look-up.
  const Json::Value& Member(aikorvane::kept::MemberIndex* members, std::string_view key);

  // CheckSignalThresholdMap with value_ indexed in `members` (null: value_ is
  // no object).
  void CheckSignalThresholdMap(ThresholdTable& table, bool is_upper,
                               aikorvane::kept::MemberIndex* members);
  // CheckAOReport trying the setting after `previous` (an entry of
  // ao_report_settings_, or its end) before a search; leaves the signal's
  // setting there. `now` is the time of the round's period checks, read on
  // first need when it is kUnread.
  bool CheckAOReport(const std::string& fallback_id, const std::string& signal_id, float value,
                     typename AOSettings::iterator& previous, std::time_t& now);
  // The signal's own setting, or a copy of the fallback's made its own; the
  // end when neither has one.
  typename AOSettings::iterator FindAOSetting(const std::string& fallback_id,
                                              const std::string& signal_id);
  // Reports the value when it left the setting's band or its period ran out.
  bool ReportIfDue(OSKVDevice::BAOSetting& setting, const std::string& signal_id, float value,
                   std::time_t& now);

  // What the rounds keep for speed; used under value_mutex_.
  aikorvane::kept::KeptState kept_;
};

extern template class UniDataDevice<AIKorvane_Data_t, OSKAIDevice, 5032>;
