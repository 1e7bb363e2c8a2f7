#include "sim/sitetests/spec_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "sim/report/analysis.h"
#include "sim/host/host_events.h"
#include "sim/replay/replay.h"
#include "sim/report/text.h"
#include "sim/framework/sim_framework.h"

namespace sim::cli {
namespace {
// What the device had shown after a round.
struct Snapshot {
  int round = 0;
  std::time_t time = 0;
  std::set<std::string> alarms;  // ids whose latest condition is true
  std::optional<double> voltage;
  Json::Value published;
};

struct SentReport {
  int round = 0;
  FormFields fields;   // discharge: the form body
  std::string signal;  // change-based
  double value = 0;
  std::string path;
  int status = 200;
};

// Follows one test's events: the alarm conditions, values and reports of
// each round, and the state at each point an expectation names. The test's
// rounds run one after the other, so everything logged meanwhile (including
// the report receiver's requests, answered inside their round) is the test's.
class Recorder {
 public:
  Recorder(const SiteTest& test, std::optional<std::time_t> origin)
      : test_(test), origin_(origin), points_(test.expect.size()) {}

  void Add(const Json::Value& event) {
    const std::string kind = event["event"].asString();
    if (kind == "round") {
      CloseRound();
      round_ = event["round"].asInt();
      time_ = sim::VirtualTime().value_or(std::time(nullptr));
      if (!origin_) origin_ = time_;
      voltage_.reset();
    } else if (const auto record = RecordOf(event)) {
      voltage_ = record->voltage;
    } else if (const auto alarm = AlarmOf(event)) {
      alarms_[alarm->id] = alarm->condition;
    } else if (kind == "published") {
      published_ = event["values"];
    } else if (kind == "http") {
      SentReport report;
      report.round = round_;
      report.path = event["path"].asString();
      report.status = event["status"].asInt();
      report.fields = ParseForm(event["body"].asString());
      discharge_.push_back(std::move(report));
    } else if (kind == "CheckAOReport") {
      SentReport report;
      report.round = round_;
      report.signal = event["signal"].asString();
      report.value = event["value"].asDouble();
      ao_.push_back(std::move(report));
    }
  }

  void Finish() { CloseRound(); }

  int rounds() const { return rounds_; }
  const std::optional<Snapshot>& At(size_t expectation) const { return points_[expectation]; }
  const std::vector<SentReport>& discharge() const { return discharge_; }
  const std::vector<SentReport>& ao() const { return ao_; }
  std::optional<std::time_t> origin() const { return origin_; }

 private:
  void CloseRound() {
    if (round_ == 0) return;
    rounds_ = std::max(rounds_, round_);
    for (size_t i = 0; i < test_.expect.size(); ++i) {
      const Point& at = test_.expect[i].at;
      const bool here = at.round ? *at.round == round_ : time_ <= *origin_ + *at.seconds;
      if (!here) continue;
      Snapshot& snapshot = points_[i].emplace();
      snapshot.round = round_;
      snapshot.time = time_;
      for (const auto& [id, raised] : alarms_) {
        if (raised) snapshot.alarms.insert(id);
      }
      snapshot.voltage = voltage_;
      snapshot.published = published_;
    }
    round_ = 0;
  }

  const SiteTest& test_;
  std::optional<std::time_t> origin_;
  std::vector<std::optional<Snapshot>> points_;
  int round_ = 0, rounds_ = 0;
  std::time_t time_ = 0;
  std::optional<double> voltage_;
  std::map<std::string, bool> alarms_;
  Json::Value published_;
  std::vector<SentReport> discharge_, ao_;
};

// The shortest text that reads back as the same float (the device's values
// are floats widened to double), else as the same double.
std::string Shortest(double value) {
  const bool single = static_cast<double>(static_cast<float>(value)) == value;
  char text[40];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, value);
    const double back = std::strtod(text, nullptr);
    if (single ? static_cast<float>(back) == static_cast<float>(value) : back == value) break;
  }
  return text;
}

bool Close(double expected, double got) {
  return std::fabs(expected - got) <= 1e-6 * std::max(std::fabs(expected), std::fabs(got));
}

// A value as a failure shows it; the device's own numbers (got) exactly.
std::string Show(const Json::Value& value, bool got = false) {
  if (value.isNumeric() && !value.isBool()) {
    const double number = value.asDouble();
    const bool single = static_cast<double>(static_cast<float>(number)) == number;
    return got && single ? FloatText(number) : Shortest(number);
  }
  if (value.isString()) return "\"" + value.asString() + "\"";
  if (value.isNull()) return "null";
  if (value.isBool()) return value.asBool() ? "true" : "false";
  std::string text;
  for (const std::string& name : value.getMemberNames()) {
    text += (text.empty() ? "" : ", ") + name + ": " + Show(value[name], got);
  }
  return "{" + text + "}";
}

bool Same(const Json::Value& expected, const Json::Value& got) {
  if (expected.isNumeric() && !expected.isBool()) {
    return got.isNumeric() && !got.isBool() && Close(expected.asDouble(), got.asDouble());
  }
  return expected == got;
}

std::string Join(const std::set<std::string>& ids) { return "[" + Joined(ids, ", ") + "]"; }

std::string ShowExpected(const ExpectedReport& report) {
  std::string text;
  auto add = [&](const std::string& name, const std::string& value) {
    text += (text.empty() ? "" : ", ") + name + ": " + value;
  };
  if (report.signal) add("signal", *report.signal);
  if (report.value) add("value", Shortest(*report.value));
  for (const auto& [name, value] : report.fields) add(name, value);
  if (report.round) add("round", std::to_string(*report.round));
  return "{" + text + "}";
}

std::string ShowSent(const SentReport& report, bool discharge) {
  std::string text;
  if (discharge) {
    for (const auto& [name, value] : report.fields) {
      text += (text.empty() ? "" : ", ") + name + ": " + value;
    }
  } else {
    text = "signal: " + report.signal + ", value: " + Shortest(report.value);
  }
  text = "{" + text + ", round: " + std::to_string(report.round) + "}";
  if (discharge && report.status != 200) {
    text += " (" + report.path + ", answered " + std::to_string(report.status) + ")";
  }
  return text;
}

bool Matches(const ExpectedReport& expected, const SentReport& sent) {
  if (expected.round && *expected.round != sent.round) return false;
  if (expected.signal && *expected.signal != sent.signal) return false;
  if (expected.value && !Close(*expected.value, sent.value)) return false;
  for (const auto& wanted : expected.fields) {
    const auto field =
        std::find_if(sent.fields.begin(), sent.fields.end(),
                     [&wanted](const auto& pair) { return pair.first == wanted.first; });
    if (field == sent.fields.end() || field->second != wanted.second) return false;
  }
  return true;
}

// One block for a list of reports: the first that differs and both lists.
void CompareReports(const std::string& head, const char* what,
                    const std::vector<ExpectedReport>& expected,
                    const std::vector<SentReport>& sent, std::vector<std::string>& failures) {
  const bool discharge = std::string(what) == "discharge_reports";
  size_t index = 0;
  while (index < expected.size() && index < sent.size() && Matches(expected[index], sent[index])) {
    ++index;
  }
  if (index == expected.size() && index == sent.size()) return;
  std::ostringstream block;
  block << head << what << ": report " << index + 1
        << (index >= sent.size()       ? " expected but not sent"
            : index >= expected.size() ? " sent but not expected"
                                       : " differs")
        << "\n";
  block << "        exp: " << (index < expected.size() ? ShowExpected(expected[index]) : "(none)")
        << "\n";
  block << "        got: " << (index < sent.size() ? ShowSent(sent[index], discharge) : "(none)")
        << "\n";
  constexpr size_t kShown = 50;
  block << "        exp list (" << expected.size() << "):\n";
  for (size_t i = 0; i < expected.size() && i < kShown; ++i) {
    block << "          " << i + 1 << ". " << ShowExpected(expected[i]) << "\n";
  }
  block << "        got list (" << sent.size() << "):\n";
  for (size_t i = 0; i < sent.size() && i < kShown; ++i) {
    block << "          " << i + 1 << ". " << ShowSent(sent[i], discharge) << "\n";
  }
  if (std::max(expected.size(), sent.size()) > kShown) {
    block << "          (lists cut after " << kShown << ")\n";
  }
  failures.push_back(block.str());
}

// For each alarm that differs, the round's voltage against the alarm's
// threshold as the device holds it, both exact: "46.4999962 < 46.5".
std::string Comparisons(const std::set<std::string>& ids, const Snapshot& snapshot,
                        const std::map<std::string, float>& thresholds) {
  std::string lines;
  if (!snapshot.voltage) return lines;
  const double voltage = *snapshot.voltage;
  for (const std::string& id : ids) {
    const auto threshold = thresholds.find(id);
    if (threshold == thresholds.end()) continue;
    const double limit = threshold->second;
    const char* relation = voltage < limit ? " < " : voltage > limit ? " > " : " == ";
    lines += "        " + id + ": " + FloatText(voltage) + relation + FloatText(limit) +
             " (the round's voltage, the alarm's threshold)\n";
  }
  return lines;
}

void CompareExpectation(const std::string& head, const Expectation& expectation,
                        const Recorder& recorder, size_t index,
                        const std::map<std::string, float>& thresholds,
                        std::vector<std::string>& failures) {
  const std::optional<Snapshot>& snapshot = recorder.At(index);
  if (!snapshot) {
    std::string why =
        expectation.at.round
            ? "round " + expectation.at.text + " never ran (the test ran " +
                  std::to_string(recorder.rounds()) + " rounds)"
            : "no round ran at or before start + " + expectation.at.text +
                  (recorder.origin()
                       ? " (" + LocalTimeText(*recorder.origin() + *expectation.at.seconds) + ")"
                       : "");
    failures.push_back(head + "at " + expectation.at.text + ": " + why + "\n");
    return;
  }
  const std::string point =
      head + "round " + std::to_string(snapshot->round) + " (" + LocalTimeText(snapshot->time) +
      ")" +
      (expectation.at.seconds ? ", the last at or before start + " + expectation.at.text : "") +
      ", ";
  if (expectation.alarms) {
    const std::set<std::string> expected(expectation.alarms->begin(), expectation.alarms->end());
    if (expected != snapshot->alarms) {
      std::set<std::string> missing, extra;
      std::set_difference(expected.begin(), expected.end(), snapshot->alarms.begin(),
                          snapshot->alarms.end(), std::inserter(missing, missing.end()));
      std::set_difference(snapshot->alarms.begin(), snapshot->alarms.end(), expected.begin(),
                          expected.end(), std::inserter(extra, extra.end()));
      std::string block = point + "alarms:\n";
      if (!missing.empty()) block += "        missing: " + Join(missing) + "\n";
      if (!extra.empty()) block += "        extra: " + Join(extra) + "\n";
      block += "        exp: " + Join(expected) + "\n        got: " + Join(snapshot->alarms) + "\n";
      std::set<std::string> differing = missing;
      differing.insert(extra.begin(), extra.end());
      block += Comparisons(differing, *snapshot, thresholds);
      failures.push_back(block);
    }
  }
  if (expectation.voltage &&
      (!snapshot->voltage || !Close(*expectation.voltage, *snapshot->voltage))) {
    failures.push_back(point + "voltage:\n        exp: " + Shortest(*expectation.voltage) +
                       "\n        got: " +
                       (snapshot->voltage ? FloatText(*snapshot->voltage)
                                          : std::string("nothing (the round sent no record)")) +
                       "\n");
  }
  if (expectation.published.isObject()) {
    std::string lines;
    for (const std::string& name : expectation.published.getMemberNames()) {
      const Json::Value& expected = expectation.published[name];
      const bool present = snapshot->published.isObject() && snapshot->published.isMember(name);
      if (present && Same(expected, snapshot->published[name])) continue;
      lines += "        " + name + ": exp " + Show(expected) + ", got " +
               (present                          ? Show(snapshot->published[name], true)
                : snapshot->published.isObject() ? "nothing (no such member)"
                                                 : "nothing (nothing published yet)") +
               "\n";
    }
    if (!lines.empty()) failures.push_back(point + "published:\n" + lines);
  }
}

}  // namespace

std::string FloatText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(static_cast<float>(value)));
  return text;
}

TestResult RunSiteTest(Host& host, const std::shared_ptr<EventLog>& log, const TestFile& file,
                       const SiteTest& test) {
  const auto began = std::chrono::steady_clock::now();
  TestResult result;
  result.name = test.name;
  const std::string head = "    test: " + test.name + ", ";
  std::map<std::string, float> thresholds;  // the device's, by alarm id
  Recorder recorder(test, test.input == SiteTest::Input::kCsv
                              ? std::nullopt
                              : std::optional<std::time_t>(file.start));
  {
    // The device's diagnostic lines go to the buffer, not to the user.
    StdoutCapture capture;
    log->Observe([&recorder](const Json::Value& event) { recorder.Add(event); });
    sim::SetVirtualTime(file.start);
    std::string error;
    DevicePtr device = host.NewDevice(file.data_id, file.settings, log, error);
    if (device) {
      if (!ApplySettings(*device, *log, file.settings, Json::Value(Json::objectValue), error)) {
        error = "settings not accepted: " + error;
      }
    }
    if (!error.empty()) {
      result.failures.push_back(head + error + "\n");
    } else {
      Replayer replayer(*device, *log);
      bool ran = true;
      switch (test.input) {
        case SiteTest::Input::kSeries:
          for (size_t step = 0; step < test.series.size() && ran; ++step) {
            sim::SetVirtualTime(file.start + static_cast<std::time_t>(step) * file.interval);
            if (test.series[step]) {
              ran = replayer.RunChannelRound(test.channel, static_cast<float>(*test.series[step]));
            }
          }
          break;
        case SiteTest::Input::kTrace:
          ran = replayer.Run(test.path.string(), test.path_text);
          break;
        case SiteTest::Input::kCsv:
          ran = replayer.RunCsv(test.path.string(), test.path_text, test.channel);
          break;
      }
      if (!ran) result.failures.push_back(head + "stopped: " + replayer.Error() + "\n");
      for (const std::string& warning : replayer.Warnings()) {
        result.failures.push_back(head + warning + "\n");
      }
    }
    std::string why;
    DeviceState state;
    if (device && ReadDeviceState(*device, state, why)) thresholds = state.alarm_values;
    device.reset();
    log->Observe(nullptr);
    result.diagnostics = capture.Text();
  }
  recorder.Finish();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  // A test whose device could not be set up has no rounds to compare.
  if (!result.failures.empty() && recorder.rounds() == 0) return result;
  for (size_t i = 0; i < test.expect.size(); ++i) {
    CompareExpectation(head, test.expect[i], recorder, i, thresholds, result.failures);
  }
  if (test.discharge_reports) {
    CompareReports(head, "discharge_reports", *test.discharge_reports, recorder.discharge(),
                   result.failures);
  }
  if (test.ao_reports) {
    CompareReports(head, "ao_reports", *test.ao_reports, recorder.ao(), result.failures);
  }
  return result;
}

}  // namespace sim::cli
