// Fuzz target: cached records handed back by the host.
//
// The whole input goes to LoadFromCache as one cached record (refused unless
// it is 15 bytes), then each 15-byte slice of it as a record of its own, on a
// configured device of every operating mode.

#include <json/value.h>

#include <string>

#include "fuzz/fuzz_support.h"

const char* const fuzz::kTargetName = "cache";

namespace {

Json::Value SettingsFor(int mode) {
  Json::Value settings(Json::objectValue);
  Json::Value& app = settings["appSetting"];
  app["b_mode"] = mode;
  app["max"] = 60;
  app["discharge_v"] = "47";
  app["discharge_v_end"] = "48";
  app["discharge_v_diff"] = "0.5";
  Json::Value& alarms = settings["hostSetting"]["alarms"];
  for (const char* id : {"110610040010", "110610050010", "110610060010", "110410040010",
                         "110410050010", "110410060010", "007001", "007002"}) {
    alarms[id]["level"] = 1;
    alarms[id]["value"] = 50.0;
  }
  Json::Value& report = settings["hostSetting"]["aoReport"]["461627401001"];
  report["change"] = 0.5;
  report["percent"] = 5;
  report["periodMinutes"] = 1;
  Json::Value& records = settings["thresholdSetting"];
  if (mode == 3) {
    for (const char* id : {"007001", "007002"}) {
      records[id]["SignalName"] = std::string("signal ") + id;
      records[id]["NMAlarmID"] = 1;
      records[id]["ID"] = id;
      records[id]["SignalNumber"] = 1;
    }
  } else if (mode == 5) {
    Json::Value& record = records["a"];
    record["ID"] = "990001";
    record["SignalName"] = "电压";
    for (const char* family : {"Up", "Up2", "Low", "Low2"}) {
      const std::string name(family);
      record[name + "Value"] = name.rfind("Low", 0) == 0 ? 40 : 55;
      record[name + "ReconverValue"] = name.rfind("Low", 0) == 0 ? 42 : 53;
      record[name + "AlarmLevel"] = 2;
    }
  }
  return settings;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Prepare();
  fuzz::PrivateWorkDir();  // no profile: the search finds nothing here
  for (const int mode : fuzz::kModes) {
    std::time_t now = 1767225600;
    sim::SetVirtualTime(now);
    fuzz::CheckedDevice checked(7);
    AIKorvane& device = checked.device;
    if (!fuzz::ApplySettings(device, SettingsFor(mode))) fuzz::Fail("the fixed settings failed");
    device.ai_signals_["电压"] = {"461127400001", "电压"};
    device.ai_signals_["更新时间"] = {"461127400002", "更新时间"};
    device.alarm_rules_["电压_1"] = "007001,upper";
    device.alarm_rules_["电压_2"] = "007002,lower";
    device.alarm_rules_["更新时间"] = "007001,notequal";

    checked.LoadFromCache(data, size);
    for (size_t offset = 0; offset + 15 <= size && offset < 15 * 16; offset += 15) {
      // Alternate new seconds and repeated ones: publication happens once a second.
      if (offset % 30 == 0) sim::SetVirtualTime(++now);
      checked.LoadFromCache(data + offset, 15);
    }
  }
  sim::SetVirtualTime(std::nullopt);
  return 0;
}
