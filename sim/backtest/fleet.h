#pragma once

// The sites of a backtest: which folders, which share of them this process
// runs (--shard), and each site's recorded history as one stream of rows.

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/host/site_folders.h"
#include "sim/replay/csv_trace.h"

namespace sim::cli {

namespace fs = std::filesystem;

struct Shard {
  int index = 1;  // 1 to count
  int count = 1;
};

// "K/N" with 1 <= K <= N; false with the reason.
bool ParseShard(const std::string& text, Shard& shard, std::string& error);

// This shard's fixed share of the sorted sites: every count-th, from the index-th.
std::vector<SiteFolder> ShardOf(const std::vector<SiteFolder>& sites, const Shard& shard);

// The CSV files (".csv" in any letter case) under a site's history/ folder, read in time order as
// one history. Errors carry "FILE:LINE: " where a line is known.
class History {
 public:
  explicit History(BadRows bad_rows = BadRows::kFail) : bad_rows_(bad_rows) {}

  // Finds the files and orders them by their first row's time.
  bool Open(const fs::path& site, std::string& error);
  // The next row of the history; false at the end (error empty) or at a bad
  // row, including a file whose rows go back before the previous file's end.
  // Under BadRows::kSkip a row that cannot be read is passed over and counted.
  bool Next(CsvRow& row, std::string& error);
  // The entries of history/ that hold no rows of it, as "history/NAME: why",
  // by name: whatever is left out is said, never lost without a word.
  const std::vector<std::string>& SkippedEntries() const { return skipped_entries_; }
  // The bad rows passed over under BadRows::kSkip.
  const SkippedRows& SkippedBadRows() const { return skipped_rows_; }

 private:
  bool OpenFile(const fs::path& file, CsvTrace& trace, std::string& error);

  BadRows bad_rows_;
  SkippedRows skipped_rows_;
  std::vector<fs::path> files_;
  std::vector<std::string> skipped_entries_;
  size_t next_file_ = 0;
  std::unique_ptr<CsvTrace> trace_;
  fs::path file_;
  bool any_row_ = false;
  std::time_t last_time_ = 0;
  fs::path last_file_;
};

}  // namespace sim::cli
