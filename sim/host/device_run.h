#pragma once

// One device driven round by round: made and configured, fed samples,
// channel readings and cache records, each round stamped with its number and
// the clock's time. Everything the device does, and every discharge report
// the receiver answers meanwhile, goes to the run's listeners through one
// dispatch. Replays, site tests and backtests all drive their devices
// through this.

#include <json/value.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/host/receiver.h"
#include "sim/host/run_listener.h"
#include "sim/host/session.h"

namespace sim::cli {

class DeviceRun {
 public:
  // The listeners must outlive the run; their wishes (WantsEvents) are read
  // here once.
  explicit DeviceRun(std::vector<RunListener*> listeners);
  ~DeviceRun();
  DeviceRun(const DeviceRun&) = delete;
  DeviceRun& operator=(const DeviceRun&) = delete;

  // A new device of the host's plug-in (Host::NewDevice); false with why.
  // from: the host's plug-in to make it of (null: the one loaded).
  bool Make(Host& host, unsigned int data_id, const Json::Value& settings, std::string& error,
            const LoadedPlugin* from = nullptr);
  // Drives a device made elsewhere, which must outlive the run.
  void Attach(OSKAIDevice& device);
  OSKAIDevice* device() const { return device_; }
  // Destroys a device the run made (its destructor may still write lines
  // the caller captures); the run then drives none.
  void Release();

  // InitSetting, its outcome handed to the listeners with extra.
  SettingsOutcome ApplySettings(const Json::Value& settings,
                                const Json::Value& extra = Json::Value(Json::objectValue));
  // From now on ReadAi(channel) returns reading.
  void SetReading(int channel, float reading);

  // One round each; false when the device threw (the reason in Error()).
  bool SampleRound(short sample, int line = 0);
  // process(kChannelSampleBase + channel) with ReadAi(channel) returning reading.
  bool ChannelRound(int channel, float reading, int line = 0);
  bool CacheRound(const std::vector<unsigned char>& bytes, int line = 0);
  // Input that could not be read at file:line; told to the listeners.
  void InputFailed(const std::string& file, int line, const std::string& message);

  // A request the receiver answered, on the receiver's thread.
  void Received(const Json::Value& request);
  // Reports routed to this device elsewhere, taken after each round's
  // device call and before its end.
  void SetReportSource(std::function<std::vector<Json::Value>()> source);

  int Rounds() const { return round_; }
  // Why the last round failed: "process threw: ..." (empty when it ran).
  const std::string& Error() const { return error_; }
  // What the device threw in it, as it said it.
  const std::string& Thrown() const { return thrown_; }

 private:
  class Sink;
  template <typename Call>
  void Dispatch(Call&& call);
  bool RunRound(const RoundCause& cause);
  // Ends a round that ran `where`, with its error if it threw.
  bool FinishRound(const char* where);
  void Catch(const char* what);

  std::vector<RunListener*> listeners_;
  bool detailed_ = false;
  std::shared_ptr<Sink> sink_;
  std::unique_ptr<OSKAIDevice> owned_;
  OSKAIDevice* device_ = nullptr;
  std::function<std::vector<Json::Value>()> report_source_;
  std::mutex mutex_;  // the receiver's thread dispatches too
  int round_ = 0;
  std::string error_, thrown_;
};

// The receiver's requests to the run that is on (none: dropped), for a
// host whose one receiver serves one device run after another.
class ReportInbox : public RequestSink {
 public:
  void Received(Json::Value request) override;
  // null: none.
  void Attach(DeviceRun* run);

 private:
  std::mutex mutex_;
  DeviceRun* run_ = nullptr;
};

// Attaches a run to an inbox for its lifetime.
class InboxAttachment {
 public:
  InboxAttachment(ReportInbox* inbox, DeviceRun& run) : inbox_(inbox) {
    if (inbox_ != nullptr) inbox_->Attach(&run);
  }
  ~InboxAttachment() {
    if (inbox_ != nullptr) inbox_->Attach(nullptr);
  }
  InboxAttachment(const InboxAttachment&) = delete;
  InboxAttachment& operator=(const InboxAttachment&) = delete;

 private:
  ReportInbox* inbox_;
};

}  // namespace sim::cli
