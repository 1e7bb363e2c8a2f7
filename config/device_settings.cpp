#include "config/device_settings.h"

#include <unistd.h>

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstdlib>
#include <iostream>

#include "config/device_contract.h"
#include "config/setting_keys.h"

namespace aikorvane::config {
namespace {

bool EndsWith(const std::string& text, const char* suffix) {
  const std::string tail(suffix);
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Splits at the first comma; without one, the whole value is both parts.
std::pair<std::string, std::string> SplitAtComma(const std::string& value) {
  const auto comma = value.find(',');
  if (comma == std::string::npos) return {value, value};
  return {value.substr(0, comma), value.substr(comma + 1)};
}

void LoadThresholdEntry(const Json::Value& record, const std::string& key, const std::string& id,
                        const char* limit_key, const char* recovery_key, const char* level_key,
                        const char* suffix, ThresholdTable& table) {
  const Json::Value& limit = record[limit_key];
  if (limit.isNull()) return;
  const Json::Value& recovery = record[recovery_key];
  if (recovery.isNull()) return;
  const Json::Value& level = record[level_key];
  if (level.isNull()) return;
  const std::string limit_text = limit.asString();
  if (limit_text.empty()) return;
  const std::string recovery_text = recovery.asString();
  if (recovery_text.empty()) return;
  const std::string level_text = level.asString();
  if (level_text.empty()) return;
  table[key] = ThresholdEntry(id + suffix, static_cast<float>(std::atof(limit_text.c_str())),
                              static_cast<float>(std::atof(recovery_text.c_str())), false,
                              std::atoi(level_text.c_str()));
}

}  // namespace

const Json::Value& SettingsMember(const Json::Value& settings, const char* key) {
  return settings.isObject() ? settings[key] : Json::Value::nullSingleton();
}

const char* CarrierName(int b_mode) {
  const aikorvane::ModeReads* reads = aikorvane::ModeOf(b_mode);
  return reads != nullptr ? reads->carrier : aikorvane::kDefaultCarrier;
}

void ReadOperatingMode(const Json::Value& settings, unsigned int data_id, int& b_mode) {
  const Json::Value& app = SettingsMember(settings, kAppSetting);
  if (app.isNull() || !app.isObject()) return;
  const Json::Value& mode = app[kOperatingMode];
  if (mode.isNull()) return;
  b_mode = std::atoi(mode.asString().c_str());
  std::cout << "InitSetting " << data_id << " b_mode_:" << b_mode << std::endl;
}

std::string FindProfile(unsigned int data_id, const std::string& model,
                        const std::string& carrier) {
  const std::string id = std::to_string(data_id);
  const std::string top = "./ini/";
  const std::string sub = top + carrier + "/";
  const std::string candidates[] = {
      top + id + kYamlSuffix,    top + id + kIniSuffix,    top + model + kYamlSuffix,
      top + model + kIniSuffix,  sub + id + kYamlSuffix,   sub + id + kIniSuffix,
      sub + model + kYamlSuffix, sub + model + kIniSuffix,
  };
  for (const std::string& path : candidates) {
    std::cout << kTestedLine << path << std::endl;
    if (::access(path.c_str(), F_OK) == 0) return path;
  }
  std::cout << "data_id:" << data_id << " model:" << model << " b ini not found" << std::endl;
  return {};
}

void LoadProfile(const std::string& path, int b_mode, unsigned int data_id,
                 AiSignalTable& ai_signals, TextTable& alarm_rules) {
  // No YAML reader is part of the device: a ".yaml" profile is chosen but
  // contributes nothing.
  if (EndsWith(path, kIniSuffix)) {
    boost::property_tree::ptree tree;
    boost::property_tree::read_ini(path, tree);
    if (IsMode(b_mode, OperatingMode::kUnicom)) {
      for (const auto& line : tree.get_child("AI")) {
        ai_signals[line.first] = SplitAtComma(line.second.data());
      }
      for (const auto& line : tree.get_child("ALARM")) {
        alarm_rules[line.first] = SplitAtComma(line.second.data()).first;
      }
    } else if (IsMode(b_mode, OperatingMode::kMobile)) {
      for (const auto& line : tree.get_child("ALARM")) {
        alarm_rules[line.first] = line.second.data();
      }
    }
  }
  std::cout << "AI " << data_id << std::endl;
  for (const auto& [key, signal] : ai_signals) {
    std::cout << "first:" << key << " second:" << signal.first << " name:" << signal.second
              << std::endl;
  }
}

void LoadAlarmRecords(const Json::Value& settings, unsigned int data_id,
                      TextTable& alarm_signal_names, TextTable& alarm_report_prefix,
                      std::map<std::string, int>& alarm_levels,
                      std::map<std::string, float>& alarm_values) {
  std::cout << "here 1" << std::endl;
  const Json::Value& records = SettingsMember(settings, kThresholdSetting);
  // Anything but an object has no alarm ids to offer: treat it as absent.
  if (records.isNull() || !records.isObject()) return;
  std::cout << "here 2" << std::endl;
  static const std::pair<const char*, const char*> kPrefixParts[] = {
      {kAlarmPrefixParts[0], " NMAlarmID is missing"},
      {kAlarmPrefixParts[1], " ID is missing"},
      {kAlarmPrefixParts[2], " SignalNumber is missing"},
  };
  for (auto it = records.begin(); it != records.end(); ++it) {
    const std::string key = it.name();
    std::cout << "here " << key << std::endl;
    const Json::Value& record = *it;
    if (!record.isObject()) continue;
    const Json::Value& signal_name = record[kSignalName];
    if (!signal_name.isNull()) alarm_signal_names[key] = signal_name.asString();
    std::string prefix;
    for (const auto& [part, missing] : kPrefixParts) {
      const Json::Value& value = record[part];
      if (!value.isNull()) {
        prefix += value.asString();
      } else {
        std::cout << data_id << missing << std::endl;
      }
      prefix += ";";
    }
    std::cout << "mobile:" << key << ":" << prefix << " level:" << alarm_levels[key]
              << " value:" << alarm_values[key] << std::endl;
    alarm_report_prefix[key] = prefix;
  }
}

void LoadLimitRecords(const Json::Value& settings, ThresholdTable& up, ThresholdTable& up2,
                      ThresholdTable& low, ThresholdTable& low2) {
  up.clear();
  up2.clear();
  low.clear();
  low2.clear();
  const Json::Value& records = SettingsMember(settings, kThresholdSetting);
  if (records.isNull() || !records.isObject()) return;
  for (const Json::Value& record : records) {
    if (!record.isObject()) continue;
    const Json::Value& id_value = record[kRecordId];
    if (id_value.isNull()) continue;
    const std::string id = id_value.asString();
    if (id.empty()) continue;
    const Json::Value& name_value = record[kSignalName];
    if (name_value.isNull()) continue;
    const std::string name = name_value.asString();
    if (name.empty()) continue;
    ThresholdTable* const tables[] = {&up, &up2, &low, &low2};
    for (std::size_t i = 0; i < 4; ++i) {
      const LimitFamily& family = kLimitFamilies[i];
      LoadThresholdEntry(record, name, id, family.limit, family.recovery, family.level,
                         family.suffix, *tables[i]);
    }
  }
}

}  // namespace aikorvane::config
