#pragma once

// The summary printed after a replay: rounds with their clock times, each
// alarm's raises, time raised and flapping, the discharges with their
// reports, and errors. As text for people, as one JSON document for machines.

#include <json/value.h>

#include <string>

#include "sim/report/analysis.h"

namespace sim::cli {

// Lists longer than this are cut in the text summary (the counts stay whole).
inline constexpr size_t kSummaryListed = 20;

std::string FormatSummary(const Analysis& analysis);
Json::Value SummaryJson(const Analysis& analysis);

// One discharge: its start report, the progress reports after it and the
// end report, when one came.
struct Discharge {
  DischargeReport start;
  int progress = 0;
  std::optional<DischargeReport> end;
};
// The reports grouped by discharge: a Play=1 report opens one when none is
// open, further Play=1 reports are its progress, Play=0 ends it. An end
// report without a start stands alone as a discharge with no start round.
std::vector<Discharge> GroupDischarges(const std::vector<DischargeReport>& reports);

// "1h02m05s", "45s", "0s"
std::string DurationText(long long seconds);

}  // namespace sim::cli
