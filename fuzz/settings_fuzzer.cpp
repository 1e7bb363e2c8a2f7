// Fuzz target: the settings object and a threshold profile file.
//
// Input: a mode byte, a placement byte (which of the eight profile candidates
// the text is written to, none, or a directory in its place; the high bit
// asks for a second InitSetting), a data id byte, then JSON text up to the
// first NUL byte and the profile text after it. The device is configured in
// its own temporary working directory and then driven through a few rounds.

#include <json/reader.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "config/device_settings.h"
#include "fuzz/fuzz_support.h"

const char* const fuzz::kTargetName = "settings";

namespace {

// The profile search's candidates, in its order.
std::string Candidate(int index, unsigned int data_id, const std::string& carrier) {
  const std::string folder = index < 4 ? "ini/" : "ini/" + carrier + "/";
  const std::string stem = (index / 2) % 2 == 0 ? std::to_string(data_id) : "aikorvane";
  return folder + stem + (index % 2 == 0 ? ".yaml" : ".ini");
}

void PlaceProfile(uint8_t placement, unsigned int data_id, int mode, const std::string& text) {
  std::error_code ignored;
  std::filesystem::remove_all("ini", ignored);
  const int where = (placement & 0x7F) % 10;
  if (where == 8) return;
  const std::string carrier = aikorvane::config::CarrierName(mode);
  if (where == 9) {
    // A directory where a profile is expected: chosen, and unreadable.
    std::filesystem::create_directories(
        Candidate(1 + 2 * ((placement >> 4) % 4), data_id, carrier));
    return;
  }
  const std::filesystem::path path = Candidate(where, data_id, carrier);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Prepare();
  fuzz::PrivateWorkDir();
  fuzz::Reader in(data, size);
  const int mode = fuzz::kModes[in.Byte() % std::size(fuzz::kModes)];
  const uint8_t placement = in.Byte();
  const unsigned int data_id = in.Byte();
  const std::string rest = in.Rest();
  const size_t split = rest.find('\0');
  const std::string json_text = rest.substr(0, split);
  const std::string profile_text = split == std::string::npos ? "" : rest.substr(split + 1);

  // Text that is no JSON stands for a host that hands over null.
  Json::Value settings;
  Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  if (!reader->parse(json_text.data(), json_text.data() + json_text.size(), &settings, &errors)) {
    settings = Json::Value();
  }

  PlaceProfile(placement, data_id, mode, profile_text);
  sim::SetVirtualTime(1767225600);  // 2026-01-01
  fuzz::CheckedDevice checked(data_id);
  AIKorvane& device = checked.device;
  device.b_mode_ = mode;
  fuzz::ApplySettings(device, settings);
  if (placement & 0x80) fuzz::ApplySettings(device, settings);

  // Whatever the settings left behind, rounds must still complete.
  for (int channel = 0; channel < 4; ++channel) sim::SetAiReading(device, channel, 12.0f);
  checked.Process(5000);
  sim::SetVirtualTime(1767225601);
  checked.Process(20001);
  const AIKorvane_Data_t record = device.data_;
  checked.LoadFromCache(reinterpret_cast<const uint8_t*>(&record), sizeof record);
  sim::SetVirtualTime(std::nullopt);
  return 0;
}
