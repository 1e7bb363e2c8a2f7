#pragma once

// The one reader of the device's framework calls: what the summary, the plot
// and the site tests take from them, decoded alike whether a call arrives as
// a logged JSON event or straight from the framework.

#include <json/value.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plugin/aikorvane_data.h"

namespace sim::cli {

// One CheckThresholdBool call: which alarm, under which name, and whether its
// condition held.
struct AlarmCall {
  std::string id;
  std::string name;
  bool condition = false;
};

// The first three texts of the call, read by the layout the device uses for
// them (ThresholdTextsOf).
AlarmCall AlarmOf(const std::string& first, const std::string& second, const std::string& third,
                  bool condition);
// From a logged CheckThresholdBool event; nullopt for any other event.
std::optional<AlarmCall> AlarmOf(const Json::Value& event);

// The fields of a form body ("Play=1&Device_ID=12"), in order, as sent.
using FormFields = std::vector<std::pair<std::string, std::string>>;
FormFields ParseForm(const std::string& body);
// The value of the first field of that name, empty when absent.
std::string FieldOf(const FormFields& fields, const std::string& name);

// The 15 record bytes as the device's record; nullopt for another length.
std::optional<AIKorvane_Data_t> DecodeRecord(const unsigned char* bytes, std::size_t length);
// From the record's upper- or lower-case hexadecimal text.
std::optional<AIKorvane_Data_t> DecodeRecord(const std::string& hex);
// {"data_id", "voltage", "year", "month", "day", "hour", "minute", "second"}
Json::Value RecordJson(const AIKorvane_Data_t& record);
// The record of a logged SendSP event: its decoded "record", else its bytes.
std::optional<AIKorvane_Data_t> RecordOf(const Json::Value& event);

// Bytes from hexadecimal text; false when the text is not an even number of
// hexadecimal digits.
bool ParseHex(const std::string& text, std::vector<unsigned char>& bytes);

}  // namespace sim::cli
