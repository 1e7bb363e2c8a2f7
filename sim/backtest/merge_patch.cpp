#include "sim/backtest/merge_patch.h"

namespace sim::cli {

Json::Value ApplyMergePatch(const Json::Value& target, const Json::Value& patch) {
  if (!patch.isObject()) return patch;
  Json::Value result = target.isObject() ? target : Json::Value(Json::objectValue);
  for (const std::string& name : patch.getMemberNames()) {
    const Json::Value& change = patch[name];
    if (change.isNull()) {
      result.removeMember(name);
    } else {
      const Json::Value present = result.isMember(name) ? result[name] : Json::Value();
      result[name] = ApplyMergePatch(present, change);
    }
  }
  return result;
}

}  // namespace sim::cli
