#pragma once

// What a replay showed, read back from its event log: the human summary and
// the SVG plot are both drawn from it.

#include <json/value.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim::cli {

struct AlarmChange {
  int round = 0;
  std::string id;
  std::string name;
  bool raised = false;
};

struct DischargeReport {
  int round = 0;
  std::string play;     // the "Play=" value as sent
  std::string voltage;  // the "His_DCV=" value as sent
  std::string path;
  int status = 0;
};

struct Analysis {
  int rounds = 0;
  int refused_caches = 0;
  std::optional<double> first_voltage, last_voltage;  // of the records sent
  std::map<int, double> voltage_by_round;             // the first kMaxPlottedRounds rounds
  std::vector<AlarmChange> alarm_changes;
  std::map<std::string, std::string> alarm_names;   // id -> name, every alarm seen
  std::map<std::string, std::string> still_raised;  // id -> name
  std::map<std::string, int> change_reports;        // signal -> reports
  std::vector<DischargeReport> discharge_reports;
  std::vector<std::string> errors;
};

inline constexpr size_t kMaxPlottedRounds = 100000;

// Takes the events one by one as they are logged, keeping only what the
// summary and the plot need.
class Analyser {
 public:
  void Add(const Json::Value& event);
  Analysis Result() const;

 private:
  Analysis analysis_;
  std::map<std::string, bool> raised_;  // alarm id -> condition last passed
};

std::string FormatSummary(const Analysis& analysis);

// A configured alarm threshold, for the plot.
struct Threshold {
  std::string label;
  double value = 0;
};

// Thresholds named by a settings object: the framework's alarm values, the
// discharge start and end voltages and the limits of the limit records.
std::vector<Threshold> CollectThresholds(const Json::Value& settings,
                                         const std::map<std::string, std::string>& alarm_names);

std::string RenderSvg(const Analysis& analysis, const std::vector<Threshold>& thresholds);

}  // namespace sim::cli
