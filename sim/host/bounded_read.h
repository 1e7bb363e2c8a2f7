#pragma once

// Reading the simulator's input files with a bound on what one read may
// take: a line of a CSV export or a trace, or a whole JSON or YAML file.
// A file without a newline, or a settings file of gigabytes, is refused at
// the bound instead of growing memory with the file.

#include <cstddef>
#include <cstdio>
#include <string>

namespace sim::cli {

// A line with its newline; the CSV reader's own buffer holds no more.
inline constexpr std::size_t kMaxLineBytes = std::size_t{16} << 20;
// A JSON or YAML file read as one text.
inline constexpr std::size_t kMaxDocumentBytes = std::size_t{16} << 20;
// A backtest shard's JSON document, which carries its sites' plots.
inline constexpr std::size_t kMaxShardDocumentBytes = std::size_t{1} << 30;

// "line longer than 16 MiB", for messages that name the file and line.
std::string LineTooLongText();

// The whole of a file of at most limit bytes. false with the reason
// (without the file's name, which the caller gives): it cannot be opened,
// it is a folder, it is larger than the bound, or a read failed.
bool ReadBoundedFile(const std::string& path, std::string& text, std::string& reason,
                     std::size_t limit = kMaxDocumentBytes);

// The lines of an open file, each without its "\n" (a "\r" before it is
// kept), numbered from 1. Does not own the file.
class LineReader {
 public:
  enum class Status { kLine, kEnd, kTooLong, kFailed };

  explicit LineReader(std::FILE* file) : file_(file) {}

  // kTooLong stops at the bound: the rest of that line is not read.
  Status Next(std::string& line);
  // The number of the line Next last returned (or refused).
  int Number() const { return number_; }

 private:
  std::FILE* file_;
  int number_ = 0;
};

}  // namespace sim::cli
