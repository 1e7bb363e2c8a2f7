#include "sim/host/host_events.h"

#include <algorithm>
#include <cstring>

#include "config/device_contract.h"

namespace sim::cli {

AlarmCall AlarmOf(const std::string& first, const std::string& second, const std::string& third,
                  bool condition) {
  const std::string* texts[] = {&first, &second, &third};
  const aikorvane::ThresholdTexts layout = aikorvane::ThresholdTextsOf(first == second);
  return AlarmCall{*texts[layout.alarm_id], *texts[layout.name], condition};
}

std::optional<AlarmCall> AlarmOf(const Json::Value& event) {
  if (event["event"].asString() != "CheckThresholdBool") return std::nullopt;
  const Json::Value& texts = event["texts"];
  return AlarmOf(texts[0].asString(), texts[1].asString(), texts[2].asString(),
                 event["condition"].asBool());
}

FormFields ParseForm(const std::string& body) {
  FormFields fields;
  size_t start = 0;
  while (start <= body.size()) {
    const size_t end = std::min(body.find('&', start), body.size());
    const std::string pair = body.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (!pair.empty()) {
      fields.emplace_back(pair.substr(0, equals),
                          equals == std::string::npos ? "" : pair.substr(equals + 1));
    }
    start = end + 1;
  }
  return fields;
}

std::string FieldOf(const FormFields& fields, const std::string& name) {
  for (const auto& [key, value] : fields) {
    if (key == name) return value;
  }
  return {};
}

std::optional<AIKorvane_Data_t> DecodeRecord(const unsigned char* bytes, std::size_t length) {
  if (length != sizeof(AIKorvane_Data_t)) return std::nullopt;
  // The record is little-endian, as this host is.
  AIKorvane_Data_t record;
  std::memcpy(&record, bytes, sizeof record);
  return record;
}

std::optional<AIKorvane_Data_t> DecodeRecord(const std::string& hex) {
  std::vector<unsigned char> bytes;
  if (!ParseHex(hex, bytes)) return std::nullopt;
  return DecodeRecord(bytes.data(), bytes.size());
}

Json::Value RecordJson(const AIKorvane_Data_t& record) {
  Json::Value json(Json::objectValue);
  json["data_id"] = record.data_id;
  json["voltage"] = static_cast<double>(record.voltage);
  json["year"] = record.year;
  json["month"] = record.month;
  json["day"] = record.day;
  json["hour"] = record.hour;
  json["minute"] = record.minute;
  json["second"] = record.second;
  return json;
}

std::optional<AIKorvane_Data_t> RecordOf(const Json::Value& event) {
  if (event["event"].asString() != "SendSP") return std::nullopt;
  return DecodeRecord(event["bytes"].asString());
}

bool ParseHex(const std::string& text, std::vector<unsigned char>& bytes) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (text.size() % 2 != 0) return false;
  bytes.clear();
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<unsigned char>(high << 4 | low));
  }
  return true;
}

}  // namespace sim::cli
