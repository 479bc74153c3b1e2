#pragma once
// Every key and value name of the per-printer store, named once. The engine, the decoder and both
// programs read and write these; no other file spells a key path or a value name.

#include <cstdint>

namespace watchcore::value {

// \Vigilmon (engine store)
inline constexpr const char* kLanMonExistFlag = "LanMonExistFlag";
inline constexpr const char* kRunFlag = "RunFlag";
inline constexpr const char* kCommandStrings = "CommandStrings";  // binary
inline constexpr const char* kCommandLength = "CommandLength";
inline constexpr const char* kPassStrings = "PassStrings";  // binary
inline constexpr const char* kPassLength = "PassLength";
inline constexpr const char* kRetStrings = "RetStrings";
inline constexpr const char* kGetRealTimeStatusStartFlag = "GetRealTimeStatusStartFlag";
inline constexpr const char* kGetRealTimeStatusTime = "GetRealTimeStatusTime";
inline constexpr const char* kRealTimeStatusStrings = "RealTimeStatusStrings";
inline constexpr const char* kCommandOkFlag = "CommandOkFlag";
inline constexpr const char* kVigilExistFlag = "VigilExistFlag";
inline constexpr const char* kStRealThreadExistFlag = "StRealThreadExistFlag";
inline constexpr const char* kPrinterStFlag = "PrinterStFlag";
inline constexpr const char* kIDMDL = "IDMDL";
inline constexpr const char* kStRetryTime = "StRetryTime";
inline constexpr const char* kPaperCheckFlag = "PaperCheckFlag";
inline constexpr const char* kICCardName = "ICCardName";  // the engine spells it "ICcardName": same value
inline constexpr const char* kInkLevel = "InkLevel";
inline constexpr const char* kGapStrings = "GapStrings";
inline constexpr const char* kCDStrings = "CDStrings";
inline constexpr const char* kDeviceIDStrings = "DeviceIDStrings";  // binary
inline constexpr const char* kDeviceIDLength = "DeviceIDLength";
inline constexpr const char* kMonitorFlag = "MonitorFlag";
inline constexpr const char* kGetTimeCount = "GetTimeCount";
inline constexpr const char* kCommandExecStartFlag = "CommandExecStartFlag";
inline constexpr const char* kICCardSlotA = "ICCardSlotA";
inline constexpr const char* kICCardSlotB = "ICCardSlotB";
inline constexpr const char* kDisplayFlag = "DisplayFlag";

// Defaults fInitRegistory writes when the user's time settings are missing or 0.
inline constexpr std::uint32_t kDefaultStatusTimeMs = 5000;
inline constexpr std::uint32_t kDefaultRetryTimeMs = 20000;

// \StEnviron (detail-window settings), with what a reader substitutes when a value cannot be read.
struct DwordSetting {
    const char* name;
    std::uint32_t fallback;
};
inline constexpr DwordSetting kHideFlag{"HideFlag", 1};
inline constexpr DwordSetting kTopMostFlag{"TopMostFlag", 0};
inline constexpr DwordSetting kPrintOpenFlag{"PrintOpenFlag", 0};
inline constexpr DwordSetting kErrorOpenFlag{"ErrorOpenFlag", 1};
inline constexpr DwordSetting kSizeCheckFlag{"SizeCheckFlag", 0};
inline constexpr DwordSetting kSettingsMonitorFlag{"MonitorFlag", 1};
inline constexpr DwordSetting kSelectIcon{"SelectIcon", 0};
inline constexpr DwordSetting kAreatCount{"AreatCount", 11};
inline constexpr DwordSetting kSettingsStatusTime{"GetRealTimeStatusTime", kDefaultStatusTimeMs};  // lives in \Vigilmon
// Numbered per alert slot n = 0..10 ("AreatType%ld" and so on); the string ones have no fallback.
inline constexpr int kAlertSlots = 11;
inline constexpr DwordSetting kAreatTypeN{"AreatType%ld", 1};
inline constexpr DwordSetting kSoundTypeN{"SoundType%ld", 1};
inline constexpr const char* kSoundNameN = "SoundName%ld";

// "KswList\Env" (list window placement)
inline constexpr const char* kDispStat = "DispStat";
inline constexpr const char* kTop = "Top";
inline constexpr const char* kLeft = "Left";
inline constexpr const char* kWidth = "Width";
inline constexpr const char* kHeight = "Height";

// "KswList\Notify" (list program run and exit flags)
inline constexpr const char* kKswExitFlag = "KswExitFlag";
inline constexpr const char* kKswListRunFlag = "KswListRunFlag";

// Spooler keys the system reads
inline constexpr const char* kDriverMonitor = "Monitor";   // driver key: the driver's language monitor
inline constexpr const char* kMonitorDriver = "Driver";    // monitor key: the monitor's library file

}  // namespace watchcore::value
