// The limit tables of mode 5: hysteresis of each limit against the published
// values, every numeric entry handed to the host each round.

#include <cstddef>
#include <tuple>

#include "plugin/kept/quick_checks.h"
#include "plugin/uni_data_device.h"

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::CheckSignalThresholdMap(ThresholdTable& table,
                                                                          bool is_upper) {
  CheckSignalThresholdMap(table, is_upper, kept_.IndexMembers(value_));
}

template <typename DataT, typename HostBase, int kRecordCode>
void UniDataDevice<DataT, HostBase, kRecordCode>::CheckSignalThresholdMap(
    ThresholdTable& table, bool is_upper, aikorvane::kept::MemberIndex* members) {
  using aikorvane::kept::MemberIndex;
  if (members != nullptr) members->Rewind();
  kept_.float_texts.Refresh(kept_.Uses(aikorvane::kept::kTextMemos));
  // A member's text is kept while its value stays the same, if the decimal
  // point is "." (the texts then depend on the value alone).
  const bool keep_texts = members != nullptr && kept_.float_texts.PointIsDot() &&
                          kept_.Uses(aikorvane::kept::kValueTexts);
  for (auto& [key, entry] : table) {
    // Without an index (value_ is no object) the library's own search, which
    // refuses what it refused before.
    const std::size_t position =
        members != nullptr ? members->FindPosition(key) : MemberIndex::kNone;
    const Json::Value* member = position != MemberIndex::kNone ? &members->At(position)
                                : members == nullptr
                                    ? value_.find(key.data(), key.data() + key.size())
                                    : nullptr;
    if (member == nullptr || !aikorvane::kept::IsNumber(*member)) continue;
    const float value = member->asFloat();
    auto& [alarm_id, threshold, recovery, active, level] = entry;
    if (!active) {
      active = is_upper ? value >= threshold : value <= threshold;
    } else {
      active = !(is_upper ? value <= recovery : value >= recovery);
    }
    if (!keep_texts) kept_.float_texts.Assign(kept_.value_text, value);
    const std::string& value_text =
        keep_texts ? kept_.ValueTextAt(position, value) : kept_.value_text;
    std::string& message = kept_.description;
    message.clear();
    if (active) {
      message += "当前值";
      message += value_text;
      message += is_upper ? "高于阈值:" : "低于阈值:";
      kept_.float_texts.Append(message, threshold);
    }
    this->CheckThresholdBool(level, key, alarm_id, value_text, message, active, 1);
  }
}

using AIKorvaneBase = UniDataDevice<AIKorvane_Data_t, OSKAIDevice, 5032>;
template void AIKorvaneBase::CheckSignalThresholdMap(ThresholdTable&, bool);
template void AIKorvaneBase::CheckSignalThresholdMap(ThresholdTable&, bool,
                                                     aikorvane::kept::MemberIndex*);
