#include "sim/sitetests/spec_run.h"

#include <chrono>
#include <map>
#include <optional>

#include "sim/framework/sim_framework.h"
#include "sim/replay/csv_trace.h"
#include "sim/replay/replay.h"

namespace sim::cli {

void FeedTest(DeviceRun& run, const TestFile& file, const SiteTest& test, int channel,
              const std::string& head, std::vector<std::string>& failures) {
  Replayer replayer(run);
  bool ran = true;
  std::string error;
  switch (test.input) {
    case SiteTest::Input::kSeries:
      for (size_t step = 0; step < test.series.size() && ran; ++step) {
        sim::SetVirtualTime(file.start + static_cast<std::time_t>(step) * file.interval);
        if (test.series[step]) {
          ran = run.ChannelRound(channel, static_cast<float>(*test.series[step]));
          if (!ran) error = run.Error();
        }
      }
      break;
    case SiteTest::Input::kTrace:
      ran = replayer.Run(test.path.string(), test.path_text);
      error = replayer.Error();
      break;
    case SiteTest::Input::kCsv:
      ran = replayer.RunCsv(test.path.string(), test.path_text, channel);
      error = replayer.Error();
      break;
  }
  if (!ran) failures.push_back(head + "stopped: " + error + "\n");
  for (const std::string& warning : replayer.Warnings()) failures.push_back(head + warning + "\n");
}

TestResult RunSiteTest(Host& host, ReportInbox& inbox, const TestFile& file, const SiteTest& test) {
  const auto began = std::chrono::steady_clock::now();
  TestResult result;
  result.name = test.name;
  const std::string head = "    test: " + test.name + ", ";
  std::map<std::string, float> thresholds;  // the device's, by alarm id
  TestComparison comparison(test, test.input == SiteTest::Input::kCsv
                                      ? std::nullopt
                                      : std::optional<std::time_t>(file.start));
  {
    // The device's diagnostic lines go to the buffer, not to the user.
    StdoutCapture capture;
    DeviceRun run({&comparison});
    const InboxAttachment attached(&inbox, run);
    sim::SetVirtualTime(file.start);
    std::string error;
    if (run.Make(host, file.data_id, file.settings, error)) {
      const SettingsOutcome outcome = run.ApplySettings(file.settings);
      if (!outcome.accepted) error = "settings not accepted: " + outcome.error;
    }
    std::string why;
    DeviceState state;
    if (!error.empty()) {
      result.failures.push_back(head + error + "\n");
    } else {
      // Readings go where the device, as its settings left it, reads them.
      if (test.channel == 0) ReadDeviceState(*run.device(), state, why);
      FeedTest(run, file, test, test.channel > 0 ? test.channel : DefaultChannel(state), head,
               result.failures);
    }
    if (run.device() != nullptr && ReadDeviceState(*run.device(), state, why)) {
      thresholds = state.alarm_values;
    }
    run.Release();
    result.diagnostics = capture.Text();
  }
  comparison.Finish();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  // A test whose device could not be set up has no rounds to compare.
  if (!result.failures.empty() && comparison.Rounds() == 0) return result;
  for (std::string& block : comparison.Failures(thresholds)) {
    result.failures.push_back(std::move(block));
  }
  return result;
}

}  // namespace sim::cli
