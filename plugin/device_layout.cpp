// The layout record of the device class, kept in a section of its own so that
// the simulator can read it from the plug-in file before it looks inside a
// device. Internal linkage: it adds no symbol to the plug-in.

#include "plugin/device_layout.h"

namespace {

__attribute__((used, section(AIKORVANE_LAYOUT_SECTION))) constexpr DeviceLayout kDeviceLayout =
    MakeDeviceLayout();

#ifdef AIKORVANE_VERSION
__attribute__((used, section(AIKORVANE_VERSION_SECTION))) constexpr char kVersion[] =
    AIKORVANE_VERSION;
#endif

}  // namespace
