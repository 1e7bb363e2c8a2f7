#include "sim/host/site_folders.h"

#include <algorithm>
#include <system_error>

namespace sim::cli {

bool SiteFolders(const std::vector<std::string>& given, const fs::path& base,
                 std::vector<SiteFolder>& sites, std::string& error) {
  sites.clear();
  for (const std::string& text : given) {
    fs::path folder = fs::path(text).lexically_normal();
    if (folder.filename().empty()) folder = folder.parent_path();  // "site/"
    if (folder.is_relative()) folder = base / folder;
    std::string name = folder.filename().string();
    if (name.empty() || name == "." || name == "..")
      name = fs::weakly_canonical(folder).filename().string();
    sites.push_back({name, folder});
  }
  std::sort(sites.begin(), sites.end(),
            [](const SiteFolder& a, const SiteFolder& b) { return a.name < b.name; });
  for (size_t i = 1; i < sites.size(); ++i) {
    if (sites[i].name == sites[i - 1].name) {
      error = "two sites are named " + sites[i].name + ": " + sites[i - 1].folder.string() +
              " and " + sites[i].folder.string();
      return false;
    }
  }
  return true;
}

std::vector<SiteFolder> SitesBelow(const fs::path& fleet) {
  std::vector<SiteFolder> sites;
  std::error_code failure;
  for (fs::directory_iterator it(fleet, failure), end; !failure && it != end;
       it.increment(failure)) {
    std::error_code ignored;
    if (!it->is_directory(ignored)) continue;
    // A settings.json that cannot be read still marks a site: the site
    // then says why, rather than vanishing from the fleet.
    const fs::file_status settings = fs::symlink_status(it->path() / "settings.json", ignored);
    if (!fs::exists(settings)) continue;
    sites.push_back({it->path().filename().string(), it->path()});
  }
  std::sort(sites.begin(), sites.end(),
            [](const SiteFolder& a, const SiteFolder& b) { return a.name < b.name; });
  return sites;
}

}  // namespace sim::cli
