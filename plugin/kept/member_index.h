#pragma once

#include <json/value.h>

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

namespace aikorvane::kept {

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
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // Brings the index up to date with `object` (an object) and starts a pass;
  // true when it changed.
  bool Update(const Json::Value& object);
  // Starts a pass over a table.
  void Rewind() { next_ = 0; }
  // Drops the index, for an object that is no longer one.
  void Forget();

  // The position of the member named `key` in the object's order, or kNone
  // when there is none or when `key` comes before the previous key of the
  // pass: within a pass keys should ascend.
  std::size_t FindPosition(std::string_view key) {
    // Entries on the same member follow each other.
    if (next_ > 0 && Compare(members_[next_ - 1].first, key) == 0) return next_ - 1;
    while (next_ < members_.size()) {
      const int order = Compare(members_[next_].first, key);
      if (order > 0) return kNone;
      ++next_;
      if (order == 0) return next_ - 1;
    }
    return kNone;
  }
  // The same as the member itself, or null.
  const Json::Value* Find(std::string_view key) {
    const std::size_t position = FindPosition(key);
    return position == kNone ? nullptr : members_[position].second;
  }

  const Json::Value& At(std::size_t position) const { return *members_[position].second; }
  std::size_t size() const { return members_.size(); }

 private:
  // std::string's order; the keys are a few bytes long, too short to gain
  // from a call of memcmp.
  static int Compare(std::string_view a, std::string_view b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
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

}  // namespace aikorvane::kept
