#pragma once

// Reading of the device's own "appSetting" keys: channel, conversion,
// calibration curve and the discharge voltages.

#include <json/value.h>

#include "config/channel_keys.h"

namespace aikorvane::config {

// Reads "appSetting" of `settings` into `channel`, key by key as
// kChannelKeys says; nothing when it is absent or no object. An absent or
// null key leaves its member as it is; the calibration segments are computed
// from the points afterwards.
void ReadChannelSettings(const Json::Value& settings, ChannelSettings& channel);

}  // namespace aikorvane::config
