#include "sim/backtest/run_record.h"

#include <json/reader.h>
#include <json/writer.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "plugin/device_layout.h"
#include "sim/backtest/document.h"
#include "sim/backtest/html_report.h"
#include "sim/host/bounded_read.h"
#include "sim/host/elf_section.h"

namespace sim::cli {
namespace fs = std::filesystem;
namespace {

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

// A digest fed piece by piece, so that a folder of any size is hashed in
// fixed memory.
class Sha256 {
 public:
  Sha256() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
      throw std::runtime_error("SHA-256 is not available");
    }
  }
  ~Sha256() { EVP_MD_CTX_free(context_); }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Add(const char* bytes, size_t size) { EVP_DigestUpdate(context_, bytes, size); }
  void Add(const std::string& bytes) { Add(bytes.data(), bytes.size()); }
  // The file's bytes; false when it cannot be read to its end.
  bool AddFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    char buffer[1 << 16];
    while (in) {
      in.read(buffer, sizeof buffer);
      Add(buffer, static_cast<size_t>(in.gcount()));
    }
    return in.eof() && !in.bad();
  }
  std::string Hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context_, digest, &size);
    return sim::cli::Hex(digest, size);
  }

 private:
  EVP_MD_CTX* context_;
};

uint32_t Word(const std::string& bytes, size_t at) {
  uint32_t word = 0;
  for (int i = 3; i >= 0; --i) word = word << 8 | static_cast<unsigned char>(bytes[at + i]);
  return word;
}

bool ParseShardText(const std::string& text, int& index, int& count) {
  char tail = 0;
  return std::sscanf(text.c_str(), "%d/%d%c", &index, &count, &tail) == 2 && count >= 1 &&
         index >= 1 && index <= count;
}

// The run with its shard left out: what every shard of one run shares.
Json::Value RunOfFleet(Json::Value run) {
  run.removeMember("shard");
  // A build is the same build wherever a shard's machine keeps it.
  for (const char* side : {"baseline", "candidate"}) {
    if (run["plugins"][side].isObject()) run["plugins"][side].removeMember("path");
  }
  return run;
}

// The first member in which two runs differ, for the refusal.
std::string Differing(const Json::Value& a, const Json::Value& b) {
  std::vector<std::string> names = a.getMemberNames();
  for (const std::string& name : b.getMemberNames()) names.push_back(name);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (a[name] != b[name]) return name;
  }
  return {};
}

bool ReadDocument(const std::string& path, Json::Value& shard, int& index, int& count,
                  std::string& error) {
  std::string text, reason;
  // A shard's document carries its sites' plots: larger than a settings file.
  if (!ReadBoundedFile(path, text, reason, kMaxShardDocumentBytes)) {
    error = path + ": cannot be read: " + reason;
    return false;
  }
  Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &shard, &reason)) {
    error = path + ": not JSON: " + reason;
    return false;
  }
  if (!shard.isObject() || !shard["sites"].isArray()) {
    error = path + ": not a backtest document (no \"sites\" array)";
    return false;
  }
  if (!shard["run"].isObject() || !ParseShardText(shard["run"]["shard"].asString(), index, count)) {
    error = path +
            ": no record of its run (\"run\" with its \"shard\"): written by an older "
            "aikorvane-sim? Run the shard again";
    return false;
  }
  return true;
}

// Every shard of one run, each once; false naming the files otherwise.
bool CheckShards(const std::vector<std::string>& paths, const std::vector<Json::Value>& runs,
                 const std::vector<int>& indexes, const std::vector<int>& counts,
                 std::string& error) {
  const int count = counts[0];
  std::map<int, std::string> given;
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string member = Differing(RunOfFleet(runs[0]), RunOfFleet(runs[i]));
    if (!member.empty()) {
      error = paths[0] + " and " + paths[i] + " are documents of different runs (their \"" +
              member + "\" differs)";
      return false;
    }
    const std::string shard = std::to_string(indexes[i]) + "/" + std::to_string(count);
    if (counts[i] != count) {
      error = paths[0] + " and " + paths[i] + " are shards of different counts";
      return false;
    }
    const auto [at, fresh] = given.emplace(indexes[i], paths[i]);
    if (!fresh) {
      error = at->second + " and " + paths[i] + " are both shard " + shard;
      return false;
    }
  }
  for (int index = 1; index <= count; ++index) {
    if (given.count(index) == 0) {
      error =
          "shard " + std::to_string(index) + "/" + std::to_string(count) + " is missing (given:";
      for (const auto& entry : given) error += " " + entry.second;
      error += ")";
      return false;
    }
  }
  return true;
}

}  // namespace

std::string Sha256Hex(const std::string& bytes) {
  Sha256 digest;
  digest.Add(bytes);
  return digest.Hex();
}

std::string PatchHash(const Json::Value& patch) {
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "";
  writer["emitUTF8"] = true;
  return "sha256:" + Sha256Hex(Json::writeString(writer, patch));
}

bool FolderHash(const fs::path& folder, std::string& hash, std::string& error) {
  std::vector<std::pair<std::string, fs::path>> files;
  std::error_code failure;
  for (fs::recursive_directory_iterator it(folder, failure), end; !failure && it != end;
       it.increment(failure)) {
    if (it->is_regular_file(failure)) {
      files.emplace_back(fs::relative(it->path(), folder).generic_string(), it->path());
    }
  }
  if (failure) {
    error = folder.string() + ": " + failure.message();
    return false;
  }
  std::sort(files.begin(), files.end());
  Sha256 digest;
  for (const auto& [name, path] : files) {
    std::error_code size_failure;
    const auto size = fs::file_size(path, size_failure);
    digest.Add(name + '\0' + std::to_string(size_failure ? 0 : size) + '\0');
    if (size_failure || !digest.AddFile(path)) {
      error = path.string() + ": cannot be read";
      return false;
    }
  }
  hash = "sha256:" + digest.Hex();
  return true;
}

std::string BuildId(const fs::path& file, std::string& error) {
  std::string note;
  error = ReadElfSection(file.string(), ".note.gnu.build-id", note);
  if (!error.empty()) return {};
  // namesz, descsz, type, then the name "GNU\0" padded to 4 bytes, then the id.
  if (note.size() < 12) {
    error = file.string() + ": a build-id note too short";
    return {};
  }
  const uint32_t name_size = Word(note, 0), id_size = Word(note, 4);
  const size_t at = 12 + (name_size + 3) / 4 * 4;
  if (at + id_size > note.size() || id_size == 0) {
    error = file.string() + ": a build-id note cut short";
    return {};
  }
  return Hex(reinterpret_cast<const unsigned char*>(note.data()) + at, id_size);
}

bool DescribePlugin(const fs::path& path, const std::string& layout_error, PluginRecord& record,
                    std::string& error) {
  record.path = path.string();
  record.layout_error = layout_error;
  record.build_id = BuildId(path, error);
  if (record.build_id.empty()) {
    error = path.string() + ": no GNU build id: " + error;
    return false;
  }
  std::string version;
  if (ReadElfSection(path.string(), AIKORVANE_VERSION_SECTION, version).empty()) {
    // Kept with its terminating NUL; a section of other bytes is no version.
    version = version.substr(0, version.find('\0'));
    const bool printable =
        std::all_of(version.begin(), version.end(), [](char c) { return c > ' ' && c < 0x7f; });
    if (printable) record.version = version;
  }
  return true;
}

Json::Value PluginJson(const PluginRecord& plugin) {
  Json::Value json(Json::objectValue);
  json["path"] = plugin.path;
  json["build_id"] = plugin.build_id;
  json["version"] = plugin.version.empty() ? Json::Value() : Json::Value(plugin.version);
  // Whether the device's state (thresholds, default channel, the check) is read.
  json["state_read"] = plugin.layout_error.empty();
  return json;
}

Json::Value RunJson(const RunRecord& run) {
  Json::Value json(Json::objectValue);
  json["candidate"] = run.candidate;
  Json::Value& plugins = json["plugins"] = Json::Value(Json::objectValue);
  plugins["baseline"] = PluginJson(run.baseline_plugin);
  plugins["candidate"] = PluginJson(run.candidate_plugin);
  json["tz"] = run.time_zone;
  json["bad_rows"] = run.bad_rows;
  json["shard"] = std::to_string(run.shard_index) + "/" + std::to_string(run.shard_count);
  Json::Value& sites = json["sites"] = Json::Value(Json::arrayValue);
  for (const std::string& site : run.sites) sites.append(site);
  return json;
}

bool MergeDocuments(const std::vector<std::string>& paths, Json::Value& document,
                    std::vector<std::pair<std::string, std::string>>& plots, std::string& error) {
  std::vector<Json::Value> sites, runs;
  std::vector<int> indexes, counts;
  PlotKeeper keeper;
  for (const std::string& path : paths) {
    Json::Value shard;
    int index = 0, count = 0;
    if (!ReadDocument(path, shard, index, count, error)) return false;
    for (const Json::Value& site : shard["sites"]) sites.push_back(site);
    for (const Json::Value& site : shard["sites"]) {
      const std::string name = site["site"].asString();
      if (shard["plots"][name].isString()) {
        keeper.Add(ChangeSize(site), name, shard["plots"][name].asString());
      }
    }
    runs.push_back(shard["run"]);
    indexes.push_back(index);
    counts.push_back(count);
  }
  if (!CheckShards(paths, runs, indexes, counts, error)) return false;
  if (!MakeDocument(std::move(sites), document, error)) return false;
  Json::Value names(Json::arrayValue);
  for (const Json::Value& site : document["sites"]) names.append(site["site"]);
  if (names != runs[0]["sites"]) {
    error = "the shards hold " + std::to_string(names.size()) + " sites, their run " +
            std::to_string(runs[0]["sites"].size()) + " (a document cut short?):";
    for (const std::string& path : paths) error += " " + path;
    return false;
  }
  Json::Value run = runs[0];
  run["shard"] = "1/1";
  document["run"] = run;
  plots = keeper.Plots();
  return true;
}

}  // namespace sim::cli
