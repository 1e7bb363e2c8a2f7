#include "sim/report/plot_layout.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace sim::cli {

std::vector<double> ValueTicks(double low, double high, int max_ticks) {
  std::vector<double> ticks;
  if (!(high > low) || !std::isfinite(low) || !std::isfinite(high) || max_ticks < 1) return ticks;
  const double rough = (high - low) / max_ticks;
  double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power;
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * power;
    if (step >= rough) break;
  }
  // Whole multiples of the step, so that 0.1 + 0.2 never shows as 0.30000000000000004.
  for (double k = std::ceil(low / step - 1e-9); k * step <= high + step * 1e-9; ++k) {
    const double value = k * step;
    ticks.push_back(std::fabs(value) < step * 1e-9 ? 0.0 : value);
  }
  return ticks;
}

std::vector<std::time_t> TimeTicks(std::time_t first, std::time_t last, int max_ticks) {
  std::vector<std::time_t> ticks;
  if (last <= first || max_ticks < 1) return ticks;
  static constexpr long long kSteps[] = {60,     120,    300,     600,    900,   1800,
                                         3600,   7200,   10800,   21600,  43200, 86400,
                                         172800, 604800, 1209600, 2419200};
  const long long span = static_cast<long long>(last - first);
  long long step = kSteps[std::size(kSteps) - 1];
  for (const long long candidate : kSteps) {
    if (span / candidate < max_ticks) {
      step = candidate;
      break;
    }
  }
  // Whole steps of the local clock: the zone's offset from UTC at the start.
  std::tm fields{};
  localtime_r(&first, &fields);
  const long long offset = fields.tm_gmtoff;
  const long long day_step = step >= 86400 ? 86400 : step;
  long long local = static_cast<long long>(first) + offset;
  local = (local + day_step - 1) / day_step * day_step;
  for (long long t = local - offset; t <= static_cast<long long>(last); t += step) {
    ticks.push_back(static_cast<std::time_t>(t));
  }
  return ticks;
}

std::vector<int> StackLabels(const std::vector<double>& at, const std::vector<double>& width,
                             int rows) {
  std::vector<int> placed(at.size(), -1);
  std::vector<double> free_from(static_cast<size_t>(std::max(rows, 0)), -1e300);
  for (size_t i = 0; i < at.size(); ++i) {
    const double left = at[i] - width[i] / 2;
    for (int row = 0; row < rows; ++row) {
      if (left >= free_from[row]) {
        placed[i] = row;
        free_from[row] = at[i] + width[i] / 2;
        break;
      }
    }
  }
  return placed;
}

}  // namespace sim::cli
