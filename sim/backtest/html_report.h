#pragma once

// The backtest as one self-contained HTML page: nothing on it is fetched, so
// it opens from a mail or an archive as it was written.

#include <json/value.h>

#include <mutex>
#include <string>
#include <vector>

namespace sim::cli {

// The pages show the plots of this many sites, those that change most: a
// fleet of thousands stays a page a browser opens.
inline constexpr size_t kPlottedSites = 50;

// The plots of the sites that change most, kept as sites finish on any thread.
class PlotKeeper {
 public:
  void Add(long long change_size, const std::string& site, std::string svg);
  // site -> SVG, the kPlottedSites largest changes.
  std::vector<std::pair<std::string, std::string>> Plots();

 private:
  struct Plot {
    long long size;
    std::string site, svg;
  };
  void Trim();
  std::mutex mutex_;
  std::vector<Plot> plots_;
};

std::string HtmlReport(const Json::Value& document,
                       const std::vector<std::pair<std::string, std::string>>& plots);

}  // namespace sim::cli
