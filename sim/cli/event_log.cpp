#include "sim/cli/event_log.h"

#include <json/writer.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>

namespace sim::cli {

EventLog::EventLog(std::ostream* out) : out_(out) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  // Floats reach the log widened to double; 17 digits keep that double exact.
  builder["precision"] = 17;
  writer_.reset(builder.newStreamWriter());
}

void EventLog::Record(const OSKVDevice&, Json::Value event) {
  if (event["event"].asString() == "SendSP") {
    Json::Value record = DecodeRecord(event["bytes"].asString());
    if (!record.isNull()) event["record"] = std::move(record);
  }
  Write(std::move(event));
}

void EventLog::Write(Json::Value event) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (round_ > 0 && !event.isMember("round")) event["round"] = round_;
  if (out_ != nullptr) {
    // The library writes members in name order; put "event" and "round"
    // first so that a line reads from what happened.
    std::vector<std::string> names = event.getMemberNames();
    std::stable_partition(names.begin(), names.end(), [](const std::string& name) {
      return name == "event" || name == "round";
    });
    std::ostringstream line;
    line << '{';
    for (size_t i = 0; i < names.size(); ++i) {
      if (i > 0) line << ',';
      writer_->write(Json::Value(names[i]), &line);
      line << ':';
      writer_->write(event[names[i]], &line);
    }
    line << "}\n";
    *out_ << line.str();
    out_->flush();
  }
  analyser_.Add(event);
  if (observer_) observer_(event);
}

void EventLog::BeginRound(int round) {
  std::lock_guard<std::mutex> lock(mutex_);
  round_ = round;
}

void EventLog::EndRound() {
  std::lock_guard<std::mutex> lock(mutex_);
  round_ = 0;
}

int EventLog::CurrentRound() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return round_;
}

Analysis EventLog::Result() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return analyser_.Result();
}

void EventLog::Observe(std::function<void(const Json::Value&)> observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  observer_ = std::move(observer);
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
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<unsigned char>(high << 4 | low));
  }
  return true;
}

Json::Value DecodeRecord(const std::string& hex) {
  std::vector<unsigned char> bytes;
  if (!ParseHex(hex, bytes) || bytes.size() != 15) return Json::Value();
  // Little-endian fields: data id (4), voltage (4, IEEE single), year (2),
  // then month, day, hour, minute and second one byte each.
  uint32_t data_id = 0;
  uint32_t voltage_bits = 0;
  for (int i = 3; i >= 0; --i) {
    data_id = data_id << 8 | bytes[i];
    voltage_bits = voltage_bits << 8 | bytes[4 + i];
  }
  float voltage = 0;
  std::memcpy(&voltage, &voltage_bits, sizeof voltage);
  Json::Value record(Json::objectValue);
  record["data_id"] = data_id;
  record["voltage"] = static_cast<double>(voltage);
  record["year"] = bytes[8] | bytes[9] << 8;
  const char* names[] = {"month", "day", "hour", "minute", "second"};
  for (int i = 0; i < 5; ++i) record[names[i]] = bytes[10 + i];
  return record;
}

}  // namespace sim::cli
