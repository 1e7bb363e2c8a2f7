#include "sim/host/device_run.h"

#include <climits>
#include <ctime>
#include <utility>

#include "config/device_contract.h"
#include "sim/framework/sim_framework.h"
#include "sim/host/plugin_host.h"

namespace sim::cli {

RunListener::~RunListener() = default;

// The framework's side of the run: its calls, JSON events or typed, decoded
// once and handed on.
class DeviceRun::Sink : public sim::EventSink {
 public:
  explicit Sink(DeviceRun& run) : run_(run) {}

  bool WantsEvents() const override { return run_.detailed_; }

  void Record(const OSKVDevice&, Json::Value event) override {
    const std::string kind = event["event"].asString();
    if (kind == "SendSP") {
      const auto record = DecodeRecord(event["bytes"].asString());
      if (record) event["record"] = RecordJson(*record);
      run_.Dispatch([&](RunListener& listener) {
        listener.FrameworkCall(event);
        if (record) listener.RecordSent(*record);
      });
    } else if (kind == "CheckThresholdBool") {
      const auto alarm = AlarmOf(event);
      run_.Dispatch([&](RunListener& listener) {
        listener.FrameworkCall(event);
        if (alarm) listener.AlarmChecked(*alarm);
      });
    } else if (kind == "CheckAOReport") {
      const std::string signal = event["signal"].asString();
      const double value = event["value"].asDouble();
      run_.Dispatch([&](RunListener& listener) {
        listener.FrameworkCall(event);
        listener.ValueReported(signal, value);
      });
    } else {
      run_.Dispatch([&](RunListener& listener) { listener.FrameworkCall(event); });
    }
  }

  void RecordSent(const OSKVDevice&, const unsigned char* bytes, unsigned long length) override {
    const auto record = DecodeRecord(bytes, length);
    if (!record) return;
    run_.Dispatch([&](RunListener& listener) { listener.RecordSent(*record); });
  }

  void AlarmChecked(const OSKVDevice&, const std::string& first, const std::string& second,
                    const std::string& third, bool condition) override {
    const AlarmCall call = AlarmOf(first, second, third, condition);
    run_.Dispatch([&](RunListener& listener) { listener.AlarmChecked(call); });
  }

  void ValueReported(const OSKVDevice&, const std::string& signal, float value) override {
    run_.Dispatch([&](RunListener& listener) { listener.ValueReported(signal, value); });
  }

 private:
  DeviceRun& run_;
};

DeviceRun::DeviceRun(std::vector<RunListener*> listeners)
    : listeners_(std::move(listeners)), sink_(std::make_shared<Sink>(*this)) {
  for (const RunListener* listener : listeners_) detailed_ = detailed_ || listener->WantsEvents();
}

DeviceRun::~DeviceRun() {
  if (owned_) {
    owned_.reset();
  } else if (device_ != nullptr) {
    sim::SetSink(*device_, nullptr);
  }
}

template <typename Call>
void DeviceRun::Dispatch(Call&& call) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (RunListener* listener : listeners_) call(*listener);
}

bool DeviceRun::Make(Host& host, unsigned int data_id, const Json::Value& settings,
                     std::string& error, const LoadedPlugin* from) {
  owned_ = host.NewDevice(data_id, settings, sink_, error, from);
  device_ = owned_.get();
  return device_ != nullptr;
}

void DeviceRun::Release() {
  if (!owned_) return;
  owned_.reset();
  device_ = nullptr;
}

void DeviceRun::Attach(OSKAIDevice& device) {
  device_ = &device;
  sim::SetSink(device, sink_);
}

SettingsOutcome DeviceRun::ApplySettings(const Json::Value& settings, const Json::Value& extra) {
  SettingsOutcome outcome;
  try {
    outcome.accepted = device_->InitSetting(settings);
    if (!outcome.accepted) {
      outcome.raw = sim::LastSettingsError(*device_);
      outcome.error = outcome.raw.empty() ? "the framework refused the settings" : outcome.raw;
    }
  } catch (const std::exception& thrown) {
    outcome.threw = true;
    outcome.raw = outcome.error = thrown.what();
  } catch (...) {
    outcome.threw = true;
    outcome.raw = outcome.error = "unknown exception";
  }
  Dispatch([&](RunListener& listener) { listener.Configured(outcome, extra); });
  return outcome;
}

void DeviceRun::SetReading(int channel, float reading) {
  sim::SetAiReading(*device_, channel, reading);
}

void DeviceRun::Catch(const char* what) {
  try {
    throw;
  } catch (const std::exception& thrown) {
    thrown_ = thrown.what();
    error_ = std::string(what) + " threw: " + thrown_;
  } catch (...) {
    thrown_ = "unknown exception";
    error_ = std::string(what) + " threw an unknown exception";
  }
}

bool DeviceRun::RunRound(const RoundCause& cause) {
  error_.clear();
  thrown_.clear();
  round_ = round_ < INT_MAX ? round_ + 1 : INT_MAX;
  // time() is the virtual clock's while one is set.
  const RoundBegin begin{round_, std::time(nullptr), sim::VirtualTime().has_value(), cause};
  Dispatch([&](RunListener& listener) { listener.RoundBegun(begin); });
  if (cause.cache == nullptr) {
    try {
      const double value = CallProcess(*device_, cause.sample);
      Dispatch([&](RunListener& listener) { listener.RoundResult(value); });
    } catch (...) {
      Catch("process");
    }
  } else {
    const std::vector<unsigned char>& bytes = *cause.cache;
    // A valid pointer even for an empty record.
    static const unsigned char kNothing = 0;
    try {
      const bool accepted = device_->LoadFromCache(bytes.empty() ? &kNothing : bytes.data(),
                                                   static_cast<int>(bytes.size()));
      Dispatch([&](RunListener& listener) { listener.CacheLoaded(accepted); });
    } catch (...) {
      Catch("LoadFromCache");
    }
  }
  if (report_source_) {
    for (const Json::Value& report : report_source_()) Received(report);
  }
  return FinishRound(cause.cache == nullptr ? "process" : "LoadFromCache");
}

bool DeviceRun::FinishRound(const char* where) {
  if (!error_.empty()) {
    // A round that threw ends with its error instead of the published values.
    const RunError error{where, "", 0, error_};
    Dispatch([&](RunListener& listener) {
      listener.Failed(error);
      listener.RoundEnded();
    });
    return false;
  }
  bool wanted = false;
  for (const RunListener* listener : listeners_) wanted = wanted || listener->WantsPublished();
  if (wanted) {
    const Json::Value values = PublishedValues(*device_);
    if (!values.isNull()) Dispatch([&](RunListener& listener) { listener.Published(values); });
  }
  Dispatch([](RunListener& listener) { listener.RoundEnded(); });
  return true;
}

bool DeviceRun::SampleRound(short sample, int line) {
  RoundCause cause;
  cause.line = line;
  cause.sample = sample;
  return RunRound(cause);
}

bool DeviceRun::ChannelRound(int channel, float reading, int line) {
  SetReading(channel, reading);
  return SampleRound(static_cast<short>(aikorvane::kChannelSampleBase + channel), line);
}

bool DeviceRun::CacheRound(const std::vector<unsigned char>& bytes, int line) {
  RoundCause cause;
  cause.line = line;
  cause.cache = &bytes;
  return RunRound(cause);
}

void DeviceRun::InputFailed(const std::string& file, int line, const std::string& message) {
  const RunError error{"trace", file, line, message};
  Dispatch([&](RunListener& listener) { listener.Failed(error); });
}

void DeviceRun::Received(const Json::Value& request) {
  Dispatch([&](RunListener& listener) { listener.DischargeReported(request); });
}

void DeviceRun::SetReportSource(std::function<std::vector<Json::Value>()> source) {
  report_source_ = std::move(source);
}

void ReportInbox::Received(Json::Value request) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (run_ != nullptr) run_->Received(request);
}

void ReportInbox::Attach(DeviceRun* run) {
  std::lock_guard<std::mutex> lock(mutex_);
  run_ = run;
}

}  // namespace sim::cli
