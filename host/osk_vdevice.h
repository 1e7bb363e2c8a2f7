#pragma once

#include <json/value.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/osk_controller.h"
#include "host/osk_export.h"
#include "host/rule_value.h"
#include "host/vdevice_interface.h"

// Packs a local time for records: year in bits 0-15, then month, day, hour,
// minute and second one byte each (bits 16-55).
OSK_API uint64_t get_ttime(boost::posix_time::ptime time);

// Host-private state of a device; its layout is the host's business.
struct OSKHostContext;

class OSK_API OSKVDevice : public VDeviceInterface, public std::enable_shared_from_this<OSKVDevice> {
 public:
  // Change-based report setting of one signal and the memory of its last report.
  struct OSK_API BAOSetting {
    BAOSetting() = default;
    bool change_enabled = false;
    float change_value;
    bool percent_enabled = false;
    float percent_value;
    bool period_enabled = false;
    float period_minutes;
    uint32_t last_report_time;  // seconds since the epoch, cut to 32 bits
    float last_report_value;
  };

  OSKVDevice();
  virtual ~OSKVDevice();

  int DeviceIoControl(int code, const void* in, int in_size, void* out, int out_size,
                      int& returned) override;

  virtual void Reset();
  virtual bool InitV(OSKVDevice* parent, unsigned int id, const Json::Value& settings);
  virtual bool Init(std::weak_ptr<OSKController> controller, unsigned int id,
                    const Json::Value& settings);
  virtual bool InitSetting(const Json::Value& settings);
  virtual bool IsSupportDevice(const std::string& type) const;
  virtual std::shared_ptr<OSKVDevice> GetChildVDevice(unsigned int /*id*/) { return {}; }
  virtual std::vector<std::shared_ptr<OSKVDevice>> GetAllChildVDevices() { return {}; }
  virtual int SendSP(int code, const unsigned char* bytes, unsigned long length, bool flag);
  virtual int SendDelayData(int code);
  virtual int SendDoData(int channel, char value);
  virtual int ReadDi(int channel);
  virtual float ReadAi(int channel);
  virtual Json::Value Get_SP_Value(unsigned int code, const std::string& name);

  // Threshold and report operations of the framework (not virtual).
  bool CheckThreshold(const std::string& id, const std::string& name, const float& value,
                      int flag);
  bool CheckThresholdBool(int level, const std::string& alarm_id, const std::string& signal_id,
                          const std::string& name, const std::string& text, bool condition,
                          unsigned short flags);
  bool CheckAOReport(const std::string& signal_id, float value);
  bool DoBatchCheckThreshold(const std::vector<rule_value>& rules);
  void SaveDeviceHistory(const unsigned char* bytes, unsigned long length);

  std::map<std::string, BAOSetting> ao_report_settings_;
  uint16_t round_state_ = 0;
  boost::posix_time::ptime update_time_;
  bool has_data_ = false;
  std::vector<rule_value> rule_values_;
  bool round_check_result_ = false;
  std::map<std::string, int> alarm_levels_;
  std::map<std::string, float> alarm_values_;

  OSKHostContext* host_context_ = nullptr;
};
