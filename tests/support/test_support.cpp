#include "support/test_support.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <stdlib.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>

namespace testing_support {

Json::Value ParseJson(const std::string& text) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors)) {
    ADD_FAILURE() << "bad test JSON: " << errors << "\n" << text;
  }
  return value;
}

CoutCapture::CoutCapture() : previous_(std::cout.rdbuf(buffer_.rdbuf())) {}

CoutCapture::~CoutCapture() { std::cout.rdbuf(previous_); }

std::vector<std::string> CoutCapture::Lines() const {
  std::vector<std::string> lines;
  std::istringstream in(buffer_.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

ScratchDir::ScratchDir() : previous_(std::filesystem::current_path()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "aikorvane-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  std::filesystem::current_path(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void ScratchDir::Write(const std::string& relative, const std::string& content) const {
  const std::filesystem::path file = path_ / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << content;
}

}  // namespace testing_support
