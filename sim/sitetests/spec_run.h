#pragma once

// One site test (test_file.h) run through the real plug-in on the virtual
// clock: a new device from the file's settings, the test's readings one
// round each, and what differed from what the test expects, one block of
// text per failed expectation.

#include <memory>
#include <string>
#include <vector>

#include "sim/host/event_log.h"
#include "sim/host/session.h"
#include "sim/sitetests/spec_file.h"

namespace sim::cli {

struct TestResult {
  std::string name;
  std::vector<std::string> failures;
  std::string diagnostics;  // the device's lines while the test ran
  double seconds = 0;
};

TestResult RunSiteTest(Host& host, const std::shared_ptr<EventLog>& log, const TestFile& file,
                       const SiteTest& test);

// The float's exact text: nine significant digits, which read back as the
// same float ("46.4999962"; whole and short values stay short: "46.5").
std::string FloatText(double value);

}  // namespace sim::cli
