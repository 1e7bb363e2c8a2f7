#pragma once

#include <json/value.h>
#include <json/writer.h>

#include <algorithm>
#include <array>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <cassert>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/device_settings.h"
#include "plugin/float_text.h"
#include "plugin/line_buffer.h"
#include "plugin/threshold_entry.h"

// The members of a published object by name, in the object's own order: keys
// compared byte-wise, the shorter first on a tie, as std::string orders the
// keys of the device's tables. A table is then matched against it in one
// merging pass instead of a search of the object per entry.
//
// The index is kept from round to round but checked against the object every
// round, member by member (each name and value where the index has it): a
// member added, removed or replaced by the host, whatever the count, makes
// it index the object anew from there, so it never holds a removed member.
class MemberIndex {
 public:
  // Brings the index up to date with `object` (an object) and starts a pass;
  // true when it changed.
  bool Update(const Json::Value& object) {
    bool changed = !built_;
    built_ = true;
    std::size_t position = 0;
    const auto end_of_object = object.end();
    for (auto it = object.begin(); it != end_of_object; ++it, ++position) {
      const char* end = nullptr;
      const char* name = it.memberName(&end);
      const Member member(std::string_view(name, static_cast<std::size_t>(end - name)), &*it);
      if (position < members_.size()) {
        Member& kept = members_[position];
        if (kept.first.data() == member.first.data() && kept.first.size() == member.first.size() &&
            kept.second == member.second) {
          continue;
        }
        kept = member;
      } else {
        members_.push_back(member);
      }
      changed = true;
    }
    if (position != members_.size()) {
      members_.resize(position);
      changed = true;
    }
    next_ = 0;
    return changed;
  }

  // Starts a pass over a table.
  void Rewind() { next_ = 0; }

  // Drops the index, for an object that is no longer one.
  void Forget() {
    members_.clear();
    built_ = false;
  }

  // The member named `key`, or null when there is none or when `key` does
  // not come after the previous key of the pass: within a pass keys should
  // ascend.
  const Json::Value* Find(std::string_view key) {
    const std::size_t position = FindPosition(key);
    return position == kNone ? nullptr : members_[position].second;
  }

  // The same as a position in the object's order (kNone for none), for
  // what the caller keeps per member.
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t FindPosition(std::string_view key) {
    while (next_ < members_.size()) {
      const int order = Compare(members_[next_].first, key);
      if (order > 0) return kNone;
      ++next_;
      if (order == 0) return next_ - 1;
    }
    return kNone;
  }

  const Json::Value& At(std::size_t position) const { return *members_[position].second; }
  std::size_t size() const { return members_.size(); }

 private:
  // std::string's order; the keys are a few bytes long, too short to gain
  // from a call of memcmp.
  static int Compare(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
      const auto x = static_cast<unsigned char>(a[i]);
      const auto y = static_cast<unsigned char>(b[i]);
      if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
  }

  using Member = std::pair<std::string_view, const Json::Value*>;
  std::vector<Member> members_;
  bool built_ = false;
  std::size_t next_ = 0;
};

// The local time to the second, as boost's second_clock::local_time() gives
// it, converting the clock's reading (time()) with localtime_r only about once
// per minute. localtime_r takes a lock of the C library that every device of
// the host would otherwise take every round. A conversion is kept only over
// the rest of its local minute, and only when the C library gives the last
// second of it the same offset and the local time that follows from the
// first; a zone (or the TZ value) that changes its offset within a minute
// then gets a conversion every round until the minute is over. A new zone
// set with tzset() is seen at the next round.
class LocalClock {
 public:
  boost::posix_time::ptime Now() {
    const std::time_t now = std::time(nullptr);
    const Zone zone = CurrentZone();
    if (now >= since_ && now < until_ && zone == zone_) {
      return at_ + boost::posix_time::seconds(now - since_);
    }
    std::tm parts{};
    if (localtime_r(&now, &parts) == nullptr) {
      // The clock's reading has no local time: the library reports it its way.
      since_ = until_ = 0;
      return boost::posix_time::second_clock::local_time();
    }
    at_ = boost::posix_time::ptime_from_tm(parts);
    since_ = now;
    until_ = now + 1;
    zone_ = zone;
    if (parts.tm_sec < 59) {
      const std::time_t last = now + (59 - parts.tm_sec);
      std::tm last_parts{};
      if (localtime_r(&last, &last_parts) != nullptr && last_parts.tm_gmtoff == parts.tm_gmtoff &&
          boost::posix_time::ptime_from_tm(last_parts) ==
              at_ + boost::posix_time::seconds(last - now)) {
        until_ = last + 1;
      }
    }
    return at_;
  }

 private:
  // What tzset() leaves behind for the zone in force.
  struct Zone {
    const char* names[2] = {nullptr, nullptr};
    long offset = 0;
    int daylight = 0;
    bool operator==(const Zone& other) const {
      return names[0] == other.names[0] && names[1] == other.names[1] && offset == other.offset &&
             daylight == other.daylight;
    }
  };
  static Zone CurrentZone() {
    Zone zone;
    zone.names[0] = tzname[0];
    zone.names[1] = tzname[1];
    zone.offset = timezone;
    zone.daylight = daylight;
    return zone;
  }

  std::time_t since_ = 0;  // the reading converted last
  std::time_t until_ = 0;  // the first reading the conversion no longer serves
  Zone zone_;
  boost::posix_time::ptime at_;
};

// Json::Value::isNumeric(), one library call cheaper: an integer or a real.
inline bool IsNumber(const Json::Value& value) {
  switch (value.type()) {
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
      return true;
    default:
      return false;
  }
}

// Not null and convertible to a real (Json::Value::isConvertibleTo): a
// number or a boolean. Text, arrays and objects have no float form.
inline bool HasFloatForm(const Json::Value& value) {
  return IsNumber(value) || value.type() == Json::booleanValue;
}

// Whether a and b, both n bytes long (n from one word to two), are the same
// but where a mask byte is 0: their first and last words are compared, each
// under its mask. The short ids and keys of the tables need no memcmp call.
template <typename Word>
inline bool SameWords(const char* a, const char* b, std::size_t n, Word head_mask = ~Word{0},
                      Word tail_mask = ~Word{0}) {
  Word a0, a1, b0, b1;
  std::memcpy(&a0, a, sizeof(Word));
  std::memcpy(&b0, b, sizeof(Word));
  std::memcpy(&a1, a + n - sizeof(Word), sizeof(Word));
  std::memcpy(&b1, b + n - sizeof(Word), sizeof(Word));
  return (((a0 ^ b0) & head_mask) | ((a1 ^ b1) & tail_mask)) == 0;
}

// a == b, ids and keys of 4 to 16 bytes as two words.
inline bool SameText(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  if (n >= 8 && n <= 16) return SameWords<uint64_t>(a.data(), b.data(), n);
  if (n >= 4 && n < 8) return SameWords<uint32_t>(a.data(), b.data(), n);
  return n == 0 || std::memcmp(a.data(), b.data(), n) == 0;
}

// Whether `report` holds `signal`'s characters but for the 4th and the 9th,
// which the reported id of an [AI] signal overwrites: whether it was made
// from this signal id. Ids of up to 16 bytes are compared as two words.
inline bool KeepsRestOf(const std::string& report, const std::string& signal) {
  const std::size_t n = signal.size();
  if (report.size() != n || n < 9) return false;
  if (n > 16) {
    return std::memcmp(report.data(), signal.data(), 3) == 0 &&
           std::memcmp(report.data() + 4, signal.data() + 4, 4) == 0 &&
           std::memcmp(report.data() + 9, signal.data() + 9, n - 9) == 0;
  }
  // The first word holds the 4th character, the last one the 9th, and the
  // 4th as well when the id is short.
  unsigned char head[8], tail[8];
  std::memset(head, 0xff, sizeof head);
  std::memset(tail, 0xff, sizeof tail);
  head[3] = 0;
  tail[16 - n] = 0;
  if (n <= 11) tail[11 - n] = 0;
  uint64_t head_mask, tail_mask;
  std::memcpy(&head_mask, head, sizeof head_mask);
  std::memcpy(&tail_mask, tail, sizeof tail_mask);
  return SameWords<uint64_t>(report.data(), signal.data(), n, head_mask, tail_mask);
}

// The bounds of a percentage band around a last reported value, kept with
// the two numbers they were computed from: a setting that did not change
// since the last round needs no new division.
struct PercentBand {
  uint32_t last_bits = 0;
  uint32_t percent_bits = 0;
  bool made = false;
  float upper = 0.0f;
  float lower = 0.0f;
};

// The inserting look-up map[key], trying first the entry after `hint` (an
// entry of the map or its end), where the previous look-up left it: keys read
// in ascending order then cost one comparison each.
template <typename Map>
inline __attribute__((always_inline)) typename Map::mapped_type& LookUpAfter(
    Map& map, const typename Map::key_type& key, typename Map::iterator& hint) {
  if (hint != map.end()) {
    const auto next = std::next(hint);
    if (next != map.end() && SameText(next->first, key)) return (hint = next)->second;
    if (SameText(hint->first, key)) return hint->second;
  }
  hint = map.try_emplace(key).first;
  return hint->second;
}

// The JSON texts of recently written real values, as the library's stream
// output writes a real with no comments: rules on the same published value
// write it once. Texts are kept and served only while the decimal point is
// "." as of the last Refresh() (the library mends only a "," after the C
// library's printf).
class JsonRealTexts {
 public:
  void Refresh() { enabled_ = aikorvane::DecimalPointIsDot(); }

  // The text of `value` (a real): a kept one, or one made into `text`. The
  // view is valid until the next call or a change of `text`.
  std::string_view Text(std::string& text, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Slot& slot = slots_[(bits * 0x9E3779B97F4A7C15ull) >> 58];
    if (enabled_ && slot.length != 0 && slot.bits == bits) return {slot.text, slot.length};
    text = Json::valueToString(value);
    if (enabled_ && text.size() <= sizeof slot.text) {
      slot.bits = bits;
      slot.length = static_cast<uint8_t>(text.size());
      std::memcpy(slot.text, text.data(), text.size());
    }
    return text;
  }

 private:
  struct Slot {
    uint64_t bits = 0;
    uint8_t length = 0;  // 0: empty
    char text[31];
  };
  bool enabled_ = false;
  std::array<Slot, 64> slots_{};
};

// Device template over a data record type, a host base class and the record
// code under which every record is sent to the host. It owns the record, the
// settings tables and the published values, and runs the end of every round.
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
  // The same with the published values already indexed.
  void CheckSignalThresholdMap(ThresholdTable& table, bool is_upper, MemberIndex* members);
  using AOSettings = std::map<std::string, OSKVDevice::BAOSetting>;
  // Change-based report of one signal; true when the value was reported.
  bool CheckAOReport(const std::string& fallback_id, const std::string& signal_id, float value) {
    auto no_hint = this->ao_report_settings_.end();
    std::time_t now = kUnread;
    return CheckAOReport(fallback_id, signal_id, value, no_hint, now, nullptr);
  }
  // The same, trying the setting after `previous` (an entry of
  // ao_report_settings_, or its end) before a search; leaves the signal's
  // setting there. `now` is the time of the round's period checks, read on
  // first need when it is kUnread: the signals of one round share it.
  // `band` keeps the percentage band of the signal's last check.
  inline bool CheckAOReport(const std::string& fallback_id, const std::string& signal_id,
                            float value, typename AOSettings::iterator& previous, std::time_t& now,
                            PercentBand* band = nullptr) {
    auto& settings = this->ao_report_settings_;
    auto it = settings.end();
    if (previous != settings.end()) {
      const auto next = std::next(previous);
      if (next != settings.end() && SameText(next->first, signal_id)) it = next;
    }
    if (it == settings.end()) {
      it = FindAOSetting(fallback_id, signal_id);
      if (it == settings.end()) return false;
    }
    previous = it;
    return ReportIfDue(it->second, signal_id, value, now, band);
  }
  static constexpr std::time_t kUnread = -1;

 private:
  // The signal's own setting, or a copy of the fallback's made its own; the
  // end when neither has one.
  typename AOSettings::iterator FindAOSetting(const std::string& fallback_id,
                                              const std::string& signal_id);
  // Reports the value when it left the setting's band or its period ran out.
  bool ReportIfDue(OSKVDevice::BAOSetting& setting, const std::string& signal_id, float value,
                   std::time_t& now, PercentBand* band);

 public:
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
  void CheckAiSignals();
  void CheckAlarmRules();
  void CheckLimitTables();
  // Writes a rule's line to std::cout in one piece, for a stream in its
  // default state (the same bytes as writing it piece by piece); false when
  // it wrote nothing.
  bool WriteRuleLine(std::string_view data_name, const std::string& alarm_id,
                     std::string_view comparison, int level, std::string_view member_text,
                     float threshold);
  // The JSON text of a published value, as the JSON library's stream output
  // writes it; returns a buffer that the next call overwrites.
  std::string_view JsonText(const Json::Value& value);

  // Kept from round to round so that the rule and limit loops make no new
  // JSON writer, stream or description per entry. Used under value_mutex_.
  std::unique_ptr<Json::StreamWriter> json_writer_;
  std::ostringstream json_stream_;
  std::string json_text_;
  std::string description_;
  std::string value_text_;
  // Mode 3: the [ALARM] rules in table order, each split into its parts; a
  // rule whose text is not the one its slot was split from is split again.
  enum class Comparison { kUpper, kLower, kEqual, kNotEqual, kNone };
  struct RuleParts {
    bool split = false;
    std::string rule;  // the text the parts were split from
    std::string alarm_id;
    std::size_t comparison_at = 0;
    Comparison comparison = Comparison::kNone;
  };
  std::vector<RuleParts> rule_parts_;
  static void Split(RuleParts& parts, const std::string& rule);
  // Whether `member` compares with `threshold` as the rule says, as the JSON
  // library compares it with the threshold as a real.
  static bool Holds(Comparison comparison, const Json::Value& member, float threshold);
  template <typename Value>
  static bool Compare(Comparison comparison, const Value& value, const Value& limit);
  aikorvane::StreamTextMemo threshold_texts_;
  // Mode 1: the [AI] entries in table order, each with its reported id and its
  // percentage band. Both are checked against what they were made from every
  // round: the reported id is made again when the entry's signal id changes,
  // the band when the setting's numbers do.
  struct AiMember {
    const void* entry = nullptr;
    std::string report_id;
    PercentBand band;
  };
  std::vector<AiMember> ai_members_;
  // Mode 5: per member of members_, the text of its value as last written.
  struct MemberText {
    uint32_t bits = 0;
    bool made = false;
    std::string text;
  };
  std::vector<MemberText> member_texts_;
  LocalClock local_clock_;
  // Brings members_ up to date with value_ (null when value_ is no object);
  // what is kept per member starts afresh when it indexes anew.
  MemberIndex* IndexMembers();
  aikorvane::FloatTextMemo float_texts_;
  JsonRealTexts json_reals_;
  MemberIndex members_;
};

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
  std::cout << "parse ini/yaml filename:" << path << std::endl;
  if (!path.empty()) config::LoadProfile(path, b_mode_, this->data_id_, ai_signals_, alarm_rules_);
  if (b_mode_ == 3) {
    config::LoadAlarmRecords(settings, this->data_id_, alarm_signal_names_, alarm_report_prefix_,
                             this->alarm_levels_, this->alarm_values_);
  } else if (b_mode_ == 5) {
    config::LoadLimitRecords(settings, up_thresholds_, up2_thresholds_, low_thresholds_,
                             low2_thresholds_);
  }
  return HostBase::InitSetting(settings);
}

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::RoundDone() {
  static_assert(sizeof(DataT) >= 15, "the record carries seven time bytes from offset 8");
  if (!this->has_data_) this->has_data_ = true;
  this->update_time_ = local_clock_.Now();
  const uint64_t packed = get_ttime(this->update_time_);
  auto* bytes = reinterpret_cast<unsigned char*>(&data_);
  for (int i = 0; i < 7; ++i) bytes[8 + i] = static_cast<unsigned char>(packed >> (8 * i));

  this->SendSP(kRecordCode, bytes, sizeof(DataT), false);
  this->Reset();
  this->round_state_ = 1;
  this->round_check_result_ = false;
  RunCheckThreshold();
  switch (b_mode_) {
    case 1:
      CheckAiSignals();
      break;
    case 3:
      CheckAlarmRules();
      break;
    case 5:
      CheckLimitTables();
      break;
    default:
      break;
  }
  if (aikorvane::IsPlainStream(std::cout)) {
    // The same bytes in one piece.
    char line[40] = "rvSize is ";
    const char* end = std::to_chars(line + 10, line + sizeof line, this->rule_values_.size()).ptr;
    aikorvane::WriteLine(std::cout, std::string_view(line, static_cast<std::size_t>(end - line)));
  } else {
    std::cout << "rvSize is " << this->rule_values_.size() << std::endl;
  }
  if (this->DoBatchCheckThreshold(this->rule_values_)) this->round_check_result_ = true;
  this->SaveDeviceHistory(bytes, sizeof(DataT));
  this->rule_values_.clear();
}

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::CheckAiSignals() {
  GenJsonData();
  std::lock_guard<std::mutex> lock(value_mutex_);
  MemberIndex* members = IndexMembers();
  // Signal ids mostly ascend with the keys: each setting is looked for first
  // right after the previous one.
  auto setting = this->ao_report_settings_.end();
  std::time_t now = kUnread;
  std::size_t position = 0;
  for (const auto& entry : ai_signals_) {
    const auto& [key, signal] = entry;
    // What this entry kept last round, while the entry is the same node.
    if (position == ai_members_.size()) ai_members_.emplace_back();
    AiMember& known = ai_members_[position++];
    if (known.entry != &entry) {
      known = AiMember();
      known.entry = &entry;
    }
    const std::string& signal_id = signal.first;
    // The reported id overwrites the 4th and 9th characters of the stored one.
    if (signal_id.size() < 9) {
      std::cout << "RoundDone skips signal " << key << ": id " << signal_id
                << " is shorter than 9 characters" << std::endl;
      continue;
    }
    if (!KeepsRestOf(known.report_id, signal_id)) {
      known.report_id = signal_id;
      known.report_id[3] = '6';
      known.report_id[8] = '1';
    }
    // A member missing from the index is added as null by the inserting
    // look-up; the index sees it next round.
    const Json::Value* found = members != nullptr ? members->Find(key) : nullptr;
    const Json::Value& member = found != nullptr ? *found : value_[key];
    // Null, text, arrays and objects count as no value.
    if (!HasFloatForm(member)) continue;
    const float value = member.asFloat();
    this->CheckThreshold(known.report_id, signal.second, value, 1);
    CheckAOReport(known.report_id, signal_id, value, setting, now, &known.band);
  }
}

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::CheckAlarmRules() {
  GenJsonData();
  std::lock_guard<std::mutex> lock(value_mutex_);
  json_reals_.Refresh();
  // Data names ascend with the rule keys, mostly; a name out of that order,
  // or not yet published, takes the library's inserting look-up.
  MemberIndex* members = IndexMembers();
  // Alarm ids mostly ascend with the rule keys.
  auto level_hint = this->alarm_levels_.end();
  auto value_hint = this->alarm_values_.end();
  auto prefix_hint = alarm_report_prefix_.end();
  auto name_hint = alarm_signal_names_.end();
  std::string_view previous_name;
  const Json::Value* previous_member = nullptr;
  // The stream's state is the host's; it does not change within a round.
  const bool plain = aikorvane::IsPlainStream(std::cout);
  std::size_t position = 0;
  for (const auto& entry : alarm_rules_) {
    const auto& [key, rule] = entry;
    if (position == rule_parts_.size()) rule_parts_.emplace_back();
    RuleParts& parts = rule_parts_[position++];
    if (!parts.split || !SameText(parts.rule, rule)) Split(parts, rule);
    const std::string_view data_name(key.data(), std::min(key.find('_'), key.size()));
    const std::string& alarm_id = parts.alarm_id;
    const std::string_view comparison = std::string_view(rule).substr(parts.comparison_at);
    const int level = LookUpAfter(this->alarm_levels_, alarm_id, level_hint);
    const float threshold = LookUpAfter(this->alarm_values_, alarm_id, value_hint);
    // Rules on the same value follow each other: its member is at hand.
    const Json::Value* found = nullptr;
    if (data_name == previous_name) {
      found = previous_member;
    } else if (members != nullptr) {
      found = members->Find(data_name);
    }
    const Json::Value& member = found != nullptr ? *found : value_[std::string(data_name)];
    previous_name = data_name;
    previous_member = &member;
    // The value's text serves both the line and the description.
    const std::string_view member_text = JsonText(member);
    if (!plain || !WriteRuleLine(data_name, alarm_id, comparison, level, member_text, threshold)) {
      aikorvane::WriteFloat(std::cout << "dataName:" << data_name << " alarmId:" << alarm_id
                                      << " alarmComp:" << comparison << " level:" << level
                                      << " realvalue:" << member_text << " vs ",
                            threshold)
          << std::endl;
    }
    if (level == 0) continue;
    description_ = LookUpAfter(alarm_report_prefix_, alarm_id, prefix_hint);
    description_ += member_text;
    const std::string& signal_name = LookUpAfter(alarm_signal_names_, alarm_id, name_hint);
    if (parts.comparison == Comparison::kNone) continue;
    const bool condition = Holds(parts.comparison, member, threshold);
    this->CheckThresholdBool(level, alarm_id, alarm_id, signal_name, description_, condition, 1);
  }
}

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::Split(RuleParts& parts, const std::string& rule) {
  parts.split = true;
  parts.rule = rule;
  const auto comma = rule.find(',');
  parts.alarm_id.assign(rule, 0, comma);
  parts.comparison_at = comma == std::string::npos ? 0 : comma + 1;
  const std::string_view word = std::string_view(rule).substr(parts.comparison_at);
  parts.comparison = word == "upper"      ? Comparison::kUpper
                     : word == "lower"    ? Comparison::kLower
                     : word == "equal"    ? Comparison::kEqual
                     : word == "notequal" ? Comparison::kNotEqual
                                          : Comparison::kNone;
}

template <typename DataT, typename HostBase, int kRecordCode>
bool UniDataDevice<DataT, HostBase, kRecordCode>::Holds(Comparison comparison,
                                                        const Json::Value& member,
                                                        float threshold) {
  // A real compares with the threshold as the library compares two reals;
  // other kinds as the library orders values of different kinds.
  if (member.type() == Json::realValue) {
    return Compare(comparison, member.asDouble(), static_cast<double>(threshold));
  }
  return Compare(comparison, member, Json::Value(static_cast<double>(threshold)));
}

template <typename DataT, typename HostBase, int kRecordCode>
template <typename Value>
bool UniDataDevice<DataT, HostBase, kRecordCode>::Compare(Comparison comparison, const Value& value,
                                                          const Value& limit) {
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

template <typename DataT, typename HostBase, int kRecordCode>
bool UniDataDevice<DataT, HostBase, kRecordCode>::WriteRuleLine(
    std::string_view data_name, const std::string& alarm_id, std::string_view comparison, int level,
    std::string_view member_text, float threshold) {
  const std::string_view threshold_text = threshold_texts_.Text(threshold);
  if (threshold_text.empty()) return false;
  char level_text[16];
  const char* level_end = std::to_chars(level_text, level_text + sizeof level_text, level).ptr;
  aikorvane::LineBuffer line;
  line << "dataName:" << data_name << " alarmId:" << alarm_id << " alarmComp:" << comparison
       << " level:"
       << std::string_view(level_text, static_cast<std::size_t>(level_end - level_text))
       << " realvalue:" << member_text << " vs " << threshold_text;
  aikorvane::WriteLine(std::cout, line.View());
  return true;
}

template <typename DataT, typename HostBase, int kRecordCode>
std::string_view UniDataDevice<DataT, HostBase, kRecordCode>::JsonText(const Json::Value& value) {
  // A writer of the default builder is what the library's operator<< makes
  // for every value it writes.
  if (value.type() == Json::realValue && !value.hasComment(Json::commentBefore) &&
      !value.hasComment(Json::commentAfterOnSameLine) && !value.hasComment(Json::commentAfter)) {
    // What the writer writes for a real: the library's own text of it.
    return json_reals_.Text(json_text_, value.asDouble());
  }
  if (!json_writer_) json_writer_.reset(Json::StreamWriterBuilder().newStreamWriter());
  json_stream_.str(std::string());
  json_stream_.clear();
  json_writer_->write(value, &json_stream_);
  json_text_ = json_stream_.str();
  return json_text_;
}

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::CheckLimitTables() {
  GenJsonData();
  std::lock_guard<std::mutex> lock(value_mutex_);
  // The four tables name mostly the same members: index them once.
  MemberIndex* members = IndexMembers();
  CheckSignalThresholdMap(up_thresholds_, true, members);
  CheckSignalThresholdMap(up2_thresholds_, true, members);
  CheckSignalThresholdMap(low_thresholds_, false, members);
  CheckSignalThresholdMap(low2_thresholds_, false, members);
}

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::CheckSignalThresholdMap(ThresholdTable& table,
                                                                          bool is_upper) {
  CheckSignalThresholdMap(table, is_upper, IndexMembers());
}

template <typename DataT, typename HostBase, int kRecordCode>
MemberIndex* UniDataDevice<DataT, HostBase, kRecordCode>::IndexMembers() {
  if (!value_.isObject()) {
    members_.Forget();
    return nullptr;
  }
  if (members_.Update(value_)) {
    member_texts_.assign(members_.size(), MemberText{});
    ai_members_.clear();
  }
  return &members_;
}

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::CheckSignalThresholdMap(ThresholdTable& table,
                                                                          bool is_upper,
                                                                          MemberIndex* members) {
  if (members != nullptr) members->Rewind();
  float_texts_.Refresh();
  // A member's text is made once for as long as its value stays the same, if
  // the decimal point is "." (the texts then depend on the value alone).
  const bool keep_texts = members != nullptr && float_texts_.Enabled();
  for (auto& [key, entry] : table) {
    // Without an index (value_ is no object) the library's own search, which
    // refuses what it refused before.
    std::size_t position = MemberIndex::kNone;
    const Json::Value* found = nullptr;
    if (members != nullptr) {
      position = members->FindPosition(key);
      if (position != MemberIndex::kNone) found = &members->At(position);
    } else {
      found = value_.find(key.data(), key.data() + key.size());
    }
    if (found == nullptr) continue;
    const Json::Value& member = *found;
    if (!IsNumber(member)) continue;
    const float value = member.asFloat();
    const float threshold = std::get<1>(entry);
    const float recovery = std::get<2>(entry);
    bool& active = std::get<3>(entry);
    if (!active) {
      active = is_upper ? value >= threshold : value <= threshold;
    } else {
      active = !(is_upper ? value <= recovery : value >= recovery);
    }
    const std::string* value_text = &value_text_;
    if (keep_texts) {
      MemberText& kept = member_texts_[position];
      uint32_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      if (!kept.made || kept.bits != bits) {
        float_texts_.Assign(kept.text, value);
        kept.bits = bits;
        kept.made = true;
      }
      value_text = &kept.text;
    } else {
      float_texts_.Assign(value_text_, value);
    }
    description_.clear();
    if (active) {
      description_ += "当前值";
      description_ += *value_text;
      description_ += is_upper ? "高于阈值:" : "低于阈值:";
      float_texts_.Append(description_, threshold);
    }
    this->CheckThresholdBool(std::get<4>(entry), key, std::get<0>(entry), *value_text, description_,
                             active, 1);
  }
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
                                                              float value, std::time_t& now,
                                                              PercentBand* band) {
  bool report = false;
  if (setting.change_enabled) {
    if (value > setting.last_report_value + setting.change_value ||
        value < setting.last_report_value - setting.change_value) {
      report = true;
    }
  }
  if (setting.percent_enabled) {
    PercentBand made;
    if (band == nullptr) band = &made;
    uint32_t last_bits, percent_bits;
    std::memcpy(&last_bits, &setting.last_report_value, sizeof last_bits);
    std::memcpy(&percent_bits, &setting.percent_value, sizeof percent_bits);
    if (!band->made || band->last_bits != last_bits || band->percent_bits != percent_bits) {
      band->upper = setting.last_report_value * (setting.percent_value + 100.0f) / 100.0f;
      band->lower = setting.last_report_value * (100.0f - setting.percent_value) / 100.0f;
      band->last_bits = last_bits;
      band->percent_bits = percent_bits;
      band->made = true;
    }
    if (value > band->upper || value < band->lower) report = true;
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
