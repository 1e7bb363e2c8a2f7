#pragma once

// A JSON merge patch (RFC 7386): the candidate settings of a backtest are a
// site's own settings with one patch applied, so one file changes a fleet.

#include <json/value.h>

namespace sim::cli {

// target with patch applied: an object patch merges member by member, a null
// member removes that member, anything else replaces the target whole.
Json::Value ApplyMergePatch(const Json::Value& target, const Json::Value& patch);

}  // namespace sim::cli
