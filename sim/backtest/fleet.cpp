#include "sim/backtest/fleet.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace sim::cli {
namespace {

std::string Located(const fs::path& file, int line, const std::string& message) {
  return file.string() + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + message;
}

bool ParseCount(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = std::stoi(text);
  return true;
}

// ".csv" in any letter case: files copied from other systems come as ".CSV".
bool IsCsvName(const fs::path& path) {
  const std::string extension = path.extension().string();
  if (extension.size() != 4) return false;
  std::string lower;
  for (char c : extension) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == ".csv";
}

// What an entry of history/ is when it is no file that can be read as
// rows ("a folder", "a link loop", ...); empty for a regular file.
std::string EntryKind(const fs::path& path) {
  std::error_code failure;
  const fs::file_status own = fs::symlink_status(path, failure);
  const fs::file_status target = fs::status(path, failure);
  if (own.type() == fs::file_type::symlink &&
      (failure || target.type() == fs::file_type::not_found)) {
    if (failure == std::errc::too_many_symbolic_link_levels) return "a link loop";
    if (!failure || failure == std::errc::no_such_file_or_directory) {
      return "a link that leads nowhere";
    }
  }
  if (failure) return failure.message();
  switch (target.type()) {
    case fs::file_type::regular:
      return {};
    case fs::file_type::directory:
      return "a folder";
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::socket:
      return "a socket";
    case fs::file_type::block:
    case fs::file_type::character:
      return "a device file";
    default:
      return "not a regular file";
  }
}

}  // namespace

bool ParseShard(const std::string& text, Shard& shard, std::string& error) {
  const size_t slash = text.find('/');
  if (slash == std::string::npos || !ParseCount(text.substr(0, slash), shard.index) ||
      !ParseCount(text.substr(slash + 1), shard.count) || shard.count < 1 || shard.index < 1 ||
      shard.index > shard.count) {
    error = "--shard takes K/N with 1 <= K <= N, not \"" + text + "\"";
    return false;
  }
  return true;
}

std::vector<SiteFolder> ShardOf(const std::vector<SiteFolder>& sites, const Shard& shard) {
  std::vector<SiteFolder> share;
  for (size_t i = static_cast<size_t>(shard.index - 1); i < sites.size();
       i += static_cast<size_t>(shard.count)) {
    share.push_back(sites[i]);
  }
  return share;
}

bool History::OpenFile(const fs::path& file, CsvTrace& trace, std::string& error) {
  int line = 0;
  if (!trace.Open(file.string(), error, line)) {
    error = Located(file, line, error);
    return false;
  }
  return true;
}

bool History::Open(const fs::path& site, std::string& error) {
  const fs::path folder = site / "history";
  std::error_code failure;
  if (!fs::is_directory(folder, failure)) {
    error = folder.string() + ": no history folder";
    return false;
  }
  std::vector<std::pair<std::time_t, fs::path>> found;
  for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
       it.increment(failure)) {
    const fs::path& path = it->path();
    const std::string kind = EntryKind(path);
    if (!IsCsvName(path)) {
      skipped_entries_.push_back("history/" + path.filename().string() + ": " +
                                 (kind.empty() ? "not a .csv file" : kind));
      continue;
    }
    // Checked before opening: a FIFO would block the read for good.
    if (!kind.empty()) {
      error = path.string() + ": cannot be read: " + kind;
      return false;
    }
    CsvTrace trace;
    CsvRow row;
    int line = 0;
    if (!OpenFile(path, trace, error)) return false;
    // Bad rows before the first good one are counted when the file is read.
    CsvTrace::Status status;
    while ((status = trace.Read(row, error, line)) == CsvTrace::Status::kBadRow &&
           bad_rows_ == BadRows::kSkip) {
    }
    if (status != CsvTrace::Status::kRow) {
      error = Located(path, line, status == CsvTrace::Status::kEnd ? "no rows" : error);
      return false;
    }
    found.emplace_back(row.time, path);
  }
  if (failure) {
    error = folder.string() + ": " + failure.message();
    return false;
  }
  std::sort(skipped_entries_.begin(), skipped_entries_.end());
  if (found.empty()) {
    error = folder.string() + ": no .csv files";
    return false;
  }
  std::sort(found.begin(), found.end());
  for (auto& entry : found) files_.push_back(std::move(entry.second));
  return true;
}

bool History::Next(CsvRow& row, std::string& error) {
  error.clear();
  while (true) {
    if (!trace_) {
      if (next_file_ == files_.size()) return false;
      file_ = files_[next_file_++];
      trace_ = std::make_unique<CsvTrace>();
      if (!OpenFile(file_, *trace_, error)) return false;
    }
    int line = 0;
    const CsvTrace::Status status = trace_->Read(row, error, line);
    if (status == CsvTrace::Status::kRow) break;
    if (status == CsvTrace::Status::kBadRow && bad_rows_ == BadRows::kSkip) {
      skipped_rows_.Add(file_.string(), line);
      continue;
    }
    if (status != CsvTrace::Status::kEnd) {
      error = Located(file_, line, error);
      return false;
    }
    error.clear();
    trace_.reset();
    last_file_ = file_;
  }
  // A file that starts inside the repeated autumn hour, after one that ended
  // in its first pass, goes on in the second.
  if (any_row_ && row.time < last_time_ && row.second_pass >= last_time_) {
    row.time = row.second_pass;
  }
  if (any_row_ && row.time < last_time_) {
    error = Located(file_, row.line,
                    "time is before the end of " + last_file_.filename().string() +
                        ": the history's files overlap");
    return false;
  }
  any_row_ = true;
  last_time_ = row.time;
  return true;
}

}  // namespace sim::cli
