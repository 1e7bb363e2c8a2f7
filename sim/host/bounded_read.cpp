#include "sim/host/bounded_read.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace sim::cli {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string Mebibytes(std::size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

}  // namespace

std::string LineTooLongText() { return "line longer than " + Mebibytes(kMaxLineBytes); }

bool ReadBoundedFile(const std::string& path, std::string& text, std::string& reason,
                     std::size_t limit) {
  text.clear();
  errno = 0;
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    reason = errno != 0 ? std::strerror(errno) : "cannot open";
    return false;
  }
  const std::string too_large = "larger than " + Mebibytes(limit);
  struct stat status {};
  if (fstat(fileno(file.get()), &status) == 0) {
    if (S_ISDIR(status.st_mode)) {
      reason = "it is a folder";
      return false;
    }
    // A regular file tells its size; a pipe or a device is read up to the bound.
    if (S_ISREG(status.st_mode) &&
        static_cast<unsigned long long>(status.st_size) > static_cast<unsigned long long>(limit)) {
      reason = too_large + " (" + std::to_string(status.st_size) + " bytes)";
      return false;
    }
  }
  char buffer[1 << 16];
  while (true) {
    const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get());
    if (text.size() + count > limit) {
      text.clear();
      reason = too_large;
      return false;
    }
    text.append(buffer, count);
    if (count < sizeof buffer) break;
  }
  if (std::ferror(file.get())) {
    text.clear();
    reason = std::string("read failed: ") + std::strerror(errno);
    return false;
  }
  return true;
}

LineReader::Status LineReader::Next(std::string& line) {
  line.clear();
  int c = EOF;
  bool any = false;
  while ((c = getc_unlocked(file_)) != EOF) {
    any = true;
    if (c == '\n') break;
    // The line with its newline must fit, as in the CSV reader.
    if (line.size() + 1 >= kMaxLineBytes) {
      ++number_;
      line.clear();
      return Status::kTooLong;
    }
    line += static_cast<char>(c);
  }
  if (c == EOF && std::ferror(file_)) return Status::kFailed;
  if (!any) return Status::kEnd;
  ++number_;
  return Status::kLine;
}

}  // namespace sim::cli
