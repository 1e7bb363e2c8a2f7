#pragma once

// What every family of findings works from: the configured site, the
// device's state, and the one way to add a finding (by its code).

#include <initializer_list>
#include <string>
#include <vector>

#include "config/device_contract.h"
#include "sim/check/findings.h"
#include "sim/check/findings/codes.h"

namespace sim::cli::findings {

class Context {
 public:
  explicit Context(const ConfiguredSite& site);

  // What the device's operating mode reads and runs; a mode it does not know
  // reads nothing.
  const aikorvane::ModeReads& Reads() const;

  // place is a JSON pointer into the settings: the finding takes the
  // settings file and, where the pointer names a member, its line.
  void Add(CodeId code, const std::string& place, const std::string& message);
  void AddAs(CodeId code, Severity severity, const std::string& place, const std::string& message);
  // A finding at a line of a profile (line 0: the file alone).
  void AddInProfile(CodeId code, Severity severity, int line, const std::string& place,
                    const std::string& message);
  // A finding at a byte offset of the settings file.
  void AddAtOffset(CodeId code, std::size_t offset, const std::string& place,
                   const std::string& message);
  void AddAtOffsetAs(CodeId code, Severity severity, std::size_t offset, const std::string& place,
                     const std::string& message);

  // The byte offset in the settings file of a value the reader made.
  std::size_t OffsetOf(const Json::Value& value) const;
  // 1-based line of a byte offset of the settings file.
  int LineOf(std::size_t offset) const;
  // appSetting holds key with a value other than null.
  bool Given(const char* key) const;
  static const Json::Value& Member(const Json::Value& object, const char* key);

  const ConfiguredSite& site;
  const DeviceState& s;
  const Json::Value& app;          // the "appSetting" member, null when absent
  std::string profile;             // as the device named it, "" when none
  std::vector<std::string> tried;  // the profile paths the device tried
  std::vector<Finding> findings;

 private:
  void Locate(Finding& finding, std::size_t offset) const;
  std::vector<std::size_t> line_starts_;
  std::size_t skipped_ = 0;  // a byte order mark, which the reader's offsets leave out
};

std::string Number(double value);
// Text in double quotes, so that spaces at its ends show.
std::string Quoted(const std::string& text);
std::string Pointer(std::initializer_list<std::string> parts);
// Edit distance with adjacent transpositions counted as one edit; anything
// over limit reads as limit + 1.
std::size_t Distance(const std::string& a, const std::string& b, std::size_t limit = 2);
// The nearest of names within two edits of key, or "".
std::string Nearest(const std::string& key, const std::vector<std::string>& names);
// The text form the device parses; false for null (left unchanged) and for
// values without one (the device throws on those).
bool TextOf(const Json::Value& value, std::string& text);
// Whether text is one number and nothing else (white space aside).
bool WhollyNumber(const std::string& text, double& number);
// "a", "a and b", "a, b and c".
std::string List(const std::vector<std::string>& items);
// 1-based line of KEY in [SECTION] of an INI file, 0 when not found.
int IniLine(const std::string& path, const std::string& section, const std::string& key);

}  // namespace sim::cli::findings
