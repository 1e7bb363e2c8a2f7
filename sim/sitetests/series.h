#pragma once

// The notations of a test file that are not YAML: the expanding notation of
// input series and durations such as "90s", "30m" or "1h30m".

#include <optional>
#include <string>
#include <vector>

namespace sim::cli {

// One entry per step: a reading, or nothing for "_" (the clock moves, no
// round runs). Tokens are separated by blanks: "a" one value; "a+bxn" and
// "a-bxn" the n+1 values a, a±b, ..., a±n·b; "axn" a repeated n+1 times;
// "_" one empty step; "_xn" n empty steps. False with the reason for a bad
// token or a series of more than max_steps steps.
bool ParseSeries(const std::string& text, std::vector<std::optional<double>>& steps,
                 std::string& error, size_t max_steps = 10000000);

// Whole seconds from "<number><unit>..." with units s, m, h, d (e.g. "1h30m", "7d");
// "0" alone is zero. False with the reason when the text is no duration.
bool ParseDuration(const std::string& text, long long& seconds, std::string& error);

}  // namespace sim::cli
