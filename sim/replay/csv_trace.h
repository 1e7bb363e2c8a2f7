#pragma once

// Recorded field data: a CSV export of timestamped readings. A header line
// names the columns; "time" and "value" are needed, "channel" overrides the
// channel row by row, every other column is ignored. Blank lines and lines
// starting with "#" are skipped; fields may be quoted with double quotes.

#include <json/value.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/device_contract.h"
#include "sim/host/plugin_host.h"
#include "sim/replay/csv_time.h"

namespace sim::cli {

struct CsvRow {
  int line = 0;
  std::time_t time = 0;
  // The time's second pass where the clock repeats it in autumn, else time.
  std::time_t second_pass = 0;
  float value = 0;
  std::optional<int> channel;
};

// What a bad row does: stops the replay or site there, or is no round and is
// counted.
enum class BadRows { kFail, kSkip };

// The rows skipped under BadRows::kSkip: how many, and where the first were.
struct SkippedRows {
  static constexpr size_t kNamed = 5;
  long long count = 0;
  std::vector<std::string> first;  // "FILE:LINE", at most kNamed

  void Add(const std::string& file, int line);
  // "N rows skipped (FILE:LINE, ...)", empty when none were.
  std::string Text() const;
};

class CsvTrace {
 public:
  enum class Status {
    kRow,
    kEnd,
    // The row cannot be read (fields missing, an unreadable time, value or
    // channel, a time before the previous row's); the next row can.
    kBadRow,
    // Reading cannot go on (a line too long, the file unreadable).
    kFailed,
  };

  CsvTrace();
  ~CsvTrace();
  CsvTrace(const CsvTrace&) = delete;
  CsvTrace& operator=(const CsvTrace&) = delete;

  // Opens the file and reads its header; false with the reason and its line
  // (0 when the file cannot be read at all).
  bool Open(const std::string& path, std::string& error, int& line);
  // The next row; error and line are set unless it is kRow or kEnd.
  Status Read(CsvRow& row, std::string& error, int& line);

 private:
  struct Reader;
  std::unique_ptr<Reader> reader_;
  std::vector<std::string> header_names_;
  long long last_nanos_ = 0;
  bool any_row_ = false;
};

// Highest channel of a round process(base + channel).
inline constexpr int kMaxChannel = aikorvane::kMaxSampleChannel;

// The channel readings go to when none is given: the device's ai_index_,
// else 1.
int DefaultChannel(const DeviceState& state);

}  // namespace sim::cli
