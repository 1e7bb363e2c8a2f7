#pragma once

#include "host/osk_export.h"

// The host's controller object. Devices only hold a weak reference to it.
class OSK_API OSKController {
 public:
  OSKController();
  virtual ~OSKController();
  OSKController(const OSKController&) = delete;
  OSKController& operator=(const OSKController&) = delete;
};
