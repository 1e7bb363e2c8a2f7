#include "plugin/aikorvane.h"

#include "config/channel_settings.h"

AIKorvane::AIKorvane() { model_ = "aikorvane"; }

AIKorvane::~AIKorvane() = default;

bool AIKorvane::InitSetting(const Json::Value& settings) {
  aikorvane::config::ReadChannelSettings(settings, *this);
  data_.data_id = data_id_;
  return UniDataDevice::InitSetting(settings);
}

OSKAIDevice* AIKorvaneProvider::create() const { return new AIKorvane(); }
