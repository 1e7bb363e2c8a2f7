#pragma once

#include <json/value.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "host/osk_export.h"

// Interface root of every virtual device. The order of the virtual functions
// below is the host's ABI: devices are called through these slots.
class OSK_API VDeviceInterface {
 public:
  VDeviceInterface() = default;
  VDeviceInterface(const VDeviceInterface&) = delete;
  VDeviceInterface& operator=(const VDeviceInterface&) = delete;

  virtual Json::Value Get_Value(unsigned int /*index*/, const std::string& /*name*/) const {
    throw std::out_of_range("数据未就绪");
  }
  virtual bool LoadFromCache(const std::string& bytes) {
    return LoadFromCache(reinterpret_cast<const unsigned char*>(bytes.data()),
                         static_cast<int>(bytes.size()));
  }
  virtual bool LoadFromCache(const unsigned char* /*bytes*/, int /*count*/) { return false; }
  virtual unsigned int DataId() const { return data_id_; }
  virtual const std::string& DeviceType() const { return model_; }
  // Defined by the host; it is also the class's key function.
  virtual int DeviceIoControl(int code, const void* in, int in_size, void* out, int out_size,
                              int& returned);
  virtual void RoundDone() {}
  virtual bool UseControllerDb() { return use_controller_db_; }

  uint32_t data_id_ = 0;
  std::string model_;
  bool use_controller_db_ = false;

 protected:
  // Not virtual: devices are destroyed through OSKVDevice, which adds the
  // virtual destructor. Protected so that nobody deletes through this base.
  ~VDeviceInterface() = default;
};
