#include "sim/sitetests/comparison.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>

#include "sim/report/analysis.h"
#include "sim/report/text.h"

namespace sim::cli {
namespace {

// What the device had shown after a round.
struct Snapshot {
  int round = 0;
  std::time_t time = 0;
  std::set<std::string> alarms;  // ids whose latest condition is true
  std::optional<double> voltage;
  const Json::Value* published = nullptr;
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

bool Near(double expected, double got) {
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
    return got.isNumeric() && !got.isBool() && Near(expected.asDouble(), got.asDouble());
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
  if (expected.value && !Near(*expected.value, sent.value)) return false;
  for (const auto& wanted : expected.fields) {
    const auto field =
        std::find_if(sent.fields.begin(), sent.fields.end(),
                     [&wanted](const auto& pair) { return pair.first == wanted.first; });
    if (field == sent.fields.end() || field->second != wanted.second) return false;
  }
  return true;
}

// For each alarm that differs, the round's voltage against the alarm's
// threshold as the device holds it, both exact: "46.4999962 < 46.5".
std::string Comparisons(const std::set<std::string>& ids,
                        const std::optional<double>& round_voltage,
                        const std::map<std::string, float>& thresholds) {
  std::string lines;
  if (!round_voltage) return lines;
  const double voltage = *round_voltage;
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

// The alarms block of a point, when the alarms differ.
std::optional<std::string> AlarmsBlock(const std::string& point,
                                       const std::vector<std::string>& wanted,
                                       const Snapshot& snapshot, std::set<std::string>& differing) {
  const std::set<std::string> expected(wanted.begin(), wanted.end());
  if (expected == snapshot.alarms) return std::nullopt;
  std::set<std::string> missing, extra;
  std::set_difference(expected.begin(), expected.end(), snapshot.alarms.begin(),
                      snapshot.alarms.end(), std::inserter(missing, missing.end()));
  std::set_difference(snapshot.alarms.begin(), snapshot.alarms.end(), expected.begin(),
                      expected.end(), std::inserter(extra, extra.end()));
  std::string block = point + "alarms:\n";
  if (!missing.empty()) block += "        missing: " + Join(missing) + "\n";
  if (!extra.empty()) block += "        extra: " + Join(extra) + "\n";
  block += "        exp: " + Join(expected) + "\n        got: " + Join(snapshot.alarms) + "\n";
  differing = missing;
  differing.insert(extra.begin(), extra.end());
  return block;
}

std::string PublishedLines(const Json::Value& wanted, const Json::Value& got) {
  std::string lines;
  for (const std::string& name : wanted.getMemberNames()) {
    const Json::Value& expected = wanted[name];
    const bool present = got.isObject() && got.isMember(name);
    if (present && Same(expected, got[name])) continue;
    lines += "        " + name + ": exp " + Show(expected) + ", got " +
             (present          ? Show(got[name], true)
              : got.isObject() ? "nothing (no such member)"
                               : "nothing (nothing published yet)") +
             "\n";
  }
  return lines;
}

}  // namespace

std::string FloatText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(static_cast<float>(value)));
  return text;
}

void ReportList::Add(SentReport report) {
  if (expected_ == nullptr) return;
  const size_t index = sent_++;
  if (!differs_ && (index >= expected_->size() || !Matches((*expected_)[index], report))) {
    differs_ = index;
    differing_ = report;
  }
  if (index < kShown) shown_.push_back(std::move(report));
}

std::string ReportList::Failure(const std::string& head) const {
  if (expected_ == nullptr) return {};
  const std::vector<ExpectedReport>& expected = *expected_;
  if (!differs_ && sent_ == expected.size()) return {};
  // Without a report that differs, the test sent fewer than it expects.
  const size_t index = differs_.value_or(sent_);
  std::ostringstream block;
  block << head << (discharge_ ? "discharge_reports" : "ao_reports") << ": report " << index + 1
        << (index >= sent_             ? " expected but not sent"
            : index >= expected.size() ? " sent but not expected"
                                       : " differs")
        << "\n";
  block << "        exp: " << (index < expected.size() ? ShowExpected(expected[index]) : "(none)")
        << "\n";
  block << "        got: " << (differing_ ? ShowSent(*differing_, discharge_) : "(none)") << "\n";
  block << "        exp list (" << expected.size() << "):\n";
  for (size_t i = 0; i < expected.size() && i < kShown; ++i) {
    block << "          " << i + 1 << ". " << ShowExpected(expected[i]) << "\n";
  }
  block << "        got list (" << sent_ << "):\n";
  for (size_t i = 0; i < shown_.size(); ++i) {
    block << "          " << i + 1 << ". " << ShowSent(shown_[i], discharge_) << "\n";
  }
  if (std::max(expected.size(), sent_) > kShown) {
    block << "          (lists cut after " << kShown << ")\n";
  }
  return block.str();
}

TestComparison::TestComparison(const SiteTest& test, std::optional<std::time_t> origin)
    : test_(test),
      head_("    test: " + test.name + ", "),
      origin_(origin),
      results_(test.expect.size()),
      discharge_(test.discharge_reports ? &*test.discharge_reports : nullptr, true),
      ao_(test.ao_reports ? &*test.ao_reports : nullptr, false) {
  for (size_t i = 0; i < test.expect.size(); ++i) {
    const Expectation& expectation = test.expect[i];
    const bool published = expectation.published.isObject();
    if (expectation.at.round) {
      round_points_.emplace(*expectation.at.round, i);
      if (published) published_rounds_.insert(*expectation.at.round);
    } else {
      const long long seconds = *expectation.at.seconds;
      time_points_.emplace_back(seconds, i);
      if (published) published_until_ = std::max(published_until_.value_or(seconds), seconds);
    }
  }
  std::sort(time_points_.begin(), time_points_.end());
}

bool TestComparison::WantsPublished() const {
  if (published_rounds_.count(round_) > 0) return true;
  return published_until_ && origin_ && time_ - *origin_ <= *published_until_;
}

void TestComparison::RoundBegun(const RoundBegin& begin) {
  Close(begin.time);
  round_ = begin.round;
  time_ = begin.time;
  if (!origin_) origin_ = time_;
  voltage_.reset();
}

void TestComparison::ValueReported(const std::string& signal, double value) {
  SentReport report;
  report.round = round_;
  report.signal = signal;
  report.value = value;
  ao_.Add(std::move(report));
}

void TestComparison::DischargeReported(const Json::Value& request) {
  SentReport report;
  report.round = round_;
  report.path = request["path"].asString();
  report.status = request["status"].asInt();
  report.fields = ParseForm(request["body"].asString());
  discharge_.Add(std::move(report));
}

void TestComparison::Close(std::optional<std::time_t> next) {
  if (round_ == 0) return;
  rounds_ = std::max(rounds_, round_);
  const auto [first, last] = round_points_.equal_range(round_);
  for (auto point = first; point != last; ++point) Evaluate(point->second);
  // A duration's point is the last round at or before it: this round, for
  // the points it reaches that the next round passes.
  const auto from = [this](long long seconds) {
    return std::lower_bound(time_points_.begin(), time_points_.end(),
                            std::make_pair(seconds, size_t{0}));
  };
  const auto begin = from(static_cast<long long>(time_ - *origin_));
  const auto end = next ? from(static_cast<long long>(*next - *origin_)) : time_points_.end();
  for (auto point = begin; point < end; ++point) Evaluate(point->second);
  round_ = 0;
}

void TestComparison::Evaluate(size_t index) {
  const Expectation& expectation = test_.expect[index];
  Snapshot snapshot;
  snapshot.round = round_;
  snapshot.time = time_;
  for (const auto& [id, raised] : alarms_) {
    if (raised) snapshot.alarms.insert(id);
  }
  snapshot.voltage = voltage_;
  snapshot.published = &published_;
  std::vector<Found>& found = results_[index].emplace();
  const std::string point =
      head_ + "round " + std::to_string(snapshot.round) + " (" + LocalTimeText(snapshot.time) +
      ")" +
      (expectation.at.seconds ? ", the last at or before start + " + expectation.at.text : "") +
      ", ";
  if (expectation.alarms) {
    Found alarms;
    if (auto block = AlarmsBlock(point, *expectation.alarms, snapshot, alarms.differing)) {
      alarms.text = std::move(*block);
      alarms.voltage = snapshot.voltage;
      found.push_back(std::move(alarms));
    }
  }
  if (expectation.voltage &&
      (!snapshot.voltage || !Near(*expectation.voltage, *snapshot.voltage))) {
    found.push_back({point + "voltage:\n        exp: " + Shortest(*expectation.voltage) +
                         "\n        got: " +
                         (snapshot.voltage ? FloatText(*snapshot.voltage)
                                           : std::string("nothing (the round sent no record)")) +
                         "\n",
                     {},
                     std::nullopt});
  }
  if (expectation.published.isObject()) {
    const std::string lines = PublishedLines(expectation.published, *snapshot.published);
    if (!lines.empty()) found.push_back({point + "published:\n" + lines, {}, std::nullopt});
  }
}

std::vector<std::string> TestComparison::Failures(
    const std::map<std::string, float>& thresholds) const {
  std::vector<std::string> failures;
  for (size_t i = 0; i < test_.expect.size(); ++i) {
    const Expectation& expectation = test_.expect[i];
    if (!results_[i]) {
      const std::string why =
          expectation.at.round
              ? "round " + expectation.at.text + " never ran (the test ran " +
                    std::to_string(rounds_) + " rounds)"
              : "no round ran at or before start + " + expectation.at.text +
                    (origin_ ? " (" + LocalTimeText(*origin_ + *expectation.at.seconds) + ")" : "");
      failures.push_back(head_ + "at " + expectation.at.text + ": " + why + "\n");
      continue;
    }
    for (const Found& found : *results_[i]) {
      failures.push_back(found.text + Comparisons(found.differing, found.voltage, thresholds));
    }
  }
  for (const ReportList* list : {&discharge_, &ao_}) {
    std::string block = list->Failure(head_);
    if (!block.empty()) failures.push_back(std::move(block));
  }
  return failures;
}

}  // namespace sim::cli
