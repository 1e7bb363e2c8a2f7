// The table of the device's own keys: every member written by exactly one
// key, each key's text parsed into its own member only, and the table's
// lookups as the check uses them.

#include <gtest/gtest.h>
#include <json/value.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "config/channel_settings.h"
#include "config/setting_keys.h"

namespace {

namespace config = aikorvane::config;
using config::ChannelSettings;

// The bytes of the struct that differ between two copies.
std::set<size_t> ChangedBytes(const ChannelSettings& a, const ChannelSettings& b) {
  unsigned char ba[sizeof a], bb[sizeof b];
  std::memcpy(ba, &a, sizeof a);
  std::memcpy(bb, &b, sizeof b);
  std::set<size_t> changed;
  for (size_t i = 0; i < sizeof a; ++i) {
    if (ba[i] != bb[i]) changed.insert(i);
  }
  return changed;
}

ChannelSettings ReadOne(const char* key, const Json::Value& value) {
  Json::Value settings;
  settings[config::kAppSetting][key] = value;
  ChannelSettings read;
  config::ReadChannelSettings(settings, read);
  return read;
}

// 7 is no default of any member and no coordinate that completes a segment
// alone, so reading it changes the key's member and its follower only.
TEST(ChannelKeys, EachKeyWritesItsOwnMemberOnly) {
  std::set<size_t> written;
  for (const config::ChannelKey& key : config::kChannelKeys) {
    const std::set<size_t> changed = ChangedBytes(ChannelSettings{}, ReadOne(key.name, 7));
    EXPECT_FALSE(changed.empty()) << key.name << " changes nothing";
    const size_t expected = key.parse == config::KeyParse::kFlag ? sizeof(bool)
                            : key.follower != nullptr            ? 2 * sizeof(float)
                                                                 : sizeof(float);
    EXPECT_LE(changed.size(), expected) << key.name << " writes more than its member";
    for (size_t byte : changed) {
      // A follower is also a row of its own: only the key it follows may
      // share its bytes.
      if (key.follower == nullptr) {
        EXPECT_TRUE(written.insert(byte).second) << key.name << " writes another key's member";
      }
    }
  }
}

TEST(ChannelKeys, MemberPointersMatchTheirParse) {
  for (const config::ChannelKey& key : config::kChannelKeys) {
    const int set = (key.flag != nullptr) + (key.integer != nullptr) + (key.real != nullptr);
    EXPECT_EQ(set, 1) << key.name;
    switch (key.parse) {
      case config::KeyParse::kFlag:
        EXPECT_NE(key.flag, nullptr) << key.name;
        break;
      case config::KeyParse::kInteger:
        EXPECT_NE(key.integer, nullptr) << key.name;
        break;
      case config::KeyParse::kReal:
        EXPECT_NE(key.real, nullptr) << key.name;
        break;
    }
  }
}

TEST(ChannelKeys, NamesAreUniqueAndFound) {
  std::set<std::string> names;
  for (const config::ChannelKey& key : config::kChannelKeys) {
    EXPECT_TRUE(names.insert(key.name).second) << key.name;
    EXPECT_EQ(config::FindChannelKey(key.name), &key);
  }
  // Near misses and the generic mode are no channel keys.
  for (const char* other : {"ai_inde", "ai_index ", "AI_INDEX", "", "b_mode", "x5", "mode1"}) {
    EXPECT_EQ(config::FindChannelKey(other), nullptr) << other;
  }
}

// Every coordinate and the discharge voltages have their key; the segments,
// computed rather than read, have none.
TEST(ChannelKeys, KeyOfNamesTheReadingKey) {
  const struct {
    float ChannelSettings::*member;
    const char* key;
  } cases[] = {
      {&ChannelSettings::x1_, "x1"},
      {&ChannelSettings::y4_, "y4"},
      {&ChannelSettings::discharge_v_end_, "discharge_v_end"},
      {&ChannelSettings::min_, "min"},
      {&ChannelSettings::slope2_, nullptr},
      {&ChannelSettings::intercept3_, nullptr},
  };
  for (const auto& c : cases) {
    const char* key = config::KeyOf(c.member);
    if (c.key == nullptr) {
      EXPECT_EQ(key, nullptr);
    } else {
      ASSERT_NE(key, nullptr) << c.key;
      EXPECT_STREQ(key, c.key);
    }
  }
  for (const config::CalibrationPoint& point : config::kCalibrationPoints) {
    EXPECT_NE(config::KeyOf(point.x), nullptr);
    EXPECT_NE(config::KeyOf(point.y), nullptr);
  }
}

TEST(ChannelKeys, MemberValueReadsEachKind) {
  const struct {
    const char* key;
    const char* text;
    double expected;
  } cases[] = {
      {"current_mode", "2", 1},
      {"current_mode", "0", 0},
      {"max_v", "0", 5},
      {"max_v", "x", 5},
      {"ai_index", "3", 3},
      {"discharge_v", "47.5", 47.5},
      {"discharge_v_diff", "x", 0.02f},
      {"mode", "-2", -2},
  };
  for (const auto& c : cases) {
    const config::ChannelKey* row = config::FindChannelKey(c.key);
    ASSERT_NE(row, nullptr) << c.key;
    EXPECT_EQ(config::MemberValue(ReadOne(c.key, c.text), *row), c.expected)
        << c.key << "=" << c.text;
  }
}

TEST(ChannelKeys, DischargeStartAloneSetsTheEndAndALaterEndWins) {
  Json::Value settings;
  settings[config::kAppSetting]["discharge_v"] = "49V";
  ChannelSettings read;
  config::ReadChannelSettings(settings, read);
  EXPECT_EQ(read.discharge_v_, 49.0f);
  EXPECT_EQ(read.discharge_v_end_, 49.0f);
  settings[config::kAppSetting]["discharge_v_end"] = 50;
  config::ReadChannelSettings(settings, read);
  EXPECT_EQ(read.discharge_v_end_, 50.0f);
}

}  // namespace
