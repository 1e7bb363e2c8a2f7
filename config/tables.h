#pragma once

#include <map>
#include <string>
#include <tuple>
#include <utility>

// One limit of a signal: alarm id, limit, recovery value, alarm active, level.
using ThresholdEntry = std::tuple<std::string, float, float, bool, int>;
using ThresholdTable = std::map<std::string, ThresholdEntry>;

// Published-value key -> (signal id, signal name), from a profile's [AI] section.
using AiSignalTable = std::map<std::string, std::pair<std::string, std::string>>;
// Text-keyed text tables: alarm rules, signal names and report prefixes.
using TextTable = std::map<std::string, std::string>;
