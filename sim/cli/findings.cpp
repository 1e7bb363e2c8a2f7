#include "sim/cli/findings.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim::cli {
namespace {

// The keys of "appSetting" the device reads, in the order it reads them.
enum class Parse { kInteger, kReal };
struct DeviceKey {
  const char* name;
  Parse parse;
};
constexpr DeviceKey kDeviceKeys[] = {
    {"current_mode", Parse::kInteger},
    {"real_value", Parse::kInteger},
    {"ai_index", Parse::kInteger},
    {"min", Parse::kReal},
    {"max", Parse::kReal},
    {"discharge_v", Parse::kReal},
    {"discharge_v_end", Parse::kReal},
    {"discharge_v_diff", Parse::kReal},
    {"max_v", Parse::kInteger},
    {"y1", Parse::kReal},
    {"x1", Parse::kReal},
    {"y2", Parse::kReal},
    {"x2", Parse::kReal},
    {"y3", Parse::kReal},
    {"x3", Parse::kReal},
    {"y4", Parse::kReal},
    {"x4", Parse::kReal},
    {"mode", Parse::kInteger},
    {"b_mode", Parse::kInteger},
};

// Limit families of a mode 5 record: limit, recovery and level keys.
struct LimitFamily {
  const char* name;
  const char* keys[3];
  bool upper;
};
constexpr LimitFamily kFamilies[] = {
    {"upper", {"UpValue", "UpReconverValue", "UpAlarmLevel"}, true},
    {"second upper", {"Up2Value", "Up2ReconverValue", "Up2AlarmLevel"}, true},
    {"lower", {"LowValue", "LowReconverValue", "LowAlarmLevel"}, false},
    {"second lower", {"Low2Value", "Low2ReconverValue", "Low2AlarmLevel"}, false},
};

// The fixed battery alarm rows of modes 2 and 3: id, and whether the row
// alarms on a voltage above its threshold.
struct AlarmRow {
  int mode;
  const char* id;
  bool high;
};
constexpr AlarmRow kAlarmRows[] = {
    {2, "110610040010", true}, {2, "110610050010", false}, {2, "110610060010", false},
    {2, "110410040010", true}, {2, "110410050010", false}, {2, "110410060010", false},
    {3, "007001", true},       {3, "007002", false},
};

const char* const kComparisons[] = {"upper", "lower", "equal", "notequal"};

std::string Number(double value) {
  std::ostringstream text;
  text << static_cast<float>(value);
  return text.str();
}

// Text in double quotes, so that spaces at its ends show.
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

// Edit distance with adjacent transpositions counted as one edit.
std::size_t Distance(const std::string& a, const std::string& b) {
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
  return d[a.size()][b.size()];
}

// The nearest of names within two edits of key, or "".
template <typename Names>
std::string Nearest(const std::string& key, const Names& names) {
  std::string best;
  std::size_t best_distance = 3;
  for (const auto& entry : names) {
    const std::string name(entry);
    const std::size_t distance = Distance(key, name);
    if (distance < best_distance) {
      best = name;
      best_distance = distance;
    }
  }
  return best;
}

// The text form the device parses; false for null (left unchanged) and for
// values without one (the device throws on those).
bool TextOf(const Json::Value& value, std::string& text) {
  if (value.isNull() || value.isArray() || value.isObject()) return false;
  text = value.asString();
  return true;
}

// Whether text is one number and nothing else (white space aside).
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

// What the member of a device key holds after InitSetting.
double MemberOf(const DeviceState& s, const std::string& key) {
  static const char* const kPoints[] = {"x1", "x2", "x3", "x4"};
  static const char* const kValues[] = {"y1", "y2", "y3", "y4"};
  for (int i = 0; i < 4; ++i) {
    if (key == kPoints[i]) return s.x[i];
    if (key == kValues[i]) return s.y[i];
  }
  if (key == "current_mode") return s.is_current_mode ? 1 : 0;
  if (key == "real_value") return s.real_value;
  if (key == "ai_index") return s.ai_index;
  if (key == "min") return s.min;
  if (key == "max") return s.max;
  if (key == "discharge_v") return s.discharge_v;
  if (key == "discharge_v_end") return s.discharge_v_end;
  if (key == "discharge_v_diff") return s.discharge_v_diff;
  if (key == "max_v") return s.max_v;
  if (key == "mode") return s.ai_mode;
  return s.b_mode;
}

class Collector {
 public:
  explicit Collector(const ConfiguredSite& site)
      : site_(site), s_(site.state), app_(Member(site.settings, "appSetting")) {}

  std::vector<Finding> Run();

 private:
  static const Json::Value& Member(const Json::Value& object, const char* key) {
    return object.isObject() ? object[key] : Json::Value::nullSingleton();
  }
  void Add(const char* severity, const char* code, const std::string& place,
           const std::string& message) {
    findings_.push_back({severity, code, place, message});
  }
  bool Given(const char* key) const { return app_.isObject() && !app_[key].isNull(); }

  void Refusal();
  std::string UnconvertiblePlace() const;
  void AppSettingKeys(bool values);
  void Mode();
  void Discharge();
  void Calibration();
  void Range();
  void Profile();
  void EmptySections();
  void ProfileTables();
  void ThresholdRecords();
  void AlarmThresholds();

  const ConfiguredSite& site_;
  const DeviceState& s_;
  const Json::Value& app_;
  std::string profile_;
  std::vector<std::string> tried_;
  std::vector<Finding> findings_;
};

std::vector<Finding> Collector::Run() {
  const std::string kTested = "test ini/yaml:";
  for (const std::string& line : site_.diagnostics) {
    if (line.rfind(kTested, 0) == 0) tried_.push_back(line.substr(kTested.size()));
  }
  profile_ = ChosenProfile(site_.diagnostics);
  if (!site_.accepted) {
    // A refused device is half configured: only what refused it, and the keys
    // it never reads, are certain.
    Refusal();
    EmptySections();
    AppSettingKeys(false);
    return findings_;
  }
  AppSettingKeys(true);
  Mode();
  Discharge();
  Calibration();
  Range();
  Profile();
  EmptySections();
  ProfileTables();
  ThresholdRecords();
  AlarmThresholds();
  return findings_;
}

void Collector::Refusal() {
  const std::string& why = site_.refusal;
  const std::string tail =
      " The device stops reading its settings at that step: what it read before stays, "
      "nothing after it (the host's own settings included) is read. Fix it and check again.";
  if (!site_.threw) {
    Add("error", "settings-refused", "/hostSetting",
        "the host refuses its settings: " + why + "." + tail);
    return;
  }
  const std::string kNoNode = "No such node (";
  if (why.rfind(kNoNode, 0) == 0 && why.back() == ')') {
    const std::string section = why.substr(kNoNode.size(), why.size() - kNoNode.size() - 1);
    Add("error", "settings-refused", profile_ + " [" + section + "]",
        "InitSetting threw \"" + why + "\": the profile has no [" + section +
            "] section with an entry, and operating mode " + std::to_string(s_.b_mode) +
            " needs one." + tail);
    return;
  }
  if (!profile_.empty() && why.rfind(profile_, 0) == 0) {
    Add("error", "settings-refused", profile_,
        "InitSetting threw \"" + why + "\": the profile cannot be read." + tail);
    return;
  }
  Add("error", "settings-refused", UnconvertiblePlace(),
      "InitSetting threw \"" + why + "\"." + tail);
}

// Where the device met a value without a text form: the first array or
// object among the values it reads, in its reading order.
std::string Collector::UnconvertiblePlace() const {
  auto bad = [](const Json::Value& value) { return value.isArray() || value.isObject(); };
  if (app_.isObject()) {
    for (const DeviceKey& key : kDeviceKeys) {
      if (bad(app_[key.name])) return Pointer({"appSetting", key.name});
    }
  }
  const Json::Value& records = Member(site_.settings, "thresholdSetting");
  if ((s_.b_mode == 3 || s_.b_mode == 5) && records.isObject()) {
    for (const std::string& name : records.getMemberNames()) {
      const Json::Value& record = records[name];
      if (!record.isObject()) continue;
      std::vector<std::string> keys;
      if (s_.b_mode == 3) {
        keys = {"SignalName", "NMAlarmID", "ID", "SignalNumber"};
      } else {
        keys = {"ID", "SignalName"};
        for (const LimitFamily& family : kFamilies)
          keys.insert(keys.end(), family.keys, family.keys + 3);
      }
      for (const std::string& key : keys) {
        if (bad(record[key])) return Pointer({"thresholdSetting", name, key});
      }
    }
  }
  return "/";
}

// Keys the device does not read; with values, also values it reads other
// than the engineer wrote them.
void Collector::AppSettingKeys(bool values) {
  const Json::Value& settings = site_.settings;
  if (!app_.isObject()) {
    std::string what = !settings.isObject() ? "the settings are no JSON object"
                       : app_.isNull()      ? "there is no \"appSetting\""
                                            : "\"appSetting\" is no JSON object";
    std::string hint;
    if (settings.isObject()) {
      for (const std::string& name : settings.getMemberNames()) {
        if (name != "appSetting" && Distance(name, "appSetting") <= 2) {
          hint = " (\"" + name + "\" is not \"appSetting\")";
        }
      }
    }
    Add("warning", "no-app-setting", "/appSetting",
        what + hint +
            ": the device reads none of its keys and keeps its current settings (on a new "
            "device: operating mode 1, conversion mode 0, range 0 to 0, discharge report "
            "off); put the device's keys in an \"appSetting\" object");
    return;
  }
  std::vector<std::string> known;
  for (const DeviceKey& key : kDeviceKeys) known.emplace_back(key.name);
  for (const std::string& name : app_.getMemberNames()) {
    if (std::find(known.begin(), known.end(), name) != known.end()) continue;
    const std::string near = Nearest(name, known);
    std::string message = "the device does not read \"" + name + "\"";
    if (!near.empty()) {
      message += "; did you mean \"" + near + "\"?";
      if (values && !Given(near.c_str())) {
        message += " \"" + near + "\" is not given, so it holds " + Number(MemberOf(s_, near));
      }
    } else {
      message += "; remove it or move it where its reader looks";
    }
    Add("warning", "unknown-key", Pointer({"appSetting", name}), message);
  }
  for (const DeviceKey& key : kDeviceKeys) {
    std::string text;
    if (!values || !TextOf(app_[key.name], text)) continue;
    const std::string place = Pointer({"appSetting", key.name});
    double whole = 0;
    const bool wholly = WhollyNumber(text, whole);
    if (key.parse == Parse::kInteger) {
      const int read = std::atoi(text.c_str());
      if (wholly && std::isfinite(whole) && whole == read) continue;
      std::string message = Quoted(text) + " is not wholly an integer: the device reads it as " +
                            std::to_string(read);
      if (std::string(key.name) == "max_v" && read == 0) message += ", which it replaces with 5";
      Add("warning", "not-a-number", place, message + "; write a plain integer");
      continue;
    }
    float read = 0;
    const bool parsed = std::sscanf(text.c_str(), "%f", &read) == 1;
    const std::string held = Number(MemberOf(s_, key.name));
    if (!parsed) {
      Add("warning", "not-a-number", place,
          Quoted(text) + " is no number: the device keeps the previous value of \"" + key.name +
              "\" (it now holds " + held + "); write a number");
    } else if (!wholly) {
      Add("warning", "not-a-number", place,
          Quoted(text) + " is not wholly a number: the device reads the leading " + Number(read) +
              " and ignores the rest; write the number alone");
    } else if (!std::isfinite(read)) {
      Add("warning", "not-a-number", place,
          Quoted(text) + " reads as " + Number(read) + " in single precision; write a number");
    }
  }
}

void Collector::Mode() {
  if (s_.b_mode == 1 || s_.b_mode == 2 || s_.b_mode == 3 || s_.b_mode == 5) return;
  Add("warning", "unknown-b-mode", "/appSetting/b_mode",
      "operating mode " + std::to_string(s_.b_mode) +
          " is none of 1, 2, 3 and 5: each round runs only the host's generic check of the "
          "voltage under \"value\" (no battery alarms, profile rules, limit tables or "
          "discharge report); set \"b_mode\" to 1 (unicom), 2 (telecom), 3 (mobile) or 5 "
          "(limit tables)");
}

void Collector::Discharge() {
  if (s_.b_mode != 2) return;
  if (!(static_cast<double>(s_.discharge_v) > 0.01)) {
    Add("note", "discharge-off", "/appSetting/discharge_v",
        "the discharge start voltage is " + Number(s_.discharge_v) +
            " (0.01 or less): the device sends no discharge reports; set \"discharge_v\" to "
            "the start voltage (for example 47.5) to turn them on");
    return;
  }
  if (s_.discharge_v_end < s_.discharge_v) {
    Add("warning", "discharge-end-below-start", "/appSetting/discharge_v_end",
        "the discharge ends above " + Number(s_.discharge_v_end) + " but starts at " +
            Number(s_.discharge_v) + " or below: while the voltage lies above " +
            Number(s_.discharge_v_end) + " and at or below " + Number(s_.discharge_v) +
            ", the device sends a start report and an end report on alternate rounds, each "
            "a blocking POST; set \"discharge_v_end\" at or above \"discharge_v\"");
  }
  if (s_.discharge_v_diff <= 0) {
    Add("warning", "discharge-step-not-positive", "/appSetting/discharge_v_diff",
        "the discharge progress step is " + Number(s_.discharge_v_diff) +
            ": during a discharge the device sends a progress report every round, each a "
            "blocking POST; set \"discharge_v_diff\" to the voltage step wanted (for "
            "example 0.5)");
  }
}

void Collector::Calibration() {
  auto set = [](float coordinate) { return std::fabs(coordinate) > 0.001; };
  // Segments of each point: point 1 shapes segment 1, point 2 segments 1 and
  // 2, point 3 segments 2 and 3, point 4 segment 3.
  const int first[] = {0, 0, 1, 2};
  const int last[] = {0, 1, 2, 2};
  auto segment_text = [&](int i) {
    return "segment " + std::to_string(i + 1) + " (now slope " + Number(s_.slope[i]) +
           ", intercept " + Number(s_.intercept[i]) + ")";
  };
  for (int point = 0; point < 4; ++point) {
    for (const char axis : {'x', 'y'}) {
      const std::string key = std::string(1, axis) + std::to_string(point + 1);
      const float value = axis == 'x' ? s_.x[point] : s_.y[point];
      if (!Given(key.c_str()) || set(value)) continue;
      std::string segments = segment_text(first[point]);
      if (last[point] != first[point]) segments += " and " + segment_text(last[point]);
      Add("warning", "calibration-unset-point", Pointer({"appSetting", key}),
          "\"" + key + "\" is " + Number(value) +
              ", and a coordinate of magnitude 0.001 or less counts as unset: " + segments +
              (last[point] != first[point] ? " keep" : " keeps") +
              " the previous slope and intercept; use a small value such as 0.01 instead of 0");
    }
  }
  const std::string kRefused = "AIKorvane::InitSetting calibration segment ";
  std::vector<int> refused;
  for (const std::string& line : site_.diagnostics) {
    if (line.rfind(kRefused, 0) != 0) continue;
    const int segment = std::atoi(line.c_str() + kRefused.size());
    if (segment < 1 || segment > 3) continue;
    refused.push_back(segment - 1);
    Add("warning", "calibration-segment-refused",
        Pointer({"appSetting", "x" + std::to_string(segment + 1)}),
        "points " + std::to_string(segment) + " and " + std::to_string(segment + 1) +
            " both have x " + Number(s_.x[segment - 1]) + ": the device refuses " +
            segment_text(segment - 1) +
            ", which keeps the previous slope and intercept; "
            "give the two points different x");
  }
  std::vector<int> xs;
  for (int i = 0; i < 4; ++i) {
    if (set(s_.x[i])) xs.push_back(i);
  }
  bool ordered = true;
  for (std::size_t k = 1; k < xs.size(); ++k) {
    const int a = xs[k - 1];
    const int b = xs[k];
    if (s_.x[a] < s_.x[b]) continue;
    const bool covered = b == a + 1 && s_.x[a] == s_.x[b] &&
                         std::find(refused.begin(), refused.end(), a) != refused.end();
    if (!covered) ordered = false;
  }
  const bool any_given = Given("x1") || Given("x2") || Given("x3") || Given("x4");
  const bool empty_range = any_given && s_.x[3] < s_.x[0];
  if (ordered && !empty_range) return;
  std::string message = "the x values are " + Number(s_.x[0]) + ", " + Number(s_.x[1]) + ", " +
                        Number(s_.x[2]) + ", " + Number(s_.x[3]);
  if (empty_range) {
    message += ": x4 is below x1, so the curve applies to no value";
  } else {
    message +=
        ": the curve applies from x1 to x4 and takes segment 3 at or above x3, else segment "
        "2 at or above x2, else segment 1, so points out of order leave segments unused or "
        "used outside their points";
  }
  Add("warning", "calibration-not-increasing", "/appSetting/x1",
      message + "; give the points in strictly increasing x");
}

void Collector::Range() {
  if (!std::isfinite(s_.min) || !std::isfinite(s_.max) || s_.max > s_.min) return;
  const bool channel = s_.ai_mode == 1 || (s_.ai_mode == 0 && s_.max != 0);
  const bool raw = s_.real_value == 0 && s_.ai_mode <= 2;
  // Whether the host hands raw samples is the host's choice: a range left at
  // its default is only worth a word where the channel readings use it.
  if (!channel && !(raw && (Given("min") || Given("max")))) return;
  const float span = s_.max - s_.min;
  const std::string range =
      "\"max\" (" + Number(s_.max) + ") is not above \"min\" (" + Number(s_.min) + ")";
  const std::string effect = span == 0
                                 ? "converts to the same value"
                                 : "converts upside down (the value falls as the input rises)";
  if (channel) {
    Add("warning", "range-empty", "/appSetting/max",
        range + ": in conversion mode " + std::to_string(s_.ai_mode) + " every channel reading" +
            (raw ? " and every raw sample" : "") + " " + effect + "; set the measuring range");
  } else {
    Add("note", "range-empty", "/appSetting/max",
        range + ": in conversion mode " + std::to_string(s_.ai_mode) +
            " channel readings do not use the range, but every raw sample (20000 or less) " +
            effect + "; set the range if the host hands raw samples");
  }
}

void Collector::Profile() {
  if (profile_.empty()) {
    const bool needed = s_.b_mode == 1 || s_.b_mode == 3;
    std::string message = "no profile found in " + site_.workdir.string() + "; the device tried";
    for (std::size_t i = 0; i < tried_.size(); ++i) message += (i ? ", " : " ") + tried_[i];
    if (s_.b_mode == 1) {
      message +=
          ": it loads no [AI] signals, so no signal is checked or reported besides the "
          "voltage";
    } else if (s_.b_mode == 3) {
      message += ": it loads no [ALARM] rules, so only alarms 007001 and 007002 are judged";
    } else {
      message += ": operating mode " + std::to_string(s_.b_mode) +
                 " takes nothing from a profile, so nothing is lost";
    }
    if (needed) message += "; put the profile at " + (tried_.empty() ? "ini/" : tried_.back());
    Add(needed ? "warning" : "note", "profile-missing", tried_.empty() ? "./ini/" : tried_.back(),
        message);
    return;
  }
  const std::string kYaml = ".yaml";
  if (profile_.size() < kYaml.size() ||
      profile_.compare(profile_.size() - kYaml.size(), kYaml.size(), kYaml) != 0) {
    return;
  }
  std::string message =
      "the device chooses this profile, stops its search there and has no YAML reader: "
      "nothing is loaded from it";
  const std::string ini = profile_.substr(0, profile_.size() - kYaml.size()) + ".ini";
  if (::access((site_.workdir / ini).c_str(), F_OK) == 0) {
    message += ", and " + ini + " beside it is never read";
  }
  Add("warning", "profile-yaml-not-read", profile_,
      message + "; write the profile in INI form as a .ini file and remove the .yaml");
}

// Section headers of the chosen INI profile without any entry: the reader
// drops them as if they were absent.
void Collector::EmptySections() {
  const std::string kIni = ".ini";
  if (profile_.size() < kIni.size() ||
      profile_.compare(profile_.size() - kIni.size(), kIni.size(), kIni) != 0) {
    return;
  }
  std::ifstream in(site_.workdir / profile_, std::ios::binary);
  if (!in) return;
  struct Header {
    std::string name;
    int line;
    int entries;
  };
  std::vector<Header> headers;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const auto begin = line.find_first_not_of(" \t\r\n\v\f");
    if (begin == std::string::npos) continue;
    const auto end = line.find_last_not_of(" \t\r\n\v\f");
    line = line.substr(begin, end - begin + 1);
    if (line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const auto close = line.find(']');
      if (close == std::string::npos) break;  // the reader refuses the file there
      std::string name = line.substr(1, close - 1);
      const auto name_begin = name.find_first_not_of(" \t\r\n\v\f");
      name = name_begin == std::string::npos
                 ? std::string()
                 : name.substr(name_begin, name.find_last_not_of(" \t\r\n\v\f") - name_begin + 1);
      headers.push_back({name, number, 0});
    } else if (!headers.empty()) {
      ++headers.back().entries;
    }
  }
  const bool needs_ai = s_.b_mode == 1;
  const bool needs_alarm = s_.b_mode == 1 || s_.b_mode == 3;
  for (const Header& header : headers) {
    if (header.entries != 0) continue;
    const std::string place = profile_ + " [" + header.name + "]";
    const std::string opened =
        "line " + std::to_string(header.line) + " opens [" + header.name +
        "] but no entry follows, and the INI reader drops a section without entries";
    if (!site_.accepted && site_.threw && site_.refusal == "No such node (" + header.name + ")") {
      Add("error", "profile-empty-section", place,
          opened + ": operating mode " + std::to_string(s_.b_mode) + " needs [" + header.name +
              "], so the device refuses the settings with \"" + site_.refusal +
              "\"; add at least one entry under it");
      continue;
    }
    const bool read = (header.name == "AI" && needs_ai) || (header.name == "ALARM" && needs_alarm);
    Add("warning", "profile-empty-section", place,
        opened +
            (read ? ""
                  : ": operating mode " + std::to_string(s_.b_mode) + " does not read it either") +
            "; add its entries or remove the header");
  }
}

void Collector::ProfileTables() {
  if (s_.b_mode == 1) {
    for (const auto& [key, signal] : s_.ai_signals) {
      if (signal.first.size() >= 9) continue;
      Add("warning", "ai-id-too-short", profile_ + " [AI] " + key,
          "signal id " + Quoted(signal.first) + " has " + std::to_string(signal.first.size()) +
              " characters: the device rewrites the 4th and 9th characters of the id to report "
              "it, so it skips this signal every round; give the full signal id");
    }
  }
  if (s_.b_mode == 3) {
    for (const auto& [key, rule] : s_.alarm_rules) {
      const auto comma = rule.find(',');
      const std::string word = comma == std::string::npos ? rule : rule.substr(comma + 1);
      if (std::find(std::begin(kComparisons), std::end(kComparisons), word) !=
          std::end(kComparisons)) {
        continue;
      }
      std::string message = "comparison " + Quoted(word) +
                            " is none of upper, lower, equal and notequal: the device never "
                            "checks this rule";
      const std::string near = Nearest(word, kComparisons);
      const auto trimmed_begin = word.find_first_not_of(' ');
      const std::string trimmed =
          trimmed_begin == std::string::npos
              ? std::string()
              : word.substr(trimmed_begin, word.find_last_not_of(' ') - trimmed_begin + 1);
      if (trimmed != word && std::find(std::begin(kComparisons), std::end(kComparisons), trimmed) !=
                                 std::end(kComparisons)) {
        message += "; remove the spaces around " + Quoted(trimmed);
      } else if (!near.empty()) {
        message += "; did you mean " + Quoted(near) + "?";
      } else {
        message += "; write alarm id, a comma and one of the four words";
      }
      Add("warning", "alarm-rule-unknown-comparison", profile_ + " [ALARM] " + key, message);
    }
  }
}

void Collector::ThresholdRecords() {
  const Json::Value& records = Member(site_.settings, "thresholdSetting");
  if (s_.b_mode != 3 && s_.b_mode != 5) {
    if (!records.isNull()) {
      Add("note", "threshold-setting-ignored", "/thresholdSetting",
          "operating mode " + std::to_string(s_.b_mode) +
              " does not read \"thresholdSetting\" (modes 3 and 5 do): its records have no "
              "effect; remove them or set the operating mode they were written for");
    }
    return;
  }
  if (!records.isObject()) return;
  std::map<std::string, std::string> sources[4];  // signal name -> record of each family
  for (const std::string& name : records.getMemberNames()) {
    const Json::Value& record = records[name];
    if (!record.isObject()) {
      Add("warning", s_.b_mode == 3 ? "alarm-record-incomplete" : "limit-record-skipped",
          Pointer({"thresholdSetting", name}),
          "the record is no JSON object: the device passes it over; make it an object");
      continue;
    }
    if (s_.b_mode == 3) {
      std::vector<std::string> missing;
      for (const char* part : {"NMAlarmID", "ID", "SignalNumber"}) {
        if (record[part].isNull()) missing.emplace_back(part);
      }
      if (missing.empty()) continue;
      std::string list;
      for (std::size_t i = 0; i < missing.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == missing.size() ? " and " : ", ") + missing[i];
      }
      const auto prefix = s_.alarm_report_prefix.find(name);
      Add("warning", "alarm-record-incomplete", Pointer({"thresholdSetting", name}),
          "the record has no " + list + ": " + (missing.size() > 1 ? "their places" : "its place") +
              " in the alarm description stay empty (the device stores the prefix " +
              Quoted(prefix == s_.alarm_report_prefix.end() ? std::string() : prefix->second) +
              "); add " + (missing.size() > 1 ? "them" : "it"));
      continue;
    }
    std::string id, signal;
    const bool has_id = TextOf(record["ID"], id) && !id.empty();
    const bool has_name = TextOf(record["SignalName"], signal) && !signal.empty();
    if (!has_id || !has_name) {
      Add("warning", "limit-record-skipped", Pointer({"thresholdSetting", name}),
          std::string("the record has no ") + (!has_id ? "\"ID\"" : "\"SignalName\"") +
              (!has_id && !has_name ? " and no \"SignalName\"" : "") +
              " (absent, null or empty): the device passes it over and loads none of its "
              "limits; give both");
      continue;
    }
    for (int f = 0; f < 4; ++f) {
      const LimitFamily& family = kFamilies[f];
      int present = 0;
      std::vector<std::string> lacking;
      for (const char* key : family.keys) {
        std::string text;
        if (TextOf(record[key], text) && !text.empty()) {
          ++present;
        } else {
          lacking.emplace_back(key);
        }
      }
      if (present == 3) {
        sources[f][signal] = name;
      } else if (present > 0) {
        std::string list;
        for (std::size_t i = 0; i < lacking.size(); ++i) {
          list += (i == 0 ? "" : " and ") + std::string("\"") + lacking[i] + "\"";
        }
        Add("warning", "limit-family-incomplete", Pointer({"thresholdSetting", name}),
            "the " + std::string(family.name) + " limit lacks " + list +
                " (absent, null or empty): the device does not load that limit from this "
                "record; give all three of " +
                family.keys[0] + ", " + family.keys[1] + " and " + family.keys[2]);
      }
    }
  }
  if (s_.b_mode != 5) return;
  for (int f = 0; f < 4; ++f) {
    const LimitFamily& family = kFamilies[f];
    for (const auto& [signal, entry] : s_.limits[f]) {
      const float limit = std::get<1>(entry);
      const float recovery = std::get<2>(entry);
      if (family.upper ? !(recovery > limit) : !(recovery < limit)) continue;
      const auto source = sources[f].find(signal);
      const std::string place = source == sources[f].end()
                                    ? "/thresholdSetting"
                                    : Pointer({"thresholdSetting", source->second, family.keys[1]});
      const std::string low = Number(family.upper ? limit : recovery);
      const std::string high = Number(family.upper ? recovery : limit);
      Add("warning", "limit-recovery-wrong-side", place,
          "the " + std::string(family.name) + " limit " + Number(limit) + " of " + Quoted(signal) +
              " (alarm " + std::get<0>(entry) + ") recovers at " + Number(recovery) + ", " +
              (family.upper ? "above" : "below") + " the limit: while the value lies from " + low +
              " to " + high +
              " the alarm is raised and cleared on alternate rounds; set the recovery value " +
              (family.upper ? "below" : "above") + " the limit");
    }
  }
}

void Collector::AlarmThresholds() {
  for (const AlarmRow& row : kAlarmRows) {
    if (row.mode != s_.b_mode) continue;
    const auto level = s_.alarm_levels.find(row.id);
    if (level == s_.alarm_levels.end() || level->second == 0) continue;
    const auto value = s_.alarm_values.find(row.id);
    if (value != s_.alarm_values.end() && value->second != 0) continue;
    Add("warning", "alarm-threshold-zero", Pointer({"hostSetting", "alarms", row.id, "value"}),
        std::string("alarm ") + row.id + " has level " + std::to_string(level->second) +
            " and threshold 0 in the host's settings: " +
            (row.high ? "the device raises it for every positive voltage"
                      : "the device raises it only for a voltage below 0, so in practice never") +
            "; give the host the alarm's threshold");
  }
}

}  // namespace

std::string ChosenProfile(const std::vector<std::string>& diagnostics) {
  const std::string kChosen = "parse ini/yaml filename:";
  for (const std::string& line : diagnostics) {
    if (line.rfind(kChosen, 0) == 0) return line.substr(kChosen.size());
  }
  return {};
}

std::vector<Finding> FindingsOf(const ConfiguredSite& site) { return Collector(site).Run(); }

Finding SettingsFileFinding(const std::string& path, const std::string& reader_error, bool opened) {
  if (!opened) {
    return {"error", "settings-unreadable", "/",
            "cannot read " + path + ": " + reader_error +
                "; give a settings file, or a folder "
                "holding settings.json"};
  }
  // The JSON reader's first error: "* Line L, Column C\n  Syntax error: ...".
  int line = 0;
  int column = 0;
  std::string what = reader_error;
  if (std::sscanf(reader_error.c_str(), "* Line %d, Column %d", &line, &column) == 2) {
    const auto newline = reader_error.find('\n');
    what = newline == std::string::npos ? std::string() : reader_error.substr(newline + 1);
    const auto next = what.find("\n*");
    if (next != std::string::npos) what.resize(next);
  }
  const auto begin = what.find_first_not_of(" \n");
  what = begin == std::string::npos ? std::string() : what.substr(begin);
  while (!what.empty() && (what.back() == '\n' || what.back() == ' ')) what.pop_back();
  for (char& c : what) {
    if (c == '\n') c = ' ';
  }
  return {"error", "json-syntax",
          "line " + std::to_string(line) + ", column " + std::to_string(column),
          what + ": the host cannot read these settings, so the device gets none; fix the JSON"};
}

}  // namespace sim::cli
