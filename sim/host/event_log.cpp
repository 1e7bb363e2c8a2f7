#include "sim/host/event_log.h"

#include <json/writer.h>

#include <algorithm>
#include <ctime>
#include <sstream>

namespace sim::cli {

EventLog::EventLog(std::ostream* out) : out_(out), detailed_(out != nullptr) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  // Floats reach the log widened to double; 17 digits keep that double exact.
  builder["precision"] = 17;
  writer_.reset(builder.newStreamWriter());
}

void EventLog::Record(const OSKVDevice&, Json::Value event) {
  if (event["event"].asString() == "SendSP") {
    if (const auto record = DecodeRecord(event["bytes"].asString())) {
      event["record"] = RecordJson(*record);
    }
  }
  Write(std::move(event));
}

void EventLog::RecordSent(const OSKVDevice&, const unsigned char* bytes, unsigned long length) {
  const auto record = DecodeRecord(bytes, length);
  if (!record) return;
  std::lock_guard<std::mutex> lock(mutex_);
  analyser_.RecordSent(*record);
}

void EventLog::AlarmChecked(const OSKVDevice&, const std::string& first, const std::string& second,
                            const std::string& third, bool condition) {
  std::lock_guard<std::mutex> lock(mutex_);
  analyser_.AlarmChecked(AlarmOf(first, second, third, condition));
}

void EventLog::ValueReported(const OSKVDevice&, const std::string& signal, float) {
  std::lock_guard<std::mutex> lock(mutex_);
  analyser_.ValueReported(signal);
}

void EventLog::Write(Json::Value event) {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteLocked(event);
}

void EventLog::WriteLocked(Json::Value& event) {
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
  // time() is the virtual clock's while one is set.
  const std::time_t now = std::time(nullptr);
  const bool on_clock = sim::VirtualTime().has_value();
  std::lock_guard<std::mutex> lock(mutex_);
  round_ = round;
  analyser_.BeginRound(round, now, on_clock);
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
  detailed_.store(out_ != nullptr || static_cast<bool>(observer_));
}

}  // namespace sim::cli
