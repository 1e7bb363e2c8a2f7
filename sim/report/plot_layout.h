#pragma once

// Where the plot puts things: the ticks of its value and clock axes, and the
// rows of labels that would otherwise cover each other.

#include <ctime>
#include <vector>

namespace sim::cli {

// Ticks of a value axis from low to high: multiples of 1, 2 or 5 times a
// power of ten, the step chosen so that at most max_ticks fall in the range.
std::vector<double> ValueTicks(double low, double high, int max_ticks);

// Ticks of a clock axis from first to last: whole minutes, hours or days of
// the local time zone, at most max_ticks of them.
std::vector<std::time_t> TimeTicks(std::time_t first, std::time_t last, int max_ticks);

// Labels of width `width` wanted at positions `at` (ascending) on rows of
// their own: the row (0 up to rows - 1) each label goes to so that no two on
// one row overlap, or -1 when every row is taken there (the label is dropped).
std::vector<int> StackLabels(const std::vector<double>& at, const std::vector<double>& width,
                             int rows);

}  // namespace sim::cli
