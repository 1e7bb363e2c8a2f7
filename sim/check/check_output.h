#pragma once

// What aikorvane-sim check writes: a site's findings as text lines or as a
// JSON value, and the table of finding codes.

#include <json/value.h>

#include <ostream>
#include <string>
#include <vector>

#include "sim/check/findings.h"

namespace sim::cli {

struct SiteReport {
  std::string site;
  bool accepted = false;
  std::string profile;  // as the device named it; empty when none
  std::string refusal;
  std::vector<Finding> findings;
  std::vector<std::string> diagnostics;

  bool Has(Severity severity) const {
    for (const Finding& finding : findings) {
      if (finding.severity == severity) return true;
    }
    return false;
  }
};

// Findings below least are left out; long messages wrap onto indented lines.
void WriteText(const SiteReport& report, bool verbose, Severity least, std::ostream& out);
// A finding's texts that are no UTF-8 show U+FFFD, and its message says so;
// the site's own texts are left for the writer (JsonText) to repair.
Json::Value ToJson(const SiteReport& report, bool verbose, Severity least);
// check --list-codes: code, severity, summary and documentation anchor.
void WriteCodes(std::ostream& out);

}  // namespace sim::cli
