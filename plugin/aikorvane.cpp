#include "plugin/aikorvane.h"

#include "config/channel_settings.h"

AIKorvane::AIKorvane() { model_ = "aikorvane"; }

AIKorvane::~AIKorvane() = default;

bool AIKorvane::InitSetting(const Json::Value& settings) {
  aikorvane::config::ReadChannelSettings(settings, {is_current_mode_,
                                                    real_value_,
                                                    ai_index_,
                                                    min_,
                                                    max_,
                                                    discharge_v_,
                                                    discharge_v_end_,
                                                    discharge_v_diff_,
                                                    max_v_,
                                                    y1_,
                                                    x1_,
                                                    y2_,
                                                    x2_,
                                                    y3_,
                                                    x3_,
                                                    y4_,
                                                    x4_,
                                                    ai_mode_,
                                                    slope1_,
                                                    intercept1_,
                                                    slope2_,
                                                    intercept2_,
                                                    slope3_,
                                                    intercept3_});
  data_.data_id = data_id_;
  return UniDataDevice::InitSetting(settings);
}

OSKAIDevice* AIKorvaneProvider::create() const { return new AIKorvane(); }
