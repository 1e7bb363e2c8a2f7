// A second build of the plug-in for the backtest's tests of two builds: the
// device's own code, with a device that starts its discharge reports at
// 48 V whatever its settings say, as a release that changed that default
// would. It carries no layout record, as a build of other sources would not.

#include <json/value.h>

#include <memory>
#include <vector>

#include "plugin/aikorvane.h"

namespace {

class ShiftedDevice : public AIKorvane {
 public:
  bool InitSetting(const Json::Value& settings) override {
    Json::Value shifted = settings;
    if (shifted.isObject() && shifted["appSetting"].isObject()) {
      shifted["appSetting"]["discharge_v"] = 48.0;
    }
    return AIKorvane::InitSetting(shifted);
  }
};

class ShiftedProvider : public OSKAIDeviceProvider {
 public:
  OSKAIDevice* create() const override { return new ShiftedDevice; }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) std::vector<std::shared_ptr<Provider>>
get_providers() {
  return {std::make_shared<ShiftedProvider>()};
}
