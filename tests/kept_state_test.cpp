// What a device keeps from one round to the next (the local time of the
// minute, the index of its published values, the texts of their values) and
// the short ways the rounds take: each must give what the plain library calls
// give, also when the published values or the tables change between rounds.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/kept/quick_checks.h"
#include "plugin/text/diagnostic_line.h"
#include "round_support.h"

namespace {

using aikorvane::kept::HasFloatForm;
using aikorvane::kept::IsNumber;
using aikorvane::kept::SameText;
using round_support::Probe;
using round_support::VirtualClock;
using testing_support::CoutCapture;

class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

// Rounds second by second across the year's offset changes (whole and half
// hours, forward and back, and within a minute), then with the clock set
// back, and with a new zone between two rounds of one minute.
TEST(KeptState, RoundsStampTheLibraryLocalTime) {
  struct Zone {
    const char* name;
    std::vector<std::time_t> changes;
  };
  const Zone zones[] = {
      {"UTC", {1796634303}},
      {"Europe/Berlin", {1774746000, 1792890000}},
      {"Australia/Lord_Howe", {1775314800, 1791041400}},
      {"America/St_Johns", {1772947800, 1793507400}},
      {"Asia/Kathmandu", {504901800}},
      {"XST-1XDT,M3.5.0/2:00:30,M10.5.0/3", {1711846830, 1729990800}},
      {"XST-1XDT,M3.5.0/2,M10.5.0/3:00:30", {1711846800, 1729990830}},
  };
  VirtualClock clock(0);
  CoutCapture out;
  Probe probe;
  probe.device->b_mode_ = 2;
  // Whether a round at `now` is stamped with the library's local time.
  const auto stamped = [&](std::time_t now) {
    clock.Set(now);
    probe.device->process(5000);
    return probe.device->update_time_ == boost::posix_time::second_clock::local_time();
  };
  for (const Zone& zone : zones) {
    ZoneScope scope(zone.name);
    for (const std::time_t change : zone.changes) {
      for (std::time_t now = change - 90; now < change + 90; ++now) {
        ASSERT_TRUE(stamped(now)) << zone.name << " at " << now;
      }
      EXPECT_TRUE(stamped(change - 3600)) << zone.name;
    }
  }
  ZoneScope spring_rule("XST-1XDT,M3.5.0/2,M10.5.0/3:00:30");
  stamped(1729990770);
  ZoneScope autumn_rule("XST-1XDT,M3.5.0/2:00:30,M10.5.0/3");
  EXPECT_TRUE(stamped(1729990800));
}

// The record's time bytes and the published time of rounds around an offset
// change that falls within a local minute, forward and back.
TEST(KeptState, RoundsAcrossAnOffsetChangeWithinAMinute) {
  struct Round {
    const char* zone;
    std::time_t utc;
    const char* time_hex;  // record bytes 8 to 14
    const char* published;
  };
  const Round rounds[] = {
      {"XST-1XDT,M3.5.0/2:00:30,M10.5.0/3", 1711846800, "E807031F020000", "2024-3-31 2:0:0"},
      {"XST-1XDT,M3.5.0/2:00:30,M10.5.0/3", 1711846830, "E807031F03001E", "2024-3-31 3:0:30"},
      {"XST-1XDT,M3.5.0/2:00:30,M10.5.0/3", 1711846831, "E807031F03001F", "2024-3-31 3:0:31"},
      {"XST-1XDT,M3.5.0/2,M10.5.0/3:00:30", 1729990800, "E8070A1B030000", "2024-10-27 3:0:0"},
      {"XST-1XDT,M3.5.0/2,M10.5.0/3:00:30", 1729990830, "E8070A1B02001E", "2024-10-27 2:0:30"},
      {"XST-1XDT,M3.5.0/2,M10.5.0/3:00:30", 1729990831, "E8070A1B02001F", "2024-10-27 2:0:31"},
  };
  VirtualClock clock(0);
  CoutCapture out;
  for (const char* zone : {rounds[0].zone, rounds[3].zone}) {
    ZoneScope scope(zone);
    Probe probe;
    probe.device->b_mode_ = 5;
    for (const Round& round : rounds) {
      if (std::string(round.zone) != zone) continue;
      clock.Set(round.utc);
      probe.device->process(5000);
      const std::string bytes = probe.sink->Events("SendSP").back()["bytes"].asString();
      EXPECT_EQ(bytes.substr(16), round.time_hex) << zone << " at " << round.utc;
      EXPECT_EQ(probe.device->value_["更新时间"].asString(), round.published)
          << zone << " at " << round.utc;
    }
  }
}

// A host that removes a published member and adds another between rounds
// keeps the count of members the same: the new member is still checked, in
// every mode that reads members by name, and nothing of the removed one is
// read (the sanitizer builds would see it).
TEST(KeptState, MemberReplacedByTheHostIsReadAfresh) {
  struct Case {
    int mode;
    const char* event;
    const char* expected;  // what the check of the new member carries
  };
  const Case cases[] = {
      {5, "CheckThresholdBool", "900002001"},
      {1, "CheckThreshold", "461627401007"},
      {3, "CheckThresholdBool", "007009"},
  };
  for (const Case& test : cases) {
    VirtualClock clock(round_support::kRoundTime);
    Probe probe;
    AIKorvane& device = *probe.device;
    device.b_mode_ = test.mode;
    device.up_thresholds_["n"] = ThresholdEntry("900002001", 50.0f, 45.0f, false, 2);
    device.ai_signals_["n"] = {"461127400007", "N"};
    device.alarm_rules_["n_x"] = "007009,upper";
    device.alarm_levels_["007009"] = 1;
    device.alarm_values_["007009"] = 50.0f;
    device.value_["o"] = 51.0;
    CoutCapture out;
    device.process(5000);
    const auto count = [&] {
      std::size_t found = 0;
      for (const auto& event : probe.sink->Events(test.event)) {
        const Json::Value& id = test.mode == 1 ? event["id"] : event["texts"][1];
        found += id.asString() == test.expected;
      }
      return found;
    };
    const std::size_t before = count();
    // Mode 3 makes a null member "n" itself; the others do not.
    device.value_.removeMember("o");
    if (test.mode == 3) device.value_.removeMember("n");
    device.value_["n"] = 52.0;
    if (test.mode == 3) device.value_["p"] = 1.0;
    clock.Set(round_support::kRoundTime + 1);
    device.process(5000);
    EXPECT_EQ(count(), before + 1) << "mode " << test.mode;
  }
}

TEST(KeptState, ValueKindsAsTheLibraryTellsThem) {
  const Json::Value values[] = {Json::Value(),
                                Json::Value(-3),
                                Json::Value(3u),
                                Json::Value(2.5),
                                Json::Value("4"),
                                Json::Value(true),
                                Json::Value(false),
                                Json::Value(Json::arrayValue),
                                Json::Value(Json::objectValue)};
  for (const Json::Value& value : values) {
    EXPECT_EQ(IsNumber(value), value.isNumeric()) << value.type();
    EXPECT_EQ(HasFloatForm(value), !value.isNull() && value.isConvertibleTo(Json::realValue))
        << value.type();
  }
}

// Every length around the two-word comparison, a difference at every place.
TEST(KeptState, ShortTextsCompareAsStrings) {
  for (std::size_t size = 0; size <= 20; ++size) {
    const std::string text(size, 'k');
    EXPECT_TRUE(SameText(text, std::string(text))) << size;
    EXPECT_FALSE(SameText(text, text + "k")) << size;
    for (std::size_t place = 0; place < size; ++place) {
      std::string other = text;
      other[place] = 'K';
      EXPECT_FALSE(SameText(text, other)) << size << " at " << place;
    }
  }
}

// Lines written in one piece carry the bytes of writing them piece by piece,
// also past the sizes of the fixed buffers, and so do lines to a stream in
// another state.
TEST(KeptState, LinesInOnePieceAsPieceByPiece) {
  for (const bool plain : {true, false}) {
    for (const std::size_t size : {0, 7, 255, 256, 383, 384, 385, 1000}) {
      std::ostringstream one_piece;
      std::ostringstream piece_by_piece;
      if (!plain) {
        one_piece << std::hex;
        piece_by_piece << std::hex;
      }
      {
        aikorvane::DiagnosticLine line(one_piece);
        for (std::size_t i = 0; i < size; i += 11) {
          const std::string piece(std::min<std::size_t>(11, size - i),
                                  static_cast<char>('a' + i % 26));
          line << piece;
          piece_by_piece << piece;
        }
        line << static_cast<short>(-12) << 1.0f / 3.0f << std::size_t{42} << 1000000.125f;
        piece_by_piece << static_cast<short>(-12) << 1.0f / 3.0f << std::size_t{42} << 1000000.125f
                       << std::endl;
      }
      EXPECT_EQ(one_piece.str(), piece_by_piece.str()) << size << (plain ? " plain" : " hex");
    }
  }
}

// The texts of the limit tables' values, and the members they are read from,
// follow value_ as it changes: a value that changes, a member published only
// later, and new members that make the device index value_ anew.
TEST(KeptState, LimitTablesFollowPublishedValuesFromRoundToRound) {
  VirtualClock clock(round_support::kRoundTime);
  Probe probe;
  AIKorvane& device = *probe.device;
  device.b_mode_ = 5;
  device.up_thresholds_["b"] = ThresholdEntry("900002001", 50.0f, 45.0f, false, 2);
  device.low_thresholds_["b"] = ThresholdEntry("900002003", 40.0f, 41.0f, false, 2);
  struct Change {
    const char* member;
    double value;
  };
  const std::vector<std::vector<Change>> rounds = {
      {{"a", 1}},             // "b" not published yet: no call
      {{"b", 51.25}},         // now it is
      {{"b", 51.25}},         // the same value again
      {{"b", 39.5}},          // another value
      {{"a0", 7}, {"c", 8}},  // new members before and after "b"
      {{"b", 44}},            //
  };
  const std::vector<std::string> expected = {
      "",
      "900002001 51.25 当前值51.25高于阈值:50|900002003 51.25 ",
      "900002001 51.25 当前值51.25高于阈值:50|900002003 51.25 ",
      "900002001 39.5 |900002003 39.5 当前值39.5低于阈值:40",
      "900002001 39.5 |900002003 39.5 当前值39.5低于阈值:40",
      "900002001 44 |900002003 44 ",
  };
  CoutCapture out;
  for (std::size_t round = 0; round < rounds.size(); ++round) {
    for (const Change& change : rounds[round]) device.value_[change.member] = change.value;
    const std::size_t before = probe.sink->Events("CheckThresholdBool").size();
    clock.Set(round_support::kRoundTime + static_cast<std::time_t>(round));
    device.process(5000);
    std::string got;
    const auto events = probe.sink->Events("CheckThresholdBool");
    for (std::size_t i = before; i < events.size(); ++i) {
      if (!got.empty()) got += "|";
      got += events[i]["texts"][1].asString() + " " + events[i]["texts"][2].asString() + " " +
             events[i]["texts"][3].asString();
    }
    EXPECT_EQ(got, expected[round]) << "round " << round;
  }
}

// Mode 1 keeps, per [AI] entry, the member it names: an entry whose member is
// published later, an entry added between rounds and an entry whose signal id
// changes between rounds are all read afresh.
TEST(KeptState, SignalTableFollowsPublishedValuesFromRoundToRound) {
  VirtualClock clock(round_support::kRoundTime);
  Probe probe;
  AIKorvane& device = *probe.device;
  device.b_mode_ = 1;
  device.ai_signals_["m"] = {"461127400007", "M"};
  device.ai_signals_["x"] = {"461127400008", "X"};
  device.value_["m"] = 3.5;
  device.value_["k"] = 1.5;
  CoutCapture out;
  const auto round = [&](std::time_t second) {
    const std::size_t before = probe.sink->Events("CheckThreshold").size();
    clock.Set(round_support::kRoundTime + second);
    device.process(5000);
    std::vector<std::string> checks;
    const auto events = probe.sink->Events("CheckThreshold");
    for (std::size_t i = before; i < events.size(); ++i) {
      const std::string id = events[i]["id"].asString();
      if (id == "value" || id == "461627401001") continue;
      std::ostringstream check;
      check << id << "=" << events[i]["value"].asDouble();
      checks.push_back(check.str());
    }
    return checks;
  };
  EXPECT_EQ(round(0), (std::vector<std::string>{"461627401007=3.5"}));
  device.value_["x"] = 9;
  EXPECT_EQ(round(1), (std::vector<std::string>{"461627401007=3.5", "461627401008=9"}));
  // No member is new here: the kept index stays, the entries move.
  device.ai_signals_["m"] = {"461127400017", "M"};
  device.ai_signals_["k"] = {"461127400019", "K"};
  device.value_["m"] = 4;
  EXPECT_EQ(round(2),
            (std::vector<std::string>{"461627401019=1.5", "461627401017=4", "461627401008=9"}));
  // An id of another length, past the two-word comparison.
  device.ai_signals_["m"] = {"4611274000170000000", "M"};
  EXPECT_EQ(round(3), (std::vector<std::string>{"461627401019=1.5", "4616274010170000000=4",
                                                "461627401008=9"}));
}

// Mode 3 keeps each rule split into its parts: a rule whose text changes and
// a rule added before it are split afresh.
TEST(KeptState, AlarmRulesFollowTheirTextsFromRoundToRound) {
  VirtualClock clock(round_support::kRoundTime);
  Probe probe;
  AIKorvane& device = *probe.device;
  device.b_mode_ = 3;
  device.value_["b"] = 2.5;
  const std::vector<std::pair<const char*, const char*>> rounds = {
      {"b_x", "007001,upper"},
      {"b_x", "007001,lower"},
      {"a_y", "07002,notequal"},
      {"b_x", "007001"},
  };
  const std::vector<std::string> expected = {
      "b 007001 upper",
      "b 007001 lower",
      "a 07002 notequal|b 007001 lower",
      "a 07002 notequal|b 007001 007001",
  };
  CoutCapture out;
  for (std::size_t round = 0; round < rounds.size(); ++round) {
    device.alarm_rules_[rounds[round].first] = rounds[round].second;
    const std::size_t before = out.Lines().size();
    clock.Set(round_support::kRoundTime + static_cast<std::time_t>(round));
    device.process(5000);
    std::string got;
    const auto lines = out.Lines();
    for (std::size_t i = before; i < lines.size(); ++i) {
      char name[16], id[16], word[16];
      if (std::sscanf(lines[i].c_str(), "dataName:%15s alarmId:%15s alarmComp:%15s", name, id,
                      word) != 3) {
        continue;
      }
      got += (got.empty() ? "" : "|") + std::string(name) + " " + id + " " + word;
    }
    EXPECT_EQ(got, expected[round]) << "round " << round;
  }
}

// The percentage band of a signal's report follows its last reported value
// and the host's setting from round to round.
TEST(KeptState, ReportBandFollowsLastReportFromRoundToRound) {
  VirtualClock clock(round_support::kRoundTime);
  Probe probe;
  AIKorvane& device = *probe.device;
  device.b_mode_ = 1;
  device.ai_signals_["m"] = {"461127400007", "M"};
  OSKVDevice::BAOSetting band{};
  band.percent_enabled = true;
  band.percent_value = 10.0f;
  band.last_report_value = 10.0f;
  device.ao_report_settings_["461127400007"] = band;
  struct Round {
    double value;
    float percent;  // the host's setting for the round
    bool reported;
  };
  const Round rounds[] = {
      {10.5, 10.0f, false},  // within 9 to 11
      {11.5, 10.0f, true},   // out: the band moves to 10.35 to 12.65
      {12.0, 10.0f, false},  //
      {12.0, 1.0f, true},    // the host narrows it to 11.385 to 11.615
      {12.05, 1.0f, false},  //
  };
  const auto reports = [&] {
    std::size_t count = 0;
    for (const auto& event : probe.sink->Events("CheckAOReport")) {
      count += event["signal"].asString() == "461127400007";
    }
    return count;
  };
  CoutCapture out;
  for (std::size_t i = 0; i < std::size(rounds); ++i) {
    device.ao_report_settings_["461127400007"].percent_value = rounds[i].percent;
    device.value_["m"] = rounds[i].value;
    const std::size_t before = reports();
    clock.Set(round_support::kRoundTime + static_cast<std::time_t>(i));
    device.process(5000);
    EXPECT_EQ(reports() - before, rounds[i].reported ? 1u : 0u) << "round " << i;
  }
}

}  // namespace
