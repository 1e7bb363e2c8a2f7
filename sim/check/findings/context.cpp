#include "sim/check/findings/context.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "config/setting_keys.h"
#include "sim/host/bounded_read.h"

namespace sim::cli::findings {

Context::Context(const ConfiguredSite& configured)
    : site(configured),
      s(configured.state),
      app(Member(configured.settings, aikorvane::config::kAppSetting)) {
  line_starts_.push_back(0);
  const std::string& text = site.settings_text;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) skipped_ = 3;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') line_starts_.push_back(i + 1);
  }
}

const Json::Value& Context::Member(const Json::Value& object, const char* key) {
  return object.isObject() ? object[key] : Json::Value::nullSingleton();
}

bool Context::Given(const char* key) const { return app.isObject() && !app[key].isNull(); }

std::size_t Context::OffsetOf(const Json::Value& value) const {
  return static_cast<std::size_t>(value.getOffsetStart()) + skipped_;
}

int Context::LineOf(std::size_t offset) const {
  return static_cast<int>(std::upper_bound(line_starts_.begin(), line_starts_.end(), offset) -
                          line_starts_.begin());
}

void Context::Locate(Finding& finding, std::size_t offset) const {
  finding.file = site.settings_file;
  if (offset > site.settings_text.size()) return;
  const auto after = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
  finding.line = static_cast<int>(after - line_starts_.begin());
  finding.column = static_cast<int>(offset - *(after - 1)) + 1;
}

void Context::Add(CodeId code, const std::string& place, const std::string& message) {
  AddAs(code, CodeOf(code).severity, place, message);
}

void Context::AddAs(CodeId code, Severity severity, const std::string& place,
                    const std::string& message) {
  Finding finding{&CodeOf(code), severity, place, message, site.settings_file, 0, 0};
  // Walk the pointer down the settings; only a member that is there has a line.
  const Json::Value* value = &site.settings;
  std::string part;
  bool found = !place.empty() && place[0] == '/';
  for (std::size_t i = 1; found && i <= place.size(); ++i) {
    if (i < place.size() && place[i] != '/') {
      if (place[i] == '~' && i + 1 < place.size()) {
        part += place[++i] == '1' ? '/' : '~';
      } else {
        part += place[i];
      }
      continue;
    }
    if (!value->isObject() || !value->isMember(part)) {
      found = false;
      break;
    }
    value = &(*value)[part];
    part.clear();
  }
  if (found && value != &site.settings) Locate(finding, OffsetOf(*value));
  findings.push_back(std::move(finding));
}

void Context::AddInProfile(CodeId code, Severity severity, int line, const std::string& place,
                           const std::string& message) {
  Finding finding{&CodeOf(code), severity, place, message, {}, 0, 0};
  std::string path = profile.rfind("./", 0) == 0 ? profile.substr(2) : profile;
  finding.file = site.shown_workdir.empty() ? path : site.shown_workdir + "/" + path;
  if (line > 0) {
    finding.line = line;
    finding.column = 1;
  }
  findings.push_back(std::move(finding));
}

void Context::AddAtOffset(CodeId code, std::size_t offset, const std::string& place,
                          const std::string& message) {
  AddAtOffsetAs(code, CodeOf(code).severity, offset, place, message);
}

void Context::AddAtOffsetAs(CodeId code, Severity severity, std::size_t offset,
                            const std::string& place, const std::string& message) {
  Finding finding{&CodeOf(code), severity, place, message, {}, 0, 0};
  Locate(finding, offset);
  findings.push_back(std::move(finding));
}

std::string Number(double value) {
  std::ostringstream text;
  text << static_cast<float>(value);
  return text.str();
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Pointer(std::initializer_list<std::string> parts) {
  std::string pointer;
  for (const std::string& part : parts) {
    pointer += '/';
    for (char c : part) {
      if (c == '~') {
        pointer += "~0";
      } else if (c == '/') {
        pointer += "~1";
      } else {
        pointer += c;
      }
    }
  }
  return pointer;
}

std::size_t Distance(const std::string& a, const std::string& b, std::size_t limit) {
  // Lengths further apart than the limit need more edits than it: no table.
  if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return limit + 1;
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return std::min(d[a.size()][b.size()], limit + 1);
}

std::string Nearest(const std::string& key, const std::vector<std::string>& names) {
  std::string best;
  std::size_t best_distance = 3;
  for (const std::string& name : names) {
    const std::size_t distance = Distance(key, name);
    if (distance < best_distance) {
      best = name;
      best_distance = distance;
    }
  }
  return best;
}

bool TextOf(const Json::Value& value, std::string& text) {
  if (value.isNull() || value.isArray() || value.isObject()) return false;
  text = value.asString();
  return true;
}

bool WhollyNumber(const std::string& text, double& number) {
  const char* start = text.c_str();
  char* end = nullptr;
  number = std::strtod(start, &end);
  if (end == start) return false;
  while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r' || *end == '\v' ||
         *end == '\f') {
    ++end;
  }
  return *end == '\0';
}

std::string List(const std::vector<std::string>& items) {
  std::string list;
  for (std::size_t i = 0; i < items.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  }
  return list;
}

namespace {
std::string Trimmed(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r\n\v\f");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n\v\f") - begin + 1);
}
}  // namespace

int IniLine(const std::string& path, const std::string& section, const std::string& key) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"),
                                                           &std::fclose);
  if (!in) return 0;
  std::string current;
  LineReader lines(in.get());
  for (std::string line; lines.Next(line) == LineReader::Status::kLine;) {
    const int number = lines.Number();
    line = Trimmed(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const auto close = line.find(']');
      current = close == std::string::npos ? std::string() : Trimmed(line.substr(1, close - 1));
      if (key.empty() && current == section) return number;
      continue;
    }
    const auto equals = line.find('=');
    if (current == section && equals != std::string::npos &&
        Trimmed(line.substr(0, equals)) == key) {
      return number;
    }
  }
  return 0;
}

const aikorvane::ModeReads& Context::Reads() const {
  static constexpr aikorvane::ModeReads kNothing{};
  const aikorvane::ModeReads* reads = aikorvane::ModeOf(s.b_mode);
  return reads != nullptr ? *reads : kNothing;
}

}  // namespace sim::cli::findings
