#pragma once

#include "host/osk_export.h"
#include "host/osk_vdevice.h"

// Analog-input device of the framework: adds the linear input correction.
class OSK_API OSKAIDevice : public OSKVDevice {
 public:
  OSKAIDevice();
  ~OSKAIDevice() override;

  bool Init(std::weak_ptr<OSKController> controller, unsigned int id,
            const Json::Value& settings) override;

  float ai_gain_ = 1.0f;
  float ai_offset_ = 0.0f;
};
