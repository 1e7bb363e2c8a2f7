#pragma once

// Everything a device keeps from one round to the next for speed alone. None
// of it is behaviour: each part is checked every round against what it was
// made from, and the rounds give the same calls and bytes without it.

#include <json/value.h>

#include <cstddef>
#include <string>
#include <vector>

#include "plugin/kept/entry_parts.h"
#include "plugin/kept/local_clock.h"
#include "plugin/kept/member_index.h"
#include "plugin/text/json_text.h"
#include "plugin/text/text_memo.h"

namespace aikorvane::kept {

// Mode 1: per [AI] entry in table order.
struct AiEntry {
  ReportedId report_id;
  PercentBand band;
};

// The parts a device may do without, one by one, for the benchmarks that
// pair rounds with and without each.
enum Part : unsigned {
  kClock = 1,         // the local time of the minute
  kMemberIndex = 2,   // the published members by name
  kValueTexts = 4,    // per member the text of its value
  kTextMemos = 8,     // the texts of recently written numbers
  kLookUpHints = 16,  // look-ups tried first after the previous one
  kEntryParts = 32,   // per [AI] entry and rule what was made from it
};

class KeptState {
 public:
  // The parts in use: all but in those benchmarks.
  unsigned parts = ~0u;
  bool Uses(Part part) const { return (parts & part) != 0; }

  LocalClock clock;
  FloatTextMemo float_texts;
  StreamTextMemo threshold_texts;
  JsonTexts json_texts;
  // Texts of a rule or limit entry, reused from entry to entry.
  std::string description;
  std::string value_text;

  // Brings the index of `value` up to date; null when `value` is no object.
  MemberIndex* IndexMembers(const Json::Value& value) {
    if (!value.isObject() || !Uses(kMemberIndex)) {
      members_.Forget();
      return nullptr;
    }
    if (members_.Update(value)) value_texts_.resize(members_.size());
    return &members_;
  }
  // The text of the value of the member at `position` of the index.
  const std::string& ValueTextAt(std::size_t position, float value) {
    return value_texts_[position].Follow(value, float_texts);
  }
  AiEntry& AiEntryAt(std::size_t position) { return At(ai_entries_, position); }
  RuleParts& RuleAt(std::size_t position, const std::string& rule) {
    RuleParts& parts = At(rules_, position);
    parts.Follow(rule);
    return parts;
  }

 private:
  template <typename Part>
  static Part& At(std::vector<Part>& parts, std::size_t position) {
    if (position >= parts.size()) parts.resize(position + 1);
    return parts[position];
  }

  MemberIndex members_;
  std::vector<ValueText> value_texts_;  // per member of members_
  std::vector<AiEntry> ai_entries_;
  std::vector<RuleParts> rules_;
};

}  // namespace aikorvane::kept
