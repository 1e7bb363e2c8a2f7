#pragma once

// What a replay showed, gathered as it runs: the summary and the plot are
// both drawn from it. Its memory stays bounded however long the replay: the
// voltage is kept as an envelope of at most Envelope::kMaxColumns columns.

#include <ctime>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/host/host_events.h"
#include "sim/host/run_listener.h"

namespace sim::cli {

// A round and the clock's time when it ran.
struct RoundAt {
  int round = 0;
  std::time_t time = 0;
};

struct AlarmChange {
  RoundAt at;
  std::string id;
  std::string name;
  bool raised = false;
};

// One alarm over the whole replay.
struct AlarmStats {
  std::string name;
  int raises = 0;
  std::optional<RoundAt> first_raise, last_clear;
  long long seconds_raised = 0;         // clock time between each raise and its clear
  int rounds_raised = 0;                // rounds whose condition held
  int flapping = 0;                     // raises within kFlapSeconds of the clear before
  std::optional<RoundAt> raised_since;  // still raised at the end
};

inline constexpr long long kFlapSeconds = 60;

struct DischargeReport {
  RoundAt at;
  std::string play;                     // the "Play=" value as sent
  std::string voltage;                  // the "His_DCV=" value as sent
  std::optional<double> round_voltage;  // the round's recorded voltage
  std::string path;
  int status = 0;
};

// The lowest and highest voltage of consecutive rounds.
struct EnvelopeColumn {
  RoundAt first, last;
  double low = 0, high = 0;
  bool any = false;  // false while every voltage of the column is not a number
};

// The voltage of every round in at most kMaxColumns columns: one round per
// column until there are more, then columns of two, four, ... rounds.
class Envelope {
 public:
  static constexpr size_t kMaxColumns = 2000;
  void Add(const RoundAt& at, double voltage);
  const std::vector<EnvelopeColumn>& Columns() const { return columns_; }
  long long RoundsPerColumn() const { return per_column_; }

 private:
  std::vector<EnvelopeColumn> columns_;
  long long per_column_ = 1;
  long long points_ = 0;
};

// The voltage of each round of an hour either side of a moment that is only
// known as the run reaches it (where two sides first differ): the hour before
// is kept rolling until then. Bounded by rounds as well as by time, so that
// rows closer than a second apart cannot grow it past kMaxRounds.
class ZoomWindow {
 public:
  static constexpr std::time_t kSpan = 3600;
  static constexpr size_t kMaxRounds = 7200;
  struct Point {
    RoundAt at;
    double voltage = 0;
  };
  void Add(const RoundAt& at, double voltage);
  // The moment to zoom on; only the first call counts.
  void Centre(std::time_t time);
  const std::optional<std::time_t>& CentreTime() const { return centre_; }
  const std::deque<Point>& Points() const { return points_; }

 private:
  std::optional<std::time_t> centre_;
  std::deque<Point> points_;
  bool closed_ = false;  // the hour after the centre has been kept
};

struct Analysis {
  int rounds = 0;
  int refused_caches = 0;
  // Every round ran on the virtual clock, never earlier than the one before.
  bool on_clock = false;
  std::optional<RoundAt> first_round, last_round;
  std::optional<double> first_voltage, last_voltage;  // of the records sent
  Envelope voltage;
  ZoomWindow zoom;
  std::vector<AlarmChange> alarm_changes;  // the first kMaxKeptChanges
  long long changes_not_kept = 0;
  std::map<std::string, AlarmStats> alarms;   // by id, every alarm checked
  std::map<std::string, int> change_reports;  // signal -> reports
  std::vector<DischargeReport> discharge_reports;
  std::vector<std::string> errors;
};

inline constexpr size_t kMaxKeptChanges = 100000;

// Follows a run's rounds as they go, keeping only what the summary and the
// plot need.
class Analyser : public RunListener {
 public:
  void BeginRound(int round, std::time_t time, bool on_clock);
  void RoundBegun(const RoundBegin& begin) override {
    BeginRound(begin.round, begin.time, begin.on_clock);
  }
  void RoundEnded() override { round_.round = 0; }
  void RecordSent(const AIKorvane_Data_t& record) override;
  void AlarmChecked(const AlarmCall& call) override;
  void ValueReported(const std::string& signal, double value) override;
  void DischargeReported(const Json::Value& request) override;
  void CacheLoaded(bool accepted) override;
  void Configured(const SettingsOutcome& outcome, const Json::Value& extra) override;
  void Failed(const RunError& error) override;
  Analysis Result() const;
  void CentreZoom(std::time_t time) { analysis_.zoom.Centre(time); }

 private:
  Analysis analysis_;
  RoundAt round_;
  std::optional<double> round_voltage_;
  std::map<std::string, bool> raised_;  // alarm id -> condition last passed
  bool any_round_ = false;
};

// "2026-01-05 00:00:00" in the local time zone.
std::string LocalTimeText(std::time_t time);

}  // namespace sim::cli
