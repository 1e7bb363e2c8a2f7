#pragma once

// A site test's expectations compared while its rounds run: each point as
// soon as the round it names is over, each list of reports report by
// report. What is kept is what a failure prints, so that the memory stays
// the same however many rounds the test has.

#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/host/host_events.h"
#include "sim/host/run_listener.h"
#include "sim/sitetests/spec_file.h"

namespace sim::cli {

// The float's exact text: nine significant digits, which read back as the
// same float ("46.4999962"; whole and short values stay short: "46.5").
std::string FloatText(double value);

struct SentReport {
  int round = 0;
  FormFields fields;   // discharge: the form body
  std::string signal;  // change-based
  double value = 0;
  std::string path;
  int status = 200;
};

// One list of reports against what the test expects: the first that
// differs and the lists' first kShown reports.
class ReportList {
 public:
  static constexpr size_t kShown = 50;
  // expected null: the list is not checked and nothing is kept.
  ReportList(const std::vector<ExpectedReport>* expected, bool discharge)
      : expected_(expected), discharge_(discharge) {}
  void Add(SentReport report);
  // The block that says how the lists differ; empty when they agree.
  std::string Failure(const std::string& head) const;

 private:
  const std::vector<ExpectedReport>* expected_;
  bool discharge_;
  size_t sent_ = 0;
  std::optional<size_t> differs_;        // the first that differs, when one was sent
  std::optional<SentReport> differing_;  // that one
  std::vector<SentReport> shown_;        // the first kShown sent
};

class TestComparison : public RunListener {
 public:
  // origin: the time durations count from; none: the first round's.
  TestComparison(const SiteTest& test, std::optional<std::time_t> origin);

  bool WantsPublished() const override;
  void RoundBegun(const RoundBegin& begin) override;
  void RecordSent(const AIKorvane_Data_t& record) override { voltage_ = record.voltage; }
  void AlarmChecked(const AlarmCall& call) override { alarms_[call.id] = call.condition; }
  void ValueReported(const std::string& signal, double value) override;
  void DischargeReported(const Json::Value& request) override;
  void Published(const Json::Value& values) override { published_ = values; }

  // After the last round.
  void Finish() { Close(std::nullopt); }
  int Rounds() const { return rounds_; }
  // One block per failed expectation, in the test's order, then the report
  // lists'; thresholds are the device's, by alarm id, at the end of the test.
  std::vector<std::string> Failures(const std::map<std::string, float>& thresholds) const;

 private:
  // A failure found at a point; the alarms' comparisons with the device's
  // thresholds are added once those are known.
  struct Found {
    std::string text;
    std::set<std::string> differing;
    std::optional<double> voltage;
  };
  // Compares the points whose round ends now: next is the time of the
  // round that follows (none: the test is over).
  void Close(std::optional<std::time_t> next);
  void Evaluate(size_t expectation);

  const SiteTest& test_;
  const std::string head_;
  std::optional<std::time_t> origin_;
  std::multimap<int, size_t> round_points_;                // round -> expectation
  std::vector<std::pair<long long, size_t>> time_points_;  // seconds -> expectation, sorted
  std::set<int> published_rounds_;                         // rounds whose values are compared
  std::optional<long long> published_until_;  // seconds up to which values may be compared
  std::vector<std::optional<std::vector<Found>>> results_;  // by expectation; none: not reached
  int round_ = 0, rounds_ = 0;
  std::time_t time_ = 0;
  std::optional<double> voltage_;
  std::map<std::string, bool> alarms_;  // id -> latest condition
  Json::Value published_;
  ReportList discharge_, ao_;
};

}  // namespace sim::cli
