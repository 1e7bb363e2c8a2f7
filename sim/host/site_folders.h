#pragma once

// Sites as the commands that take many of them name them: a folder holding
// settings.json (and its ini/ and history/), or a folder of such folders.

#include <filesystem>
#include <string>
#include <vector>

namespace sim::cli {

namespace fs = std::filesystem;

struct SiteFolder {
  std::string name;  // the folder's own name: what shards sort by and candidates are found by
  fs::path folder;
};

// The sites named on the command line, sorted by name. False when two share a
// name, which would make shards and candidate folders ambiguous.
bool SiteFolders(const std::vector<std::string>& given, const fs::path& base,
                 std::vector<SiteFolder>& sites, std::string& error);

// A folder of sites (a fleet): the folders directly below it that hold a
// settings.json, sorted by name; empty when there are none or it cannot be
// read. Nothing deeper is searched, so a site's own ini/ and history/ never
// count as sites.
std::vector<SiteFolder> SitesBelow(const fs::path& fleet);

}  // namespace sim::cli
