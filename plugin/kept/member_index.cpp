#include "plugin/kept/member_index.h"

namespace aikorvane::kept {

bool MemberIndex::Update(const Json::Value& object) {
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

void MemberIndex::Forget() {
  members_.clear();
  built_ = false;
}

}  // namespace aikorvane::kept
