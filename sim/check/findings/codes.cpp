#include "sim/check/findings/codes.h"

namespace sim::cli {

namespace {
constexpr Severity kNote = Severity::kNote;
constexpr Severity kWarning = Severity::kWarning;
constexpr Severity kError = Severity::kError;
}  // namespace

// Declared extern in the header, so this definition has external linkage.
constexpr Code kCodes[kCodeCount] = {
    {CodeId::kJsonSyntax, "json-syntax", kError, kError,
     "the settings file is no JSON the host can read", "code-json-syntax"},
    {CodeId::kSettingsUnreadable, "settings-unreadable", kError, kError,
     "the settings file cannot be read, or the check could not finish the site",
     "code-settings-unreadable"},
    {CodeId::kSettingsRefused, "settings-refused", kError, kError,
     "InitSetting threw or returned false", "code-settings-refused"},
    {CodeId::kDuplicateKey, "duplicate-key", kWarning, kWarning,
     "a key given twice in one object: only the last counts", "code-duplicate-key"},
    {CodeId::kJsonLenient, "json-lenient", kNote, kNote,
     "comments or trailing commas: the host's reader takes them, strict JSON tools do not",
     "code-json-lenient"},
    {CodeId::kJsonContentAfterValue, "json-content-after-value", kWarning, kWarning,
     "text after the settings' first JSON value, which the host's reader ignores",
     "code-json-content-after-value"},
    {CodeId::kJsonNumber, "json-number", kWarning, kNote,
     "a number in a form strict JSON refuses (\"+1\", \"01\", \"2.\", \"-\")", "code-json-number"},
    {CodeId::kJsonControlCharacter, "json-control-character", kNote, kNote,
     "a tab, line break or other control character written as is in a string",
     "code-json-control-character"},
    {CodeId::kJsonSurrogate, "json-surrogate", kWarning, kWarning,
     "a \\u escape of half a surrogate pair: the device gets another character",
     "code-json-surrogate"},
    {CodeId::kJsonEncoding, "json-encoding", kWarning, kWarning,
     "a string whose bytes are no UTF-8, handed on to the device as they are",
     "code-json-encoding"},
    {CodeId::kNoAppSetting, "no-app-setting", kWarning, kWarning,
     "no \"appSetting\" object: the device reads none of its keys", "code-no-app-setting"},
    {CodeId::kUnknownKey, "unknown-key", kWarning, kWarning,
     "a key that neither the device nor the host reads", "code-unknown-key"},
    {CodeId::kNotANumber, "not-a-number", kWarning, kWarning,
     "a value that is not wholly a number where the device parses one", "code-not-a-number"},
    {CodeId::kUnknownBMode, "unknown-b-mode", kWarning, kWarning,
     "an operating mode other than 1, 2, 3 and 5", "code-unknown-b-mode"},
    {CodeId::kDischargeOff, "discharge-off", kNote, kNote,
     "mode 2 with the discharge report switched off", "code-discharge-off"},
    {CodeId::kDischargeEndBelowStart, "discharge-end-below-start", kWarning, kWarning,
     "the discharge end voltage below its start voltage", "code-discharge-end-below-start"},
    {CodeId::kDischargeStepNotPositive, "discharge-step-not-positive", kWarning, kWarning,
     "a discharge progress step of 0 or less", "code-discharge-step-not-positive"},
    {CodeId::kCalibrationUnsetPoint, "calibration-unset-point", kWarning, kWarning,
     "a calibration coordinate of magnitude 0.001 or less", "code-calibration-unset-point"},
    {CodeId::kCalibrationNotIncreasing, "calibration-not-increasing", kWarning, kWarning,
     "calibration points not in increasing x", "code-calibration-not-increasing"},
    {CodeId::kCalibrationSegmentRefused, "calibration-segment-refused", kWarning, kWarning,
     "two points of a calibration segment with the same x", "code-calibration-segment-refused"},
    {CodeId::kRangeEmpty, "range-empty", kWarning, kNote,
     "a measuring range whose max is not above its min", "code-range-empty"},
    {CodeId::kProfileMissing, "profile-missing", kWarning, kNote,
     "no threshold profile where the device searches", "code-profile-missing"},
    {CodeId::kProfileYamlNotRead, "profile-yaml-not-read", kWarning, kNote,
     "a .yaml profile: chosen, and nothing loaded from it", "code-profile-yaml-not-read"},
    {CodeId::kProfileEmptySection, "profile-empty-section", kError, kWarning,
     "a profile section without entries, which the INI reader drops", "code-profile-empty-section"},
    {CodeId::kAiIdTooShort, "ai-id-too-short", kWarning, kWarning,
     "an [AI] signal id shorter than 9 characters", "code-ai-id-too-short"},
    {CodeId::kAlarmRuleUnknownComparison, "alarm-rule-unknown-comparison", kWarning, kWarning,
     "an [ALARM] rule whose comparison word is unknown", "code-alarm-rule-unknown-comparison"},
    {CodeId::kAlarmRecordIncomplete, "alarm-record-incomplete", kWarning, kWarning,
     "a mode 3 record without one of its description parts", "code-alarm-record-incomplete"},
    {CodeId::kLimitRecordSkipped, "limit-record-skipped", kWarning, kWarning,
     "a mode 5 record without \"ID\" or \"SignalName\"", "code-limit-record-skipped"},
    {CodeId::kLimitFamilyIncomplete, "limit-family-incomplete", kWarning, kWarning,
     "a mode 5 limit lacking one of its three keys", "code-limit-family-incomplete"},
    {CodeId::kLimitRecordDuplicateSignal, "limit-record-duplicate-signal", kWarning, kWarning,
     "two mode 5 records setting the same limit of one signal",
     "code-limit-record-duplicate-signal"},
    {CodeId::kLimitRecoveryWrongSide, "limit-recovery-wrong-side", kWarning, kWarning,
     "a limit whose recovery value lies beyond it", "code-limit-recovery-wrong-side"},
    {CodeId::kAlarmThresholdZero, "alarm-threshold-zero", kWarning, kWarning,
     "a battery alarm row with a level and a threshold of 0", "code-alarm-threshold-zero"},
    {CodeId::kAlarmThresholdOrder, "alarm-threshold-order", kWarning, kWarning,
     "battery alarm thresholds that contradict the rows' names", "code-alarm-threshold-order"},
    {CodeId::kAlarmIdUnused, "alarm-id-unused", kNote, kNote,
     "a host alarm that no row of the site's operating mode uses", "code-alarm-id-unused"},
    {CodeId::kAlarmLevelNegative, "alarm-level-negative", kWarning, kWarning,
     "a host alarm level below 0, which the host has no use for", "code-alarm-level-negative"},
    {CodeId::kPeriodQuantised, "period-quantised", kNote, kNote,
     "a report period that single-precision time makes fire at another delay than it says",
     "code-period-quantised"},
    {CodeId::kThresholdSettingIgnored, "threshold-setting-ignored", kNote, kNote,
     "\"thresholdSetting\" in a mode that does not read it", "code-threshold-setting-ignored"},
};

namespace {
constexpr bool InIdOrder() {
  for (std::size_t i = 0; i < kCodeCount; ++i) {
    if (static_cast<std::size_t>(kCodes[i].id) != i) return false;
  }
  return true;
}
static_assert(InIdOrder(), "each code stands at the place of its id");
}  // namespace

const Code& CodeOf(CodeId id) { return kCodes[static_cast<std::size_t>(id)]; }

const char* SeverityName(Severity severity) {
  switch (severity) {
    case Severity::kNote:
      return "note";
    case Severity::kWarning:
      return "warning";
    case Severity::kError:
      return "error";
  }
  return "error";
}

bool ParseSeverity(const std::string& name, Severity& severity) {
  for (const Severity candidate : {Severity::kNote, Severity::kWarning, Severity::kError}) {
    if (name == SeverityName(candidate)) {
      severity = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace sim::cli
