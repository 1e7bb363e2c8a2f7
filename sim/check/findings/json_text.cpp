// The settings file as text: what the host's JSON reader cannot read, keys it
// reads twice, what it accepts that strict JSON tools refuse, and what it
// does not read at all.

#include <json/reader.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <map>
#include <memory>
#include <sstream>

#include "sim/check/findings/families.h"
#include "sim/check/findings/json_forms.h"
#include "sim/check/findings/json_scan.h"

namespace sim::cli::findings {
namespace {

// The value at path in the parsed settings, or nullptr.
const Json::Value* At(const Json::Value& root, const std::vector<std::string>& path) {
  const Json::Value* value = &root;
  for (const std::string& part : path) {
    if (value->isObject() && value->isMember(part)) {
      value = &(*value)[part];
    } else if (value->isArray() && !part.empty() &&
               part.find_first_not_of("0123456789") == std::string::npos &&
               std::stoul(part) < value->size()) {
      value = &(*value)[static_cast<Json::ArrayIndex>(std::stoul(part))];
    } else {
      return nullptr;
    }
  }
  return value;
}

std::string Shown(const Json::Value& value) {
  if (value.isObject()) return "an object";
  if (value.isArray()) return "an array";
  if (value.isString()) return Quoted(value.asString());
  return value.asString();
}

// Whether the JSON library's reader, with one of its settings changed from
// the host's, refuses the text.
bool RefusedWith(const std::string& text, const char* setting, bool value) {
  Json::CharReaderBuilder builder;
  builder[setting] = value;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value ignored;
  std::string errors;
  return !reader->parse(text.data(), text.data() + text.size(), &ignored, &errors);
}

// The value the host's reader makes of a number as written.
std::string ReadAs(const std::string& token) {
  const std::string text = "[" + token + "]";
  Json::Value value;
  std::string ignored;
  const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &value, &ignored)) return "?";
  std::ostringstream shown;
  shown << std::setprecision(15) << value[0].asDouble();
  return shown.str();
}

std::string PointerOf(const std::vector<std::string>& path, const std::string& file) {
  std::string pointer;
  for (const std::string& part : path) pointer += Pointer({part});
  return pointer.empty() ? file : pointer;
}

// What the reader makes of "\\uDC00" alone or of "\\uD800\\u0041".
std::string Unpaired(const std::string& escapes) {
  if (escapes.size() < 12) {
    return "a low surrogate with no high one before it: the host's reader hands the device three "
           "bytes that are no UTF-8";
  }
  const unsigned high = std::stoul(escapes.substr(2, 4), nullptr, 16);
  const unsigned low = std::stoul(escapes.substr(8, 4), nullptr, 16);
  char joined[16];
  std::snprintf(joined, sizeof joined, "U+%X", 0x10000 + ((high & 0x3FF) << 10) + (low & 0x3FF));
  return std::string(
             "a high surrogate followed by an escape that is no low one: the host's "
             "reader joins the two into ") +
         joined + ", another character, and hands that to the device";
}

constexpr const char* kStrictTools = "strict JSON tools (jq, python -m json.tool) refuse it";

// What the reader takes and strict JSON does not, each where it stands.
void Irregulars(Context& c, const Scan& scan) {
  for (const Irregular& irregular : scan.irregulars) {
    const std::string place = PointerOf(irregular.path, c.site.settings_file);
    switch (irregular.form) {
      case Form::kContentAfterValue:
        c.AddAtOffset(CodeId::kJsonContentAfterValue, irregular.offset, place,
                      "text after the settings' first value, which ends on line " +
                          std::to_string(c.LineOf(scan.root_end - 1)) +
                          ": the host's JSON reader stops there, so the device never sees this "
                          "or anything after it; move it into the first value or remove it");
        break;
      case Form::kNumber: {
        const bool digits = irregular.text.find_first_of("0123456789") != std::string::npos;
        c.AddAtOffsetAs(CodeId::kJsonNumber, digits ? Severity::kNote : Severity::kWarning,
                        irregular.offset, place,
                        Quoted(irregular.text) +
                            " is no JSON number: the host's reader takes it as " +
                            ReadAs(irregular.text) + ", " + kStrictTools +
                            (digits ? "" : "; give the number meant"));
        break;
      }
      case Form::kControlCharacter:
        c.AddAtOffset(CodeId::kJsonControlCharacter, irregular.offset, place,
                      "the string holds " +
                          ControlName(static_cast<unsigned char>(irregular.text[0])) +
                          " as is: the host's reader hands it on, " + kStrictTools);
        break;
      case Form::kSurrogate:
        c.AddAtOffset(CodeId::kJsonSurrogate, irregular.offset, place,
                      Quoted(irregular.text) + " is " + Unpaired(irregular.text) +
                          "; escape a character past U+FFFF as a high \\uD800-\\uDBFF followed "
                          "by a low \\uDC00-\\uDFFF, or write it as is");
        break;
      case Form::kNotUtf8:
        c.AddAtOffset(CodeId::kJsonEncoding, irregular.offset, place,
                      "the string's bytes are no UTF-8 from here: the host's reader hands them "
                      "to the device as they are, and texts it reports show garbled; save the "
                      "file as UTF-8 (not GBK or Latin-1)");
        break;
    }
  }
}

}  // namespace

// The library's own reader decides whether a key repeats; the scan only
// finds where. Comments and trailing commas come from the scan alone: the
// library's reader takes a comment after a value even with comments off.
void JsonText(Context& c) {
  const std::string& text = c.site.settings_text;
  Scan scan = ScanText(text);
  if (!scan.duplicates.empty() && !RefusedWith(text, "rejectDupKeys", true)) {
    scan.duplicates.clear();
  }
  for (const Duplicate& duplicate : scan.duplicates) {
    // Inside an object that a later key of the same name replaced, nothing
    // reaches the device: that outer key is the finding.
    const Json::Value* object = At(c.site.settings, duplicate.path);
    if (object == nullptr || c.OffsetOf(*object) != duplicate.object_start) continue;
    const Json::Value* kept = At(*object, {duplicate.key});
    if (kept == nullptr) continue;
    std::vector<std::string> lines;
    for (const std::size_t offset : duplicate.offsets) {
      lines.push_back(std::to_string(c.LineOf(offset)));
    }
    std::vector<std::string> path = duplicate.path;
    path.push_back(duplicate.key);
    std::string place;
    for (const std::string& part : path) place += Pointer({part});
    c.AddAtOffset(CodeId::kDuplicateKey, duplicate.offsets.front(), place,
                  Quoted(duplicate.key) + " is given " + std::to_string(lines.size()) +
                      " times in one object (lines " + List(lines) +
                      "): the JSON reader keeps only the last, so the device is handed " +
                      Shown(*kept) + " (line " + lines.back() + "); remove the others");
  }
  Irregulars(c, scan);
  if (scan.first_lenient == std::string::npos) return;
  std::vector<std::string> what;
  if (scan.comments > 0) {
    what.push_back(std::to_string(scan.comments) + (scan.comments == 1 ? " comment" : " comments"));
  }
  if (scan.trailing_commas > 0) {
    what.push_back(std::to_string(scan.trailing_commas) +
                   (scan.trailing_commas == 1 ? " trailing comma" : " trailing commas"));
  }
  c.AddAtOffset(CodeId::kJsonLenient, scan.first_lenient, c.site.settings_file,
                "the file has " + List(what) +
                    " (the first here): the host's JSON reader accepts them, strict JSON tools "
                    "(jq, python -m json.tool) refuse the file; remove them if such a tool "
                    "reads it");
}

}  // namespace sim::cli::findings

namespace sim::cli {

Finding SettingsFileFinding(const std::string& file, const std::string& reader_error, bool opened) {
  if (!opened) {
    return {&CodeOf(CodeId::kSettingsUnreadable),
            Severity::kError,
            file,
            "cannot read the settings: " + reader_error +
                "; give a settings file, a folder holding settings.json, or a folder of "
                "such site folders",
            file,
            0,
            0};
  }
  const ReaderError first = FirstReaderError(reader_error);
  return {&CodeOf(CodeId::kJsonSyntax),
          Severity::kError,
          file,
          first.message +
              ": the host cannot read these settings, so the device gets none; fix the JSON",
          file,
          first.line,
          first.column};
}

ReaderError FirstReaderError(const std::string& reader_error) {
  ReaderError first;
  std::string what = reader_error;
  if (std::sscanf(reader_error.c_str(), "* Line %d, Column %d", &first.line, &first.column) == 2) {
    const auto newline = reader_error.find('\n');
    what = newline == std::string::npos ? std::string() : reader_error.substr(newline + 1);
    const auto next = what.find("\n*");
    if (next != std::string::npos) what.resize(next);
  } else {
    first.line = first.column = 0;
  }
  const auto begin = what.find_first_not_of(" \n");
  what = begin == std::string::npos ? std::string() : what.substr(begin);
  while (!what.empty() && (what.back() == '\n' || what.back() == ' ')) what.pop_back();
  for (char& c : what) {
    if (c == '\n') c = ' ';
  }
  first.message = what;
  return first;
}

}  // namespace sim::cli
