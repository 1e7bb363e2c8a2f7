#include "sim/check/check_output.h"

#include <cstdio>
#include <iomanip>

#include "sim/report/text.h"

namespace sim::cli {
namespace {

constexpr std::size_t kWidth = 100;

// Characters, not bytes: the messages carry Chinese alarm names.
std::size_t Columns(const std::string& text) {
  std::size_t columns = 0;
  for (const char c : text) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return columns;
}

// The place as the text line shows it: FILE:LINE:COL, FILE, or the site.
std::string Where(const SiteReport& report, const Finding& finding) {
  if (finding.file.empty()) {
    std::string site = report.site;
    while (site.size() > 1 && site.back() == '/') site.pop_back();
    return site;
  }
  std::string where = finding.file;
  if (finding.line > 0) {
    where += ":" + std::to_string(finding.line);
    if (finding.column > 0) where += ":" + std::to_string(finding.column);
  }
  return where;
}

// A key or text of the settings may hold a tab or a line break; as an escape
// it keeps a finding on its lines.
std::string Visible(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out += c;
    } else if (c == '\t' || c == '\n' || c == '\r') {
      out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", byte);
      out += escape;
    }
  }
  return out;
}

void Wrapped(const std::string& head, const std::string& message, std::ostream& out) {
  std::string line = head;
  std::size_t columns = Columns(line);
  std::size_t at = 0;
  while (at < message.size()) {
    std::size_t end = message.find(' ', at);
    if (end == std::string::npos) end = message.size();
    const std::string word = message.substr(at, end - at);
    const std::size_t width = Columns(word);
    if (columns + 1 + width > kWidth && columns > 4) {
      out << line << '\n';
      line = "    " + word;
      columns = 4 + width;
    } else {
      line += ' ' + word;
      columns += 1 + width;
    }
    at = end + 1;
  }
  out << line << '\n';
}

}  // namespace

void WriteText(const SiteReport& report, bool verbose, Severity least, std::ostream& out) {
  if (verbose) {
    for (const std::string& line : report.diagnostics) {
      out << report.site << ": device: " << line << '\n';
    }
  }
  for (const Finding& finding : report.findings) {
    if (finding.severity < least) continue;
    std::string head =
        Where(report, finding) + ": " + SeverityName(finding.severity) + " " + finding.code->name;
    if (!finding.place.empty() && finding.place != finding.file) {
      head += " " + Visible(finding.place);
    }
    Wrapped(Visible(head) + ":", Visible(finding.message), out);
  }
}

Json::Value ToJson(const SiteReport& report, bool verbose, Severity least) {
  Json::Value site(Json::objectValue);
  site["site"] = report.site;
  site["accepted"] = report.accepted;
  site["profile"] = report.profile.empty() ? Json::Value() : Json::Value(report.profile);
  Json::Value& findings = site["findings"] = Json::Value(Json::arrayValue);
  for (const Finding& finding : report.findings) {
    if (finding.severity < least) continue;
    Json::Value entry(Json::objectValue);
    entry["severity"] = SeverityName(finding.severity);
    entry["code"] = finding.code->name;
    entry["place"] = ValidUtf8(finding.place);
    if (!finding.file.empty()) entry["file"] = ValidUtf8(finding.file);
    if (finding.line > 0) entry["line"] = finding.line;
    if (finding.column > 0) entry["column"] = finding.column;
    std::string message = ValidUtf8(finding.message);
    if (!IsValidUtf8(finding.place) || !IsValidUtf8(finding.file) ||
        !IsValidUtf8(finding.message)) {
      message += " (" + std::string(kReplacedNote) + ")";
    }
    entry["message"] = message;
    findings.append(entry);
  }
  if (verbose) {
    Json::Value& lines = site["diagnostics"] = Json::Value(Json::arrayValue);
    for (const std::string& line : report.diagnostics) lines.append(line);
  }
  return site;
}

void WriteCodes(std::ostream& out) {
  for (const Code& code : kCodes) {
    std::string severity = SeverityName(code.severity);
    if (code.lesser != code.severity) severity += std::string("/") + SeverityName(code.lesser);
    out << std::left << std::setw(31) << code.name << std::setw(14) << severity << code.summary
        << " (configuration.md#" << code.anchor << ")\n";
  }
}

}  // namespace sim::cli
