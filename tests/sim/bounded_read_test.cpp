// Reading with a bound: lines and whole files at and just past 16 MiB,
// files that are no regular files.

#include "sim/host/bounded_read.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using sim::cli::kMaxDocumentBytes;
using sim::cli::kMaxLineBytes;
using sim::cli::LineReader;
using sim::cli::ReadBoundedFile;

// Each Next of the file as "N:length" for a line, "N:too long", "end".
std::vector<std::string> Lines(const std::string& path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
  std::vector<std::string> seen;
  LineReader reader(file.get());
  std::string line;
  for (int i = 0; i < 5; ++i) {
    const LineReader::Status status = reader.Next(line);
    const std::string number = std::to_string(reader.Number()) + ":";
    if (status == LineReader::Status::kEnd) return seen.push_back("end"), seen;
    seen.push_back(number + (status == LineReader::Status::kTooLong ? std::string("too long")
                                                                    : std::to_string(line.size())));
    if (status != LineReader::Status::kLine) return seen;
  }
  return seen;
}

TEST(BoundedRead, LinesUpToTheBoundWithTheirNewline) {
  testing_support::ScratchDir scratch;
  const std::string fits(kMaxLineBytes - 1, 'x');
  const struct {
    const char* name;
    std::string content;
    std::vector<std::string> lines;
  } cases[] = {
      {"empty", "", {"end"}},
      {"no-newline", "ab", {"1:2", "end"}},
      {"crlf", "a\r\n\nb\n", {"1:2", "2:0", "3:1", "end"}},
      {"fits", "a\n" + fits + "\nb", {"1:1", "2:" + std::to_string(fits.size()), "3:1", "end"}},
      {"fits-at-end", fits, {"1:" + std::to_string(fits.size()), "end"}},
      {"one-over", "a\n" + fits + "x\nb\n", {"1:1", "2:too long"}},
      {"one-over-at-end", fits + "x", {"1:too long"}},
  };
  for (const auto& c : cases) {
    scratch.Write(c.name, c.content);
    EXPECT_EQ(Lines(c.name), c.lines) << c.name;
  }
}

TEST(BoundedRead, WholeFilesUpToTheBound) {
  testing_support::ScratchDir scratch;
  scratch.Write("fits.json", std::string(kMaxDocumentBytes, ' '));
  scratch.Write("over.json", std::string(kMaxDocumentBytes + 1, ' '));
  scratch.Write("folder/x", "");
  const struct {
    const char* path;
    bool read;
    std::string reason;
  } cases[] = {
      {"fits.json", true, ""},
      {"over.json", false, "larger than 16 MiB (16777217 bytes)"},
      {"folder", false, "it is a folder"},
      {"missing.json", false, "No such file or directory"},
      // Not a regular file: no size to go by, read up to the bound.
      {"/dev/zero", false, "larger than 16 MiB"},
      {"/dev/null", true, ""},
  };
  for (const auto& c : cases) {
    std::string text = "old", reason;
    EXPECT_EQ(ReadBoundedFile(c.path, text, reason), c.read) << c.path;
    EXPECT_EQ(reason, c.reason) << c.path;
    if (!c.read) {
      EXPECT_EQ(text, "") << c.path;
    }
  }
  std::string text, reason;
  ASSERT_TRUE(ReadBoundedFile("fits.json", text, reason));
  EXPECT_EQ(text.size(), kMaxDocumentBytes);
}

}  // namespace
