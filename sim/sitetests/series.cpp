#include "sim/sitetests/series.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

namespace sim::cli {
namespace {

// A plain decimal number at text[pos]: digits, an optional fraction and an
// optional exponent. strtod alone would also take "0x30" as hexadecimal and
// "inf", which the notation reads otherwise or not at all.
bool ScanNumber(const std::string& text, size_t& pos, bool allow_sign, double& out) {
  const size_t start = pos;
  if (allow_sign && pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
  size_t digits = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) ++pos, ++digits;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
      ++pos, ++digits;
    }
  }
  if (digits == 0) {
    pos = start;
    return false;
  }
  // An exponent only when digits follow: in "1e" the "e" is not part of it.
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    size_t exponent = pos + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    if (exponent < text.size() && std::isdigit(static_cast<unsigned char>(text[exponent]))) {
      pos = exponent;
      while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
    }
  }
  out = std::strtod(text.substr(start, pos - start).c_str(), nullptr);
  return std::isfinite(out);
}

// "nan", "inf", "+inf" or "-inf" (any case) at the start of text.
std::optional<double> SpecialReading(const std::string& text, size_t& pos) {
  std::string lower;
  for (const char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& [word, value] : {std::pair<const char*, double>{"nan", std::nan("")},
                                    {"-inf", -HUGE_VAL},
                                    {"+inf", HUGE_VAL},
                                    {"inf", HUGE_VAL}}) {
    const size_t length = std::strlen(word);
    if (lower.compare(0, length, word) == 0 && (lower.size() == length || lower[length] == 'x')) {
      pos = length;
      return value;
    }
  }
  return std::nullopt;
}

bool ScanCount(const std::string& text, size_t& pos, long long& out) {
  const size_t start = pos;
  out = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    if (out > 1000000000LL) return false;
    out = out * 10 + (text[pos++] - '0');
  }
  return pos > start;
}

}  // namespace

bool ParseSeries(const std::string& text, std::vector<std::optional<double>>& steps,
                 std::string& error, size_t max_steps) {
  steps.clear();
  std::istringstream words(text);
  for (std::string token; words >> token;) {
    const std::string usage =
        "bad series value \"" + token + "\" (expected a number a, a+bxn, a-bxn, axn, _ or _xn)";
    size_t pos = 0;
    std::optional<double> first;
    double step = 0;
    long long repeat = 0;  // further steps after the first
    if (token[0] == '_') {
      pos = 1;
      if (pos < token.size()) {
        // "_xn": n empty steps in all (nothing to count up from).
        if (token[pos] != 'x' || !ScanCount(token, ++pos, repeat) || pos != token.size() ||
            repeat < 1) {
          error = usage;
          return false;
        }
        --repeat;
      }
    } else if (const std::optional<double> special = SpecialReading(token, pos)) {
      // "nan", "inf" and "-inf" (each optionally "xn"): readings a broken
      // sensor gives, to replay how the device takes them.
      first = *special;
      if (pos < token.size() &&
          (token[pos] != 'x' || !ScanCount(token, ++pos, repeat) || pos != token.size())) {
        error = usage;
        return false;
      }
    } else {
      double value = 0;
      if (!ScanNumber(token, pos, true, value)) {
        error = usage;
        return false;
      }
      first = value;
      if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) {
        const bool down = token[pos++] == '-';
        if (!ScanNumber(token, pos, false, step) || pos >= token.size() || token[pos] != 'x') {
          error = usage;
          return false;
        }
        if (down) step = -step;
      }
      if (pos < token.size()) {
        if (token[pos] != 'x' || !ScanCount(token, ++pos, repeat) || pos != token.size()) {
          error = usage;
          return false;
        }
      }
    }
    if (steps.size() + static_cast<size_t>(repeat) + 1 > max_steps) {
      error = "series longer than " + std::to_string(max_steps) + " steps";
      return false;
    }
    for (long long i = 0; i <= repeat; ++i) {
      if (first) {
        steps.emplace_back(*first + static_cast<double>(i) * step);
      } else {
        steps.emplace_back(std::nullopt);
      }
    }
  }
  if (steps.empty()) {
    error = "empty series";
    return false;
  }
  return true;
}

bool ParseDuration(const std::string& text, long long& seconds, std::string& error) {
  error = "bad duration \"" + text + "\" (expected e.g. 90s, 30m, 1h, 1h30m or 7d)";
  seconds = 0;
  if (text == "0") return true;
  size_t pos = 0;
  if (text.empty()) return false;
  while (pos < text.size()) {
    long long count = 0;
    if (!ScanCount(text, pos, count) || pos >= text.size()) return false;
    const char unit = text[pos++];
    const long long scale = unit == 's'   ? 1
                            : unit == 'm' ? 60
                            : unit == 'h' ? 3600
                            : unit == 'd' ? 86400
                                          : 0;
    if (scale == 0) return false;
    seconds += count * scale;
    // Past a century the virtual clock is no use.
    if (seconds > 100LL * 366 * 24 * 3600) return false;
  }
  return true;
}

}  // namespace sim::cli
