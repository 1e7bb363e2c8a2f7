#pragma once

// What makes a backtest's run, recorded in each of its documents, so that
// shards are merged only with shards of the same run: the candidate, the
// plug-in's build, the time zone, the policy for bad rows, the shard and
// the whole fleet's site names.

#include <json/value.h>

#include <filesystem>
#include <string>
#include <vector>

namespace sim::cli {

// SHA-256 of bytes, as 64 lower-case hex digits.
std::string Sha256Hex(const std::string& bytes);

// "sha256:HEX" of the patch's canonical text (members sorted, no spaces),
// so that a patch formatted otherwise is still the same candidate.
std::string PatchHash(const Json::Value& patch);

// "sha256:HEX" of a folder's files: each one's path below the folder, its
// size and its bytes, by path. False with why when a file cannot be read.
bool FolderHash(const std::filesystem::path& folder, std::string& hash, std::string& error);

// The GNU build id of an ELF file as hex; empty with why when it has none.
std::string BuildId(const std::filesystem::path& file, std::string& error);

// What a side's build of the plug-in tells of itself.
struct PluginRecord {
  std::string path;
  std::string build_id;
  std::string version;       // empty: the build reports none (null in JSON)
  std::string layout_error;  // why its devices' state cannot be read; empty when it can
};

// The record of the plug-in at path; false with why when it has no build id.
bool DescribePlugin(const std::filesystem::path& path, const std::string& layout_error,
                    PluginRecord& record, std::string& error);
Json::Value PluginJson(const PluginRecord& plugin);

struct RunRecord {
  std::string candidate;  // PatchHash or FolderHash
  PluginRecord baseline_plugin, candidate_plugin;
  std::string time_zone;  // TZ as the run used it
  std::string bad_rows;   // what the run did with a row it could not read
  int shard_index = 1, shard_count = 1;
  std::vector<std::string> sites;  // the whole fleet's, sorted, before the shard's share
};

Json::Value RunJson(const RunRecord& run);

// Reads shard documents into the document of the whole run. Refused, with
// the files named: a file that is no backtest document, documents of
// different runs, a shard missing or given twice, a site found twice.
// plots: the SVG plots the shards carry, by site.
bool MergeDocuments(const std::vector<std::string>& paths, Json::Value& document,
                    std::vector<std::pair<std::string, std::string>>& plots, std::string& error);

}  // namespace sim::cli
