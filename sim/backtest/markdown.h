#pragma once

// The backtest as Markdown for a change request or a ticket: the fleet, then
// the sites that change most. GitHub renders its tables; pasted as plain
// text it still reads as columns.

#include <json/value.h>

#include <cstddef>
#include <string>

namespace sim::cli {

// A change request is read, not searched: the sites beyond these are counted.
inline constexpr size_t kMarkdownSites = 50;

// text for a table cell or a line: valid UTF-8 on one line, with the
// characters Markdown would take as markup (| * _ ` [ ] < > # and the like)
// escaped by a backslash.
std::string MarkdownEscaped(const std::string& text);

std::string FormatMarkdown(const Json::Value& document);

}  // namespace sim::cli
