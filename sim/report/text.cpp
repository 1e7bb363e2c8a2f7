#include "sim/report/text.h"

#include <json/writer.h>

#include <algorithm>
#include <iomanip>
#include <sstream>

namespace sim::cli {

std::string ShortNumber(double value) {
  std::ostringstream text;
  text << std::setprecision(6) << value;
  return text.str();
}

std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  quoted += text;
  quoted += '"';
  return quoted;
}

namespace {

// The length of the valid sequence text begins with; when there is none, the
// negated length of the stretch that one U+FFFD stands for (at least 1).
int SequenceAt(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return 1;
  int length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) high = 0x9F;  // the surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return -1;
  }
  for (int k = 1; k < length; ++k) {
    if (static_cast<std::size_t>(k) >= text.size()) return -k;
    const auto byte = static_cast<unsigned char>(text[k]);
    if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF)) return -k;
  }
  return length;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const int length = SequenceAt(text.substr(at));
    if (length < 0) return false;
    at += static_cast<std::size_t>(length);
  }
  return true;
}

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const int length = SequenceAt(text.substr(at));
    if (length > 0) {
      out.append(text, at, static_cast<std::size_t>(length));
    } else {
      out += kReplacement;
    }
    at += static_cast<std::size_t>(length > 0 ? length : -length);
  }
  return out;
}

bool HoldsValidUtf8(const Json::Value& value) {
  if (value.isString()) {
    const char* begin = nullptr;
    const char* end = nullptr;
    value.getString(&begin, &end);
    return IsValidUtf8(std::string_view(begin, static_cast<std::size_t>(end - begin)));
  }
  if (!value.isArray() && !value.isObject()) return true;
  for (auto item = value.begin(); item != value.end(); ++item) {
    if (value.isObject()) {
      const char* end = nullptr;
      const char* begin = item.memberName(&end);
      if (!IsValidUtf8(std::string_view(begin, static_cast<std::size_t>(end - begin)))) {
        return false;
      }
    }
    if (!HoldsValidUtf8(*item)) return false;
  }
  return true;
}

std::size_t RepairUtf8(Json::Value& value) {
  std::size_t repaired = 0;
  if (value.isString()) {
    const char* begin = nullptr;
    const char* end = nullptr;
    value.getString(&begin, &end);
    const std::string_view text(begin, static_cast<std::size_t>(end - begin));
    if (!IsValidUtf8(text)) {
      value = ValidUtf8(text);
      ++repaired;
    }
  } else if (value.isArray()) {
    for (Json::Value& item : value) repaired += RepairUtf8(item);
  } else if (value.isObject()) {
    bool names_valid = true;
    for (const std::string& name : value.getMemberNames()) {
      names_valid = names_valid && IsValidUtf8(name);
      repaired += RepairUtf8(value[name]);
    }
    if (!names_valid) {
      Json::Value renamed(Json::objectValue);
      for (const std::string& name : value.getMemberNames()) {
        repaired += !IsValidUtf8(name);
        renamed[ValidUtf8(name)] = std::move(value[name]);
      }
      value = std::move(renamed);
    }
  }
  return repaired;
}

std::string JsonText(const Json::Value& value, const std::string& indentation,
                     std::size_t* repaired) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = indentation;
  builder["emitUTF8"] = true;
  if (repaired != nullptr) *repaired = 0;
  if (HoldsValidUtf8(value)) return Json::writeString(builder, value);
  Json::Value valid = value;
  const std::size_t count = RepairUtf8(valid);
  if (repaired != nullptr) *repaired = count;
  return Json::writeString(builder, valid);
}

std::string XmlEscaped(std::string_view text) {
  const std::string valid = ValidUtf8(text);
  std::string out;
  out.reserve(valid.size());
  for (std::size_t at = 0; at < valid.size(); ++at) {
    const char c = valid[at];
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t' && c != '\r') {
          out += '?';
        } else if (valid.compare(at, 2, "\xEF\xBF") == 0 && at + 2 < valid.size() &&
                   (valid[at + 2] == '\xBE' || valid[at + 2] == '\xBF')) {
          out += '?';  // U+FFFE and U+FFFF are no XML characters
          at += 2;
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

namespace {

size_t Distance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string Nearest(std::string_view key, const std::vector<std::string>& names) {
  std::string best;
  size_t best_distance = key.size() / 3 + 1;
  for (const std::string& name : names) {
    const size_t distance = Distance(key, name);
    if (distance < best_distance) {
      best_distance = distance;
      best = name;
    }
  }
  return best;
}

}  // namespace sim::cli
