#include "sim/replay/replay.h"

#include <json/reader.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "sim/framework/sim_framework.h"
#include "sim/host/bounded_read.h"
#include "sim/replay/csv_trace.h"
#include "sim/replay/trace.h"

namespace sim::cli {

bool ReadSettingsFile(const std::string& path, Json::Value& settings, std::string& error) {
  std::string text, why;
  if (!ReadBoundedFile(path, text, why)) {
    error = "cannot read settings " + path + ": " + why;
    return false;
  }
  const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &settings, &why)) {
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

bool Replayer::Fail(const std::string& where, int line, const std::string& message) {
  error_ = where + ":" + std::to_string(line) + ": " + message;
  run_.InputFailed(where, line, message);
  return false;
}

bool Replayer::Ran(bool ran) {
  if (!ran) error_ = run_.Error();
  return ran;
}

bool Replayer::Apply(const std::string& folder, const Directive& directive, const std::string& name,
                     int line) {
  const std::string path = (std::filesystem::path(folder) / directive.path).string();
  Json::Value settings;
  std::string message;
  if (!ReadSettingsFile(path, settings, message)) return Fail(name, line, message);
  Json::Value extra(Json::objectValue);
  extra["file"] = directive.path;
  extra["line"] = line;
  // The device keeps its earlier settings and the replay goes on.
  const SettingsOutcome outcome = run_.ApplySettings(settings, extra);
  if (!outcome.accepted) {
    const std::string warning = name + ":" + std::to_string(line) + ": settings " + directive.path +
                                " not applied: " + outcome.error;
    std::cerr << "aikorvane-sim: " << warning << std::endl;
    warnings_.push_back(warning);
  }
  return true;
}

bool Replayer::Run(const std::string& trace_path, const std::string& name) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(trace_path.c_str(), "rb"),
                                                             &std::fclose);
  if (!file) {
    error_ = "cannot read trace " + name + ": " + std::strerror(errno);
    return false;
  }
  const std::string folder = std::filesystem::path(trace_path).parent_path().string();
  std::string text;
  LineReader lines(file.get());
  for (LineReader::Status status; (status = lines.Next(text)) != LineReader::Status::kEnd;) {
    const int line = lines.Number();
    if (status == LineReader::Status::kTooLong) return Fail(name, line, LineTooLongText());
    if (status == LineReader::Status::kFailed) break;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    // A byte-order mark, as editors on Windows write it, is no directive.
    if (line == 1 && text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::optional<Directive> directive;
    std::string message;
    if (!ParseTraceLine(text, line, directive, message)) return Fail(name, line, message);
    if (!directive) continue;
    switch (directive->kind) {
      case Directive::Kind::kSample:
        if (!Ran(run_.SampleRound(directive->sample, line))) return false;
        break;
      case Directive::Kind::kAi:
        run_.SetReading(directive->channel, directive->reading);
        break;
      case Directive::Kind::kCache:
        if (!Ran(run_.CacheRound(directive->bytes, line))) return false;
        break;
      case Directive::Kind::kSettings:
        if (!Apply(folder, *directive, name, line)) return false;
        break;
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
      case Directive::Kind::kRamp:
        if (directive->step_seconds > 0 && !sim::VirtualTime()) {
          return Fail(name, line, "ramp with ADVANCE needs a clock line before it");
        }
        for (long long i = 0; i < directive->count; ++i) {
          const float reading = RampReading(*directive, i);
          if (!Ran(run_.ChannelRound(directive->channel, reading, line))) return false;
          if (directive->step_seconds > 0) {
            sim::SetVirtualTime(*sim::VirtualTime() + directive->step_seconds);
          }
        }
        break;
    }
  }
  if (std::ferror(file.get())) {
    error_ = "cannot read trace " + name + " to its end";
    return false;
  }
  return true;
}

bool Replayer::RunCsv(const std::string& path, const std::string& name, int channel,
                      BadRows bad_rows) {
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
    const CsvTrace::Status status = csv.Read(row, message, line);
    if (status == CsvTrace::Status::kEnd) return true;
    if (status == CsvTrace::Status::kBadRow && bad_rows == BadRows::kSkip) {
      skipped_.Add(name, line);
      continue;
    }
    if (status != CsvTrace::Status::kRow) return Fail(name, line, message);
    sim::SetVirtualTime(row.time);
    if (!Ran(run_.ChannelRound(row.channel.value_or(channel), row.value, row.line))) return false;
  }
}

}  // namespace sim::cli
