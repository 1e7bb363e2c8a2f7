#pragma once

#include <memory>
#include <vector>

#include "host/osk_ai_device.h"
#include "host/osk_export.h"

// Root of every device factory the host accepts from a plug-in.
class OSK_API Provider {
 public:
  Provider();
  virtual ~Provider();
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
};

// Factory base for analog-input devices. The caller owns what create() returns
// and destroys it through the device's virtual destructor.
class OSK_API OSKAIDeviceProvider : public Provider {
 public:
  OSKAIDeviceProvider();
  ~OSKAIDeviceProvider() override;
  virtual OSKAIDevice* create() const = 0;
};

// Signature of the entry every plug-in exports with C linkage.
using GetProvidersFn = std::vector<std::shared_ptr<Provider>> (*)();
