#include "sim/replay/csv_trace.h"

// The reader's background thread only pays for files of tens of megabytes
// and would be one more thread under the sanitizers: read synchronously.
#define CSV_IO_NO_THREAD
// This release of the header uses std::numeric_limits without including it.
#include <limits>
// Its error texts keep file names cut to 255 bytes on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-truncation"
#include <libfccp/csv.h>
#pragma GCC diagnostic pop

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "config/setting_keys.h"
#include "sim/host/bounded_read.h"
#include "sim/report/text.h"

namespace sim::cli {
namespace {

// The file with its header line read ahead of the CSV reader: the lines up
// to the header are handed on as empty lines (the reader skips them and
// keeps the line numbers), then the header with the names of the known
// columns in lower case (they match without regard to case), then the rest
// of the file as it is.
class HeaderFirst : public io::ByteSourceBase {
 public:
  HeaderFirst(FILE* file, long long blank_lines, std::string header)
      : file_(file), blank_lines_(blank_lines), header_(std::move(header)) {}
  ~HeaderFirst() override { std::fclose(file_); }
  // Fills the whole buffer unless the file ends: the reader takes a short
  // read for the end.
  int read(char* buffer, int size) override {
    size_t count = 0;
    const size_t room = static_cast<size_t>(size);
    for (; blank_lines_ > 0 && count < room; --blank_lines_) buffer[count++] = '\n';
    if (offset_ < header_.size() && count < room) {
      const size_t part = std::min(header_.size() - offset_, room - count);
      std::memcpy(buffer + count, header_.data() + offset_, part);
      offset_ += part;
      count += part;
    }
    count += std::fread(buffer + count, 1, room - count, file_);
    return static_cast<int>(count);
  }

 private:
  FILE* file_;
  long long blank_lines_;
  std::string header_;
  size_t offset_ = 0;
};

// The names of a header line as the reader will see them: split at commas
// outside double quotes, blanks and quotes taken off.
std::vector<std::string> HeaderNames(const std::string& line) {
  std::vector<std::string> names(1);
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      names.emplace_back();
    } else {
      names.back() += c;
    }
  }
  for (std::string& name : names) name = std::string(Trimmed(name));
  return names;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

struct CsvTrace::Reader {
  Reader(const std::string& path, FILE* file, long long blank_lines, std::string header)
      : csv(path, std::make_unique<HeaderFirst>(file, blank_lines, std::move(header))) {}
  io::CSVReader<3, io::trim_chars<' ', '\t'>, io::double_quote_escape<',', '"'>,
                io::throw_on_overflow, io::single_and_empty_line_comment<'#'>>
      csv;
};

CsvTrace::CsvTrace() = default;
CsvTrace::~CsvTrace() = default;

namespace {

// The library's errors, as a message without the file name (the caller
// names the file) and the line they concern.
std::string Describe(const io::error::base& failure) {
  if (dynamic_cast<const io::error::too_few_columns*>(&failure)) {
    return "fewer fields than the header has columns";
  }
  if (dynamic_cast<const io::error::too_many_columns*>(&failure)) {
    return "more fields than the header has columns";
  }
  if (dynamic_cast<const io::error::escaped_string_not_closed*>(&failure)) {
    return "a quoted field is not closed";
  }
  if (dynamic_cast<const io::error::header_missing*>(&failure)) return "no header line";
  if (auto column = dynamic_cast<const io::error::duplicated_column_in_header*>(&failure)) {
    return std::string("column \"") + column->column_name + "\" twice in the header";
  }
  if (dynamic_cast<const io::error::line_length_limit_exceeded*>(&failure)) {
    return LineTooLongText();
  }
  return failure.what();
}

}  // namespace

namespace {
std::vector<std::string> QuotedAll(const std::vector<std::string>& names) {
  std::vector<std::string> quoted;
  for (const std::string& name : names) quoted.push_back(Quoted(name));
  return quoted;
}
}  // namespace

namespace {
int ChannelOrOne(int channel) { return channel >= 1 && channel <= kMaxChannel ? channel : 1; }

// strtod reads "nan(...)" and "infinity" too: of the words only "nan",
// "inf" and their signed forms (any case) are readings, as in a series.
bool ReadingWord(const char* text, double reading) {
  if (std::isfinite(reading)) return true;
  const char* word = *text == '+' || *text == '-' ? text + 1 : text;
  return strcasecmp(word, "nan") == 0 || strcasecmp(word, "inf") == 0;
}
}  // namespace

int DefaultChannel(const DeviceState& state) { return ChannelOrOne(state.channel.ai_index_); }

bool CsvTrace::Open(const std::string& path, std::string& error, int& line) {
  line = 0;
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    error = "cannot read: it is a folder, not a CSV file";
    return false;
  }
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = std::string("cannot read: ") + std::strerror(errno);
    return false;
  }
  // Read up to the header line: blank lines and comments first.
  LineReader lines(file);
  std::string text, header;
  for (LineReader::Status status; (status = lines.Next(text)) != LineReader::Status::kEnd;) {
    if (status != LineReader::Status::kLine) {
      std::fclose(file);
      line = status == LineReader::Status::kTooLong ? lines.Number() : 0;
      error = status == LineReader::Status::kTooLong ? LineTooLongText()
                                                     : std::string("cannot read: read failed");
      return false;
    }
    if (lines.Number() == 1 && text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    std::vector<std::string> names = HeaderNames(text);
    for (std::string& name : names) {
      const std::string lower = Lower(name);
      if (lower == "time" || lower == "value" || lower == "channel") name = lower;
      header += (header.empty() ? "" : ",") + Quoted(name);
    }
    header += "\n";
    header_names_ = names;
    break;
  }
  const long long blank_lines = header.empty() ? lines.Number() : lines.Number() - 1;
  try {
    reader_ = std::make_unique<Reader>(path, file, blank_lines, header);
    reader_->csv.read_header(io::ignore_extra_column | io::ignore_missing_column, "time", "value",
                             "channel");
  } catch (const io::error::can_not_open_file& failure) {
    error = std::string("cannot read: ") +
            (failure.errno_value != 0 ? std::strerror(failure.errno_value) : "unknown error");
    return false;
  } catch (const io::error::base& failure) {
    line = reader_ ? static_cast<int>(reader_->csv.get_file_line()) : 0;
    error = Describe(failure);
    return false;
  }
  line = static_cast<int>(reader_->csv.get_file_line());
  if (!reader_->csv.has_column("time") || !reader_->csv.has_column("value")) {
    error = std::string("the header names no \"") +
            (reader_->csv.has_column("time") ? "value" : "time") + "\" column (found " +
            std::to_string(header_names_.size()) +
            (header_names_.size() == 1 ? " column: " : " columns: ") +
            Joined(QuotedAll(header_names_), ", ") + ")";
    for (const auto& [separator, name] : {std::pair<char, const char*>{';', "\";\""},
                                          std::pair<char, const char*>{'\t', "a tab"}}) {
      if (header_names_.size() == 1 && header_names_[0].find(separator) != std::string::npos) {
        error += "; the header would split at " + std::string(name) +
                 ": columns must be separated by \",\"";
      }
    }
    return false;
  }
  return true;
}

CsvTrace::Status CsvTrace::Read(CsvRow& row, std::string& error, int& line) {
  error.clear();
  char* time = nullptr;
  char* value = nullptr;
  char* channel = nullptr;
  try {
    if (!reader_->csv.read_row(time, value, channel)) return Status::kEnd;
  } catch (const io::error::base& failure) {
    const auto* located = dynamic_cast<const io::error::with_file_line*>(&failure);
    line = located != nullptr && located->file_line > 0
               ? located->file_line
               : static_cast<int>(reader_->csv.get_file_line());
    error = Describe(failure);
    // The reader stops short of a line too long and would read it again.
    return dynamic_cast<const io::error::line_length_limit_exceeded*>(&failure) != nullptr
               ? Status::kFailed
               : Status::kBadRow;
  }
  line = row.line = static_cast<int>(reader_->csv.get_file_line());
  long long nanos = 0, repeated = 0;
  if (!ParseTimeText(time, row.time, nanos, repeated, error)) return Status::kBadRow;
  row.second_pass = static_cast<std::time_t>(repeated / 1000000000LL);
  if (any_row_ && nanos < last_nanos_) {
    // Back inside the hour the clock repeats: its second pass.
    if (repeated < last_nanos_) {
      error = "time " + std::string(time) + " is before the previous row's";
      return Status::kBadRow;
    }
    nanos = repeated;
    row.time = static_cast<std::time_t>(repeated / 1000000000LL);
  }
  char* end = nullptr;
  const double reading = std::strtod(value, &end);
  // nan and inf are what a broken sensor reads: the device gets them as they are.
  if (*value == '\0' || *end != '\0' || (std::isfinite(reading) && std::fabs(reading) > 3.4e38) ||
      !ReadingWord(value, reading)) {
    error = "unreadable value \"" + std::string(value) + "\"";
    return Status::kBadRow;
  }
  row.value = static_cast<float>(reading);
  row.channel.reset();
  if (channel != nullptr) {
    errno = 0;
    const long number = std::strtol(channel, &end, 10);
    if (*channel == '\0' || *end != '\0' || errno != 0 || number < 1 || number > kMaxChannel) {
      error = "channel must be 1 to " + std::to_string(kMaxChannel) + ": \"" +
              std::string(channel) + "\"";
      return Status::kBadRow;
    }
    row.channel = static_cast<int>(number);
  }
  last_nanos_ = nanos;
  any_row_ = true;
  return Status::kRow;
}

void SkippedRows::Add(const std::string& file, int line) {
  if (first.size() < kNamed) first.push_back(file + ":" + std::to_string(line));
  ++count;
}

std::string SkippedRows::Text() const {
  if (count == 0) return {};
  return std::to_string(count) + (count == 1 ? " bad row" : " bad rows") + " skipped (" +
         Joined(first, ", ") + (static_cast<size_t>(count) > first.size() ? ", ..." : "") + ")";
}

}  // namespace sim::cli
