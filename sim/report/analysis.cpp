#include "sim/report/analysis.h"

#include <algorithm>
#include <cmath>

#include "config/device_contract.h"

namespace sim::cli {

void Envelope::Add(const RoundAt& at, double voltage) {
  const size_t index = static_cast<size_t>(points_++ / per_column_);
  if (index == columns_.size()) {
    if (columns_.size() == kMaxColumns) {
      // Full: pairs of columns become one, and this round opens the next.
      std::vector<EnvelopeColumn> merged;
      merged.reserve(kMaxColumns);
      for (size_t i = 0; i + 1 < columns_.size(); i += 2) {
        EnvelopeColumn pair = columns_[i];
        const EnvelopeColumn& second = columns_[i + 1];
        pair.last = second.last;
        if (second.any) {
          pair.low = pair.any ? std::min(pair.low, second.low) : second.low;
          pair.high = pair.any ? std::max(pair.high, second.high) : second.high;
          pair.any = true;
        }
        merged.push_back(pair);
      }
      columns_ = std::move(merged);
      per_column_ *= 2;
    }
    columns_.push_back(EnvelopeColumn{at, at, 0, 0, false});
  }
  EnvelopeColumn& column = columns_.back();
  column.last = at;
  if (std::isnan(voltage)) return;
  column.low = column.any ? std::min(column.low, voltage) : voltage;
  column.high = column.any ? std::max(column.high, voltage) : voltage;
  column.any = true;
}

void ZoomWindow::Add(const RoundAt& at, double voltage) {
  if (closed_) return;
  if (centre_ && at.time > *centre_ + kSpan) {
    closed_ = true;
    return;
  }
  // The hour before: later than an hour back, so that 1-second rows make
  // kSpan rounds either side and no more.
  const std::time_t from = (centre_ ? *centre_ : at.time) - kSpan;
  while (!points_.empty() && points_.front().at.time <= from) points_.pop_front();
  if (points_.size() == kMaxRounds) {
    // Full: before the centre the oldest round gives way; after it, the
    // window ends here (the centre left it half for the rounds after).
    if (centre_) {
      closed_ = true;
      return;
    }
    points_.pop_front();
  }
  points_.push_back({at, voltage});
}

void ZoomWindow::Centre(std::time_t time) {
  if (centre_) return;
  centre_ = time;
  while (!points_.empty() && points_.front().at.time <= time - kSpan) points_.pop_front();
  // Rows closer than a second apart: the difference stays in the middle.
  while (points_.size() > kMaxRounds / 2) points_.pop_front();
}

void Analyser::BeginRound(int round, std::time_t time, bool on_clock) {
  const bool in_order = !analysis_.last_round || time >= analysis_.last_round->time;
  analysis_.on_clock = (any_round_ ? analysis_.on_clock : true) && on_clock && in_order;
  any_round_ = true;
  round_ = RoundAt{round, time};
  round_voltage_.reset();
  analysis_.rounds = std::max(analysis_.rounds, round);
  if (!analysis_.first_round) analysis_.first_round = round_;
  analysis_.last_round = round_;
}

void Analyser::RecordSent(const AIKorvane_Data_t& record) {
  if (round_.round <= 0) return;
  const double voltage = record.voltage;
  if (!analysis_.first_voltage) analysis_.first_voltage = voltage;
  analysis_.last_voltage = voltage;
  round_voltage_ = voltage;
  analysis_.voltage.Add(round_, voltage);
  analysis_.zoom.Add(round_, voltage);
}

void Analyser::AlarmChecked(const AlarmCall& call) {
  AlarmStats& stats = analysis_.alarms[call.id];
  stats.name = call.name;
  if (call.condition) ++stats.rounds_raised;
  bool& state = raised_[call.id];
  if (call.condition == state) return;
  state = call.condition;
  if (analysis_.alarm_changes.size() < kMaxKeptChanges) {
    analysis_.alarm_changes.push_back({round_, call.id, call.name, call.condition});
  } else {
    ++analysis_.changes_not_kept;
  }
  if (call.condition) {
    ++stats.raises;
    if (!stats.first_raise) stats.first_raise = round_;
    if (stats.last_clear && round_.time - stats.last_clear->time <= kFlapSeconds) ++stats.flapping;
    stats.raised_since = round_;
  } else {
    stats.last_clear = round_;
    if (stats.raised_since) stats.seconds_raised += round_.time - stats.raised_since->time;
    stats.raised_since.reset();
  }
}

void Analyser::ValueReported(const std::string& signal, double) {
  ++analysis_.change_reports[signal];
}

void Analyser::DischargeReported(const Json::Value& request) {
  const FormFields fields = ParseForm(request["body"].asString());
  analysis_.discharge_reports.push_back({round_, FieldOf(fields, aikorvane::kDischargeStateField),
                                         FieldOf(fields, aikorvane::kDischargeVoltageField),
                                         round_voltage_, request["path"].asString(),
                                         request["status"].asInt()});
}

void Analyser::CacheLoaded(bool accepted) {
  if (!accepted) ++analysis_.refused_caches;
}

void Analyser::Configured(const SettingsOutcome& outcome, const Json::Value&) {
  if (outcome.threw) analysis_.errors.push_back("InitSetting: " + outcome.error);
}

void Analyser::Failed(const RunError& error) {
  const std::string where =
      error.file.empty() ? error.where : error.file + ":" + std::to_string(error.line);
  analysis_.errors.push_back(where + ": " + error.message);
}

Analysis Analyser::Result() const {
  Analysis analysis = analysis_;
  // An alarm still raised counts its time up to the last round.
  for (auto& [id, stats] : analysis.alarms) {
    if (stats.raised_since && analysis.last_round) {
      stats.seconds_raised += analysis.last_round->time - stats.raised_since->time;
    }
  }
  return analysis;
}

std::string LocalTimeText(std::time_t time) {
  std::tm fields{};
  localtime_r(&time, &fields);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
  return text;
}

}  // namespace sim::cli
