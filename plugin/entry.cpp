#include <memory>
#include <vector>

#include "plugin/aikorvane.h"

// The plug-in's only exported symbol: the host looks it up after loading.
extern "C" __attribute__((visibility("default"))) std::vector<std::shared_ptr<Provider>>
get_providers() {
  return {std::make_shared<AIKorvaneProvider>()};
}
