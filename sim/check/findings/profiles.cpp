// The threshold profile: whether the device found one it reads, its
// sections, and its [AI] signals.

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "config/setting_keys.h"
#include "plugin/alarm_rows.h"
#include "sim/check/findings/families.h"
#include "sim/host/bounded_read.h"

namespace sim::cli::findings {

void Profile(Context& c) {
  if (c.profile.empty()) {
    const bool needed = c.Reads().ai_section || c.Reads().alarm_section;
    std::string message = "no profile found in " + c.site.workdir.string() + "; the device tried";
    for (std::size_t i = 0; i < c.tried.size(); ++i) message += (i ? ", " : " ") + c.tried[i];
    if (c.Reads().ai_section) {
      message +=
          ": it loads no [AI] signals, so no signal is checked or reported besides the "
          "voltage";
    } else if (c.Reads().alarm_section) {
      message += std::string(": it loads no [ALARM] rules, so only alarms ") +
                 aikorvane::kMobileRows[0].id + " and " + aikorvane::kMobileRows[1].id +
                 " are judged";
    } else {
      message += ": operating mode " + std::to_string(c.s.b_mode) +
                 " takes nothing from a profile, so nothing is lost";
    }
    if (needed) message += "; put the profile at " + (c.tried.empty() ? "ini/" : c.tried.back());
    Finding finding{&CodeOf(CodeId::kProfileMissing),
                    needed ? Severity::kWarning : Severity::kNote,
                    c.tried.empty() ? "./ini/" : c.tried.back(),
                    message,
                    {},
                    0,
                    0};
    c.findings.push_back(finding);
    return;
  }
  const std::string kYaml = aikorvane::config::kYamlSuffix;
  if (c.profile.size() < kYaml.size() ||
      c.profile.compare(c.profile.size() - kYaml.size(), kYaml.size(), kYaml) != 0) {
    return;
  }
  std::string message =
      "the device chooses this profile, stops its search there and has no YAML reader: "
      "nothing is loaded from it";
  const std::string ini =
      c.profile.substr(0, c.profile.size() - kYaml.size()) + aikorvane::config::kIniSuffix;
  if (::access((c.site.workdir / ini).c_str(), F_OK) == 0) {
    message += ", and " + ini + " beside it is never read";
  }
  // As with a missing profile: only modes that read a section take anything from it.
  const bool needed = c.Reads().ai_section || c.Reads().alarm_section;
  if (!needed) {
    message += "; operating mode " + std::to_string(c.s.b_mode) +
               " takes nothing from a profile, so nothing is lost";
  }
  c.AddInProfile(CodeId::kProfileYamlNotRead, needed ? Severity::kWarning : Severity::kNote, 0,
                 c.profile,
                 message + "; write the profile in INI form as a .ini file and remove the .yaml");
}

// Section headers of the chosen INI profile without any entry: the reader
// drops them as if they were absent.
void EmptySections(Context& c) {
  const std::string kIni = aikorvane::config::kIniSuffix;
  if (c.profile.size() < kIni.size() ||
      c.profile.compare(c.profile.size() - kIni.size(), kIni.size(), kIni) != 0) {
    return;
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(
      std::fopen((c.site.workdir / c.profile).c_str(), "rb"), &std::fclose);
  if (!in) return;
  struct Header {
    std::string name;
    int line;
    int entries;
  };
  std::vector<Header> headers;
  LineReader lines(in.get());
  // A line past the bound ends the reading: headers after it are not named.
  for (std::string line; lines.Next(line) == LineReader::Status::kLine;) {
    const int number = lines.Number();
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
  const bool needs_ai = c.Reads().ai_section;
  const bool needs_alarm = c.Reads().alarm_section;
  for (const Header& header : headers) {
    if (header.entries != 0) continue;
    const std::string place = c.profile + " [" + header.name + "]";
    const std::string opened =
        "line " + std::to_string(header.line) + " opens [" + header.name +
        "] but no entry follows, and the INI reader drops a section without entries";
    if (!c.site.accepted && c.site.threw &&
        c.site.refusal == "No such node (" + header.name + ")") {
      c.AddInProfile(CodeId::kProfileEmptySection, Severity::kError, header.line, place,
                     opened + ": operating mode " + std::to_string(c.s.b_mode) + " needs [" +
                         header.name + "], so the device refuses the settings with \"" +
                         c.site.refusal + "\"; add at least one entry under it");
      continue;
    }
    const bool read = (header.name == "AI" && needs_ai) || (header.name == "ALARM" && needs_alarm);
    c.AddInProfile(
        CodeId::kProfileEmptySection, Severity::kWarning, header.line, place,
        opened +
            (read ? ""
                  : ": operating mode " + std::to_string(c.s.b_mode) + " does not read it either") +
            "; add its entries or remove the header");
  }
}

void AiSignals(Context& c) {
  if (!c.Reads().ai_section) return;
  {
    for (const auto& [key, signal] : c.s.ai_signals) {
      if (signal.first.size() >= aikorvane::kShortestSignalId) continue;
      c.AddInProfile(
          CodeId::kAiIdTooShort, Severity::kWarning,
          IniLine((c.site.workdir / c.profile).string(), "AI", key), c.profile + " [AI] " + key,
          "signal id " + Quoted(signal.first) + " has " + std::to_string(signal.first.size()) +
              " characters: the device rewrites the 4th and 9th characters of the id to report "
              "it, so it skips this signal every round; give the full signal id");
    }
  }
}

}  // namespace sim::cli::findings
