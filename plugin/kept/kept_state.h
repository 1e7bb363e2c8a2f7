#pragma once

// Everything a device keeps from one round to the next for speed alone. None
// of it is behaviour: each part is checked every round against what it was
// made from, and the rounds give the same calls and bytes without it.

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/kept/member_index.h"
#include "plugin/text/json_text.h"
#include "plugin/text/text_memo.h"

namespace aikorvane::kept {

// The "%.9g" text of a published member's value as last written.
class ValueText {
 public:
  const std::string& Follow(float value, FloatTextMemo& texts) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (!made_ || bits_ != bits) {
      texts.Assign(text_, value);
      bits_ = bits;
      made_ = true;
    }
    return text_;
  }

 private:
  uint32_t bits_ = 0;
  bool made_ = false;
  std::string text_;
};

// The parts a device may do without, one by one, for the benchmarks that
// pair rounds with and without each.
enum Part : unsigned {
  kMemberIndex = 1,  // the published members by name
  kValueTexts = 2,   // per member the text of its value
  kTextMemos = 4,    // the texts of recently written numbers
  kLookUpHints = 8,  // look-ups tried first after the previous one
};

class KeptState {
 public:
  // The parts in use: all but in those benchmarks.
  unsigned parts = ~0u;
  bool Uses(Part part) const { return (parts & part) != 0; }

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

 private:
  MemberIndex members_;
  std::vector<ValueText> value_texts_;  // per member of members_
};

}  // namespace aikorvane::kept
