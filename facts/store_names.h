#pragma once
// Every key path and value name of the registry store that the system reads or writes, named once,
// with the defaults and fallbacks that go with them. The engine, the decoder, both programs, the
// embedded spooler and the tools use these; no other file spells a key path or a value name.

#include <cstdint>
#include <string_view>

namespace facts::key {

// Under the local machine. A printer's key is kPrinters + its name; its engine store and detail
// settings are sub-keys of it, its driver data a value key shared with the maker's drivers.
inline constexpr std::string_view kPrint = "System\\CurrentControlSet\\Control\\Print";
inline constexpr std::string_view kPrinters = "System\\CurrentControlSet\\Control\\Print\\Printers\\";
inline constexpr std::string_view kDrivers =
    "System\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\";
inline constexpr std::string_view kMonitors = "System\\CurrentControlSet\\Control\\Print\\Monitors\\";
inline constexpr std::string_view kPortMap = "System\\CurrentControlSet\\Control\\Print\\PortMap";
inline constexpr std::string_view kEngineStore = "\\Vigilmon";          // below the printer's key
inline constexpr std::string_view kDetailSettings = "\\StEnviron";      // below the printer's key
inline constexpr std::string_view kDriverData = "\\PrinterDriverData";  // below the printer's key
// The NetWare print provider: its "Name" is its library's file name, in the Windows directory's system/.
inline constexpr std::string_view kNetwareProvider =
    "System\\CurrentControlSet\\control\\Print\\Providers\\Microsoft Print Provider for NetWare";

// Under the current user.
inline constexpr std::string_view kListEnv = "Software\\VELTA\\VELTA Kestrel\\KswList\\Env";
inline constexpr std::string_view kListNotify = "Software\\VELTA\\VELTA Kestrel\\KswList\\Notify";

}  // namespace facts::key

namespace facts::value {

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
inline constexpr const char* kPrinterStFlag = "PrinterStFlag";  // one of PrinterStatus
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

// What the engine reports in kPrinterStFlag.
enum PrinterStatus : std::uint32_t {
    kMonitoring = 0,
    kCommFailure = 1,
    kCommFailureAgain = 2,  // the first report after a retry found the printer still unreachable
    kCannotMonitor = 3,
    kPortChanged = 6,
    kPrinterGone = 9,  // the printer's key is gone
};

// PrinterDriverData (shared with the maker's driver and its despooler): the despooler's flags, and
// the engine's values mirrored there (status, ink, device ID, printer status) under the names above.
inline constexpr const char* kDespoolerRunFlag = "DespoolerRunFlag";
inline constexpr const char* kDespoolerExistFlag = "DespoolerExistFlag";
inline constexpr const char* kDespoolerLastAccessTime = "DespoolerLastAccessTime";
inline constexpr const char* kDespoolerIntervalTime = "DespoolerIntervalTime";
inline constexpr const char* kVigilReadFlag = "VigilReadFlag";

// Defaults fInitRegistory writes when the user's time settings are missing or 0.
inline constexpr std::uint32_t kDefaultStatusTimeMs = 5000;
inline constexpr std::uint32_t kDefaultRetryTimeMs = 20000;
// What the engine's loops wait when they cannot read those two values: a shorter wait than the
// initialised default, so a store that lost the value is read again soon.
inline constexpr std::uint32_t kEngineFallbackStatusTimeMs = 3000;
// Behind a NetWare queue the printer answers slowly: the connection check sets this interval.
inline constexpr std::uint32_t kQueuePathStatusTimeMs = 10000;

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
// Whether an alert also goes to the desktop's notifications; read and written on its own, so a store
// from before it keeps its other settings.
inline constexpr DwordSetting kDesktopNotifyFlag{"DesktopNotifyFlag", 1};
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

// What the spooler keeps of its printers, drivers and monitors, as the system reads it
inline constexpr const char* kPrinterPort = "Port";              // printer key: the port name
inline constexpr const char* kPrinterDriver = "Printer Driver";  // printer key: the driver name
inline constexpr const char* kDriverMonitor = "Monitor";         // driver key: the driver's language monitor
inline constexpr const char* kDriverPath = "Driver";             // driver key: the driver's file
inline constexpr const char* kMonitorDriver = "Driver";          // monitor key: the monitor's library file
inline constexpr const char* kProviderName = "Name";             // print provider key: its library file

}  // namespace facts::value
