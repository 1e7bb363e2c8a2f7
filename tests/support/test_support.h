#pragma once

// Helpers shared by the tests: capturing the device's diagnostic lines and
// working in a scratch directory.

#include <json/value.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

// Parses JSON written in a test; a syntax error fails the test that wrote it.
Json::Value ParseJson(const std::string& text);

// Redirects std::cout into a buffer for the object's lifetime.
class CoutCapture {
 public:
  CoutCapture();
  ~CoutCapture();
  CoutCapture(const CoutCapture&) = delete;
  CoutCapture& operator=(const CoutCapture&) = delete;
  std::string Text() const { return buffer_.str(); }
  std::vector<std::string> Lines() const;

 private:
  std::ostringstream buffer_;
  std::streambuf* previous_;
};

// A fresh temporary directory that becomes the working directory for the
// object's lifetime; removed afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Writes a file relative to the directory, creating parent folders.
  void Write(const std::string& relative, const std::string& content) const;

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

}  // namespace testing_support
