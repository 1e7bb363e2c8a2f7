// The end of every round and its mode loops.

#include <algorithm>
#include <cstdint>
#include <iostream>

#include "config/device_contract.h"
#include "plugin/alarm_rows.h"
#include "plugin/kept/look_up.h"
#include "plugin/text/diagnostic_line.h"
#include "plugin/uni_data_device.h"

namespace {

using aikorvane::DiagnosticLine;

enum class Comparison { kUpper, kLower, kEqual, kNotEqual, kNone };

// The comparison a rule's word names; only these four words, exactly.
Comparison ComparisonOf(std::string_view word) {
  const auto& words = aikorvane::kComparisonWords;
  return word == words[0]   ? Comparison::kUpper
         : word == words[1] ? Comparison::kLower
         : word == words[2] ? Comparison::kEqual
         : word == words[3] ? Comparison::kNotEqual
                            : Comparison::kNone;
}

template <typename Value>
bool Compare(Comparison comparison, const Value& value, const Value& limit) {
  // The library's != is the negation of its ==.
  switch (comparison) {
    case Comparison::kUpper:
      return value > limit;
    case Comparison::kLower:
      return value < limit;
    case Comparison::kEqual:
      return value == limit;
    case Comparison::kNotEqual:
      return !(value == limit);
    case Comparison::kNone:
      break;
  }
  return false;
}

// Whether `member` compares with `threshold` as the rule says, as the JSON
// library compares it with the threshold made a real: a real as two reals
// compare, other kinds as the library orders values of different kinds.
bool Holds(Comparison comparison, const Json::Value& member, float threshold) {
  if (member.type() == Json::realValue) {
    return Compare(comparison, member.asDouble(), static_cast<double>(threshold));
  }
  return Compare(comparison, member, Json::Value(static_cast<double>(threshold)));
}

}  // namespace

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::RoundDone() {
  static_assert(sizeof(DataT) >= 15, "the record carries seven time bytes from offset 8");
  if (!this->has_data_) this->has_data_ = true;
  this->update_time_ = boost::posix_time::second_clock::local_time();
  const uint64_t packed = get_ttime(this->update_time_);
  auto* bytes = reinterpret_cast<unsigned char*>(&data_);
  for (int i = 0; i < 7; ++i) bytes[8 + i] = static_cast<unsigned char>(packed >> (8 * i));

  this->SendSP(kRecordCode, bytes, sizeof(DataT), false);
  this->Reset();
  this->round_state_ = 1;
  this->round_check_result_ = false;
  RunCheckThreshold();
  switch (static_cast<aikorvane::OperatingMode>(b_mode_)) {
    case aikorvane::OperatingMode::kUnicom:
      CheckAiSignals();
      break;
    case aikorvane::OperatingMode::kMobile:
      CheckAlarmRules();
      break;
    case aikorvane::OperatingMode::kLimitTables:
      CheckLimitTables();
      break;
    case aikorvane::OperatingMode::kTelecom:
    default:
      break;
  }
  DiagnosticLine(std::cout) << "rvSize is " << this->rule_values_.size();
  if (this->DoBatchCheckThreshold(this->rule_values_)) this->round_check_result_ = true;
  this->SaveDeviceHistory(bytes, sizeof(DataT));
  this->rule_values_.clear();
}

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::CheckAiSignals() {
  GenJsonData();
  std::lock_guard<std::mutex> lock(value_mutex_);
  aikorvane::kept::MemberIndex* members = kept_.IndexMembers(value_);
  // Signal ids mostly ascend with the keys: each setting is looked for first
  // right after the previous one. The signals of a round share its time.
  auto setting = this->ao_report_settings_.end();
  std::time_t now = kUnread;
  const bool use_hints = kept_.Uses(aikorvane::kept::kLookUpHints);
  for (const auto& [key, signal] : ai_signals_) {
    if (!use_hints) setting = this->ao_report_settings_.end();
    const std::string& signal_id = signal.first;
    // The reported id overwrites the 4th and 9th characters of the stored one.
    if (signal_id.size() < aikorvane::kShortestSignalId) {
      DiagnosticLine(std::cout) << "RoundDone skips signal " << key << ": id " << signal_id
                                << " is shorter than 9 characters";
      continue;
    }
    std::string report_id = signal_id;
    report_id[3] = '6';
    report_id[8] = '1';
    const Json::Value& member = Member(members, key);
    // Null, text, arrays and objects count as no value.
    if (!aikorvane::kept::HasFloatForm(member)) continue;
    const float value = member.asFloat();
    this->CheckThreshold(report_id, signal.second, value, 1);
    CheckAOReport(report_id, signal_id, value, setting, now);
  }
}

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::CheckAlarmRules() {
  using aikorvane::kept::LookUpAfter;
  GenJsonData();
  std::lock_guard<std::mutex> lock(value_mutex_);
  kept_.json_texts.Refresh(kept_.Uses(aikorvane::kept::kTextMemos));
  aikorvane::kept::MemberIndex* members = kept_.IndexMembers(value_);
  // Alarm ids mostly ascend with the rule keys; the stream's state is the
  // host's and does not change within a round.
  auto level_hint = this->alarm_levels_.end();
  auto value_hint = this->alarm_values_.end();
  auto prefix_hint = alarm_report_prefix_.end();
  auto name_hint = alarm_signal_names_.end();
  const bool plain = aikorvane::IsPlainStream(std::cout);
  const bool use_hints = kept_.Uses(aikorvane::kept::kLookUpHints);
  aikorvane::StreamTextMemo* threshold_texts =
      kept_.Uses(aikorvane::kept::kTextMemos) ? &kept_.threshold_texts : nullptr;
  for (const auto& [key, rule] : alarm_rules_) {
    if (!use_hints) {
      level_hint = this->alarm_levels_.end();
      value_hint = this->alarm_values_.end();
      prefix_hint = alarm_report_prefix_.end();
      name_hint = alarm_signal_names_.end();
    }
    const std::string_view data_name(key.data(), std::min(key.find('_'), key.size()));
    const auto comma = rule.find(',');
    const std::string alarm_id = rule.substr(0, comma);
    const std::string_view word =
        std::string_view(rule).substr(comma == std::string::npos ? 0 : comma + 1);
    const int level = LookUpAfter(this->alarm_levels_, alarm_id, level_hint);
    const float threshold = LookUpAfter(this->alarm_values_, alarm_id, value_hint);
    const Json::Value& member = Member(members, data_name);
    // The value's text serves both the line and the description.
    const std::string_view member_text = kept_.json_texts.Text(member);
    DiagnosticLine(std::cout, plain)
        << "dataName:" << data_name << " alarmId:" << alarm_id << " alarmComp:" << word
        << " level:" << level << " realvalue:" << member_text << " vs "
        << DiagnosticLine::Memo(threshold, threshold_texts);
    if (level == 0) continue;
    kept_.description = LookUpAfter(alarm_report_prefix_, alarm_id, prefix_hint);
    kept_.description += member_text;
    const std::string& signal_name = LookUpAfter(alarm_signal_names_, alarm_id, name_hint);
    const Comparison comparison = ComparisonOf(word);
    if (comparison == Comparison::kNone) continue;
    this->CheckThresholdBool(level, alarm_id, alarm_id, signal_name, kept_.description,
                             Holds(comparison, member, threshold), 1);
  }
}

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::CheckLimitTables() {
  GenJsonData();
  std::lock_guard<std::mutex> lock(value_mutex_);
  // The four tables name mostly the same members: index them once.
  aikorvane::kept::MemberIndex* members = kept_.IndexMembers(value_);
  CheckSignalThresholdMap(up_thresholds_, true, members);
  CheckSignalThresholdMap(up2_thresholds_, true, members);
  CheckSignalThresholdMap(low_thresholds_, false, members);
  CheckSignalThresholdMap(low2_thresholds_, false, members);
}

template <typename DataT, typename HostBase, int kRecordCode>
const Json::Value& UniDataDevice<DataT, HostBase, kRecordCode>::Member(
    aikorvane::kept::MemberIndex* members, std::string_view key) {
  const Json::Value* found = members != nullptr ? members->Find(key) : nullptr;
  return found != nullptr ? *found : value_[std::string(key)];
}

using AIKorvaneBase = UniDataDevice<AIKorvane_Data_t, OSKAIDevice, 5032>;
template void AIKorvaneBase::RoundDone();
template void AIKorvaneBase::CheckAiSignals();
template void AIKorvaneBase::CheckAlarmRules();
template void AIKorvaneBase::CheckLimitTables();
template const Json::Value& AIKorvaneBase::Member(aikorvane::kept::MemberIndex*, std::string_view);
