#pragma once

// The finding codes of aikorvane-sim check: one table that the check adds
// findings from, that --list-codes prints and that the documentation's table
// of codes is held against.

#include <cstddef>
#include <string>

namespace sim::cli {

enum class Severity { kNote, kWarning, kError };

const char* SeverityName(Severity severity);
// false when name is none of "note", "warning", "error".
bool ParseSeverity(const std::string& name, Severity& severity);

enum class CodeId {
  kJsonSyntax,
  kSettingsUnreadable,
  kSettingsRefused,
  kDuplicateKey,
  kJsonLenient,
  kJsonContentAfterValue,
  kJsonNumber,
  kJsonControlCharacter,
  kJsonSurrogate,
  kJsonEncoding,
  kNoAppSetting,
  kUnknownKey,
  kNotANumber,
  kUnknownBMode,
  kDischargeOff,
  kDischargeEndBelowStart,
  kDischargeStepNotPositive,
  kCalibrationUnsetPoint,
  kCalibrationNotIncreasing,
  kCalibrationSegmentRefused,
  kRangeEmpty,
  kProfileMissing,
  kProfileYamlNotRead,
  kProfileEmptySection,
  kAiIdTooShort,
  kAlarmRuleUnknownComparison,
  kAlarmRecordIncomplete,
  kLimitRecordSkipped,
  kLimitFamilyIncomplete,
  kLimitRecordDuplicateSignal,
  kLimitRecoveryWrongSide,
  kAlarmThresholdZero,
  kAlarmThresholdOrder,
  kAlarmIdUnused,
  kAlarmLevelNegative,
  kPeriodQuantised,
  kThresholdSettingIgnored,
  kCount
};

struct Code {
  CodeId id;
  const char* name;
  Severity severity;  // the severity of its findings...
  Severity lesser;    // ...or this one, where the code has two (else the same)
  const char* summary;
  const char* anchor;  // of its row in docs/configuration.md
};

constexpr std::size_t kCodeCount = static_cast<std::size_t>(CodeId::kCount);
extern const Code kCodes[kCodeCount];

const Code& CodeOf(CodeId id);

}  // namespace sim::cli
