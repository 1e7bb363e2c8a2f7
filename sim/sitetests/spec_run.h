#pragma once

// One site test (spec_file.h) run through the real plug-in on the virtual
// clock: a new device from the file's settings, the test's readings one
// round each, and what differed from what the test expects, one block of
// text per failed expectation.

#include <string>
#include <vector>

#include "sim/host/device_run.h"
#include "sim/host/session.h"
#include "sim/sitetests/comparison.h"
#include "sim/sitetests/spec_file.h"

namespace sim::cli {

struct TestResult {
  std::string name;
  std::vector<std::string> failures;
  std::string diagnostics;  // the device's lines while the test ran
  double seconds = 0;
};

// inbox: where the host's receiver hands the discharge reports.
TestResult RunSiteTest(Host& host, ReportInbox& inbox, const TestFile& file, const SiteTest& test);

// Feeds the test's readings (series, trace or CSV) to the run's configured
// device, one round each on channel (series and CSV rows without their own);
// a stopped input and settings a trace could not apply become failures, each
// opened by head.
void FeedTest(DeviceRun& run, const TestFile& file, const SiteTest& test, int channel,
              const std::string& head, std::vector<std::string>& failures);

}  // namespace sim::cli
