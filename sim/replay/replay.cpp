#include "sim/replay/replay.h"

#include <json/reader.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <thread>

#include "sim/replay/csv_trace.h"
#include "sim/host/plugin_host.h"
#include "sim/replay/trace.h"
#include "sim/framework/sim_framework.h"

namespace sim::cli {

bool ReadSettingsFile(const std::string& path, Json::Value& settings, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read settings " + path + ": " + std::strerror(errno);
    return false;
  }
  Json::CharReaderBuilder builder;
  std::string why;
  if (!Json::parseFromStream(builder, in, &settings, &why)) {
    error = "cannot read settings " + path + ": " + why;
    while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) error.pop_back();
    for (char& c : error) {
      if (c == '\n') c = ' ';
    }
    return false;
  }
  // The device takes settings that are no object as an object without
  // members (it keeps its settings), so the replay hands them on as well.
  if (!settings.isObject()) {
    std::cerr << "aikorvane-sim: settings " << path
              << " are no JSON object: the device reads none of its keys and keeps its settings"
              << std::endl;
  }
  return true;
}

bool ApplySettings(OSKAIDevice& device, EventLog& log, const Json::Value& settings,
                   const Json::Value& extra, std::string& error) {
  Json::Value event(Json::objectValue);
  for (const std::string& name : extra.getMemberNames()) event[name] = extra[name];
  try {
    const bool result = device.InitSetting(settings);
    event["event"] = "InitSetting";
    event["result"] = result;
    if (!result) {
      error = sim::LastSettingsError(device);
      if (error.empty()) error = "the framework refused the settings";
      event["error"] = error;
    }
    log.Write(std::move(event));
    return result;
  } catch (const std::exception& thrown) {
    error = thrown.what();
  } catch (...) {
    error = "unknown exception";
  }
  event["event"] = "error";
  event["where"] = "InitSetting";
  event["message"] = error;
  log.Write(std::move(event));
  return false;
}

bool Replayer::Fail(const std::string& where, int line, const std::string& message) {
  error_ = where + ":" + std::to_string(line) + ": " + message;
  Json::Value event(Json::objectValue);
  event["event"] = "error";
  event["where"] = "trace";
  event["file"] = where;
  event["line"] = line;
  event["message"] = message;
  log_.Write(std::move(event));
  return false;
}

Json::Value Replayer::CauseEvent(const Cause& cause) {
  Json::Value event(Json::objectValue);
  event["event"] = "round";
  if (cause.line > 0) event["line"] = cause.line;
  if (cause.bytes != nullptr) {
    event["cause"] = "cache";
    event["bytes"] = sim::Hex(cause.bytes->data(), cause.bytes->size());
  } else {
    event["cause"] = "sample";
    event["sample"] = cause.sample;
  }
  return event;
}

void Replayer::EndRound() {
  // Only a written or observed log shows the published values.
  if (log_.WantsEvents()) {
    const Json::Value values = PublishedValues(device_);
    if (!values.isNull()) {
      Json::Value event(Json::objectValue);
      event["event"] = "published";
      event["values"] = values;
      log_.Write(std::move(event));
    }
  }
  log_.EndRound();
}

bool Replayer::FinishRound(const char* where) {
  if (error_.empty()) {
    EndRound();
    return true;
  }
  // A round that threw ends with its error instead of the published values.
  Json::Value event(Json::objectValue);
  event["event"] = "error";
  event["where"] = where;
  event["message"] = error_;
  log_.Write(std::move(event));
  log_.EndRound();
  return false;
}

bool Replayer::RunRound(const Cause& cause) {
  log_.BeginRound(++round_);
  const bool detailed = log_.WantsEvents();
  if (detailed) log_.Write(CauseEvent(cause));
  try {
    const float value = CallProcess(device_, cause.sample);
    if (detailed) {
      Json::Value event(Json::objectValue);
      event["event"] = "result";
      event["value"] = static_cast<double>(value);
      log_.Write(std::move(event));
    }
  } catch (const std::exception& thrown) {
    error_ = std::string("process threw: ") + thrown.what();
  } catch (...) {
    error_ = "process threw an unknown exception";
  }
  return FinishRound("process");
}

bool Replayer::RunCacheRound(const Cause& cause) {
  log_.BeginRound(++round_);
  log_.Write(CauseEvent(cause));
  const std::vector<unsigned char>& bytes = *cause.bytes;
  // A valid pointer even for an empty record.
  static const unsigned char kNothing = 0;
  try {
    const bool result = device_.LoadFromCache(bytes.empty() ? &kNothing : bytes.data(),
                                              static_cast<int>(bytes.size()));
    Json::Value event(Json::objectValue);
    event["event"] = "LoadFromCache";
    event["result"] = result;
    log_.Write(std::move(event));
  } catch (const std::exception& thrown) {
    error_ = std::string("LoadFromCache threw: ") + thrown.what();
  }
  return FinishRound("LoadFromCache");
}

bool Replayer::Run(const std::string& trace_path, const std::string& name) {
  std::ifstream in(trace_path, std::ios::binary);
  if (!in) {
    error_ = "cannot read trace " + name + ": " + std::strerror(errno);
    return false;
  }
  const std::filesystem::path folder = std::filesystem::path(trace_path).parent_path();
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    // A byte-order mark, as editors on Windows write it, is no directive.
    if (line == 1 && text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::optional<Directive> directive;
    std::string message;
    if (!ParseTraceLine(text, line, directive, message)) return Fail(name, line, message);
    if (!directive) continue;
    Cause cause;
    cause.line = line;
    switch (directive->kind) {
      case Directive::Kind::kSample:
        cause.sample = directive->sample;
        if (!RunRound(cause)) return false;
        break;
      case Directive::Kind::kAi:
        sim::SetAiReading(device_, directive->channel, directive->reading);
        break;
      case Directive::Kind::kCache:
        cause.bytes = &directive->bytes;
        if (!RunCacheRound(cause)) return false;
        break;
      case Directive::Kind::kSettings: {
        const std::string path = (folder / directive->path).string();
        Json::Value settings;
        if (!ReadSettingsFile(path, settings, message)) return Fail(name, line, message);
        Json::Value extra(Json::objectValue);
        extra["file"] = directive->path;
        extra["line"] = line;
        // The device keeps its earlier settings and the replay goes on.
        if (!ApplySettings(device_, log_, settings, extra, message)) {
          const std::string warning = name + ":" + std::to_string(line) + ": settings " +
                                      directive->path + " not applied: " + message;
          std::cerr << "aikorvane-sim: " << warning << std::endl;
          warnings_.push_back(warning);
        }
        break;
      }
      case Directive::Kind::kSleep:
        std::this_thread::sleep_for(std::chrono::duration<double>(directive->seconds));
        break;
      case Directive::Kind::kClock:
        sim::SetVirtualTime(directive->clock);
        break;
      case Directive::Kind::kAdvance:
        if (!sim::VirtualTime()) return Fail(name, line, "advance needs a clock line before it");
        sim::SetVirtualTime(*sim::VirtualTime() + directive->advance);
        break;
      case Directive::Kind::kRamp: {
        if (directive->step_seconds > 0 && !sim::VirtualTime()) {
          return Fail(name, line, "ramp with ADVANCE needs a clock line before it");
        }
        cause.sample = static_cast<short>(aikorvane::kChannelSampleBase + directive->channel);
        for (long long i = 0; i < directive->count; ++i) {
          sim::SetAiReading(device_, directive->channel, RampReading(*directive, i));
          if (!RunRound(cause)) return false;
          if (directive->step_seconds > 0) {
            sim::SetVirtualTime(*sim::VirtualTime() + directive->step_seconds);
          }
        }
        break;
      }
    }
  }
  if (in.bad()) {
    error_ = "cannot read trace " + name + " to its end";
    return false;
  }
  return true;
}

}  // namespace sim::cli

namespace sim::cli {

bool Replayer::RunChannelRound(int channel, float reading, int line) {
  Cause cause;
  cause.line = line;
  cause.sample = static_cast<short>(aikorvane::kChannelSampleBase + channel);
  sim::SetAiReading(device_, channel, reading);
  return RunRound(cause);
}

bool Replayer::RunCsv(const std::string& path, const std::string& name, int channel) {
  CsvTrace csv;
  std::string message;
  int line = 0;
  if (!csv.Open(path, message, line)) {
    if (line == 0) {
      error_ = "cannot read " + name + ": " + message;
      return false;
    }
    return Fail(name, line, message);
  }
  for (CsvRow row;;) {
    if (!csv.Next(row, message, line)) {
      return message.empty() ? true : Fail(name, line, message);
    }
    sim::SetVirtualTime(row.time);
    if (!RunChannelRound(row.channel.value_or(channel), row.value, row.line)) return false;
  }
}

}  // namespace sim::cli
