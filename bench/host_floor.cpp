#include "bench/host_floor.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>

#include "sim/framework/sim_framework.h"

namespace bench {

namespace {

std::vector<unsigned char> Bytes(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

std::vector<HostCall> RecordCalls(AIKorvane& device, const std::function<void()>& round) {
  auto sink = std::make_shared<sim::RecordingSink>();
  sim::SetSink(device, sink);
  round();
  sim::SetSink(device, nullptr);
  std::vector<HostCall> calls;
  for (const Json::Value& event : sink->Events()) {
    const std::string name = event["event"].asString();
    HostCall call{};
    if (name == "SendSP") {
      call.kind = HostCall::kSendSP;
      call.number = event["code"].asInt();
      call.flag = event["flag"].asBool();
      call.bytes = Bytes(event["bytes"].asString());
    } else if (name == "Reset") {
      call.kind = HostCall::kReset;
    } else if (name == "ReadAi") {
      call.kind = HostCall::kReadAi;
      call.number = event["channel"].asInt();
    } else if (name == "CheckThreshold") {
      call.kind = HostCall::kCheckThreshold;
      call.texts[0] = event["id"].asString();
      call.texts[1] = event["name"].asString();
      call.value = event["value"].asFloat();
      call.number = event["flag"].asInt();
    } else if (name == "CheckThresholdBool") {
      call.kind = HostCall::kCheckThresholdBool;
      call.number = event["level"].asInt();
      for (Json::ArrayIndex i = 0; i < 4; ++i) call.texts[i] = event["texts"][i].asString();
      call.flag = event["condition"].asBool();
      call.flags = static_cast<unsigned short>(event["flags"].asUInt());
    } else if (name == "CheckAOReport") {
      call.kind = HostCall::kCheckAOReport;
      call.texts[0] = event["signal"].asString();
      call.value = event["value"].asFloat();
    } else if (name == "DoBatchCheckThreshold") {
      call.kind = HostCall::kDoBatchCheckThreshold;
    } else if (name == "SaveDeviceHistory") {
      call.kind = HostCall::kSaveDeviceHistory;
      call.bytes = Bytes(event["bytes"].asString());
    } else {
      throw std::runtime_error("no replay for the framework call " + name);
    }
    calls.push_back(std::move(call));
  }
  return calls;
}

void MakeCalls(AIKorvane& device, const std::vector<HostCall>& calls) {
  benchmark::DoNotOptimize(get_ttime(device.update_time_));
  for (const HostCall& call : calls) {
    switch (call.kind) {
      case HostCall::kSendSP:
        device.SendSP(call.number, call.bytes.data(), call.bytes.size(), call.flag);
        break;
      case HostCall::kReset:
        device.Reset();
        break;
      case HostCall::kReadAi:
        benchmark::DoNotOptimize(device.ReadAi(call.number));
        break;
      case HostCall::kCheckThreshold:
        device.CheckThreshold(call.texts[0], call.texts[1], call.value, call.number);
        break;
      case HostCall::kCheckThresholdBool:
        device.CheckThresholdBool(call.number, call.texts[0], call.texts[1], call.texts[2],
                                  call.texts[3], call.flag, call.flags);
        break;
      case HostCall::kCheckAOReport:
        device.OSKVDevice::CheckAOReport(call.texts[0], call.value);
        break;
      case HostCall::kDoBatchCheckThreshold:
        device.DoBatchCheckThreshold(device.rule_values_);
        break;
      case HostCall::kSaveDeviceHistory:
        device.SaveDeviceHistory(call.bytes.data(), call.bytes.size());
        break;
    }
  }
  device.rule_values_.clear();
}

std::vector<std::string> ReadNames(const AIKorvane& device) {
  std::vector<std::string> names;
  switch (device.b_mode_) {
    case 1:
      for (const auto& entry : device.ai_signals_) names.push_back(entry.first);
      break;
    case 3:
      // The data name is the rule key up to its first "_".
      for (const auto& entry : device.alarm_rules_) {
        names.push_back(entry.first.substr(0, entry.first.find('_')));
      }
      break;
    case 5:
      for (const auto* table : {&device.up_thresholds_, &device.up2_thresholds_,
                                &device.low_thresholds_, &device.low2_thresholds_}) {
        for (const auto& entry : *table) names.push_back(entry.first);
      }
      break;
    default:
      break;
  }
  return names;
}

void ReadMembers(const Json::Value& published, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const Json::Value* member = published.find(name.data(), name.data() + name.size());
    benchmark::DoNotOptimize(member);
  }
}

}  // namespace bench
