#pragma once
// PrinterEntry: the 1816-byte record of one monitored printer, kept in its shared slot ("WTCHM" + slot
// number). The list program creates and initialises it; the detail program and the status decoding
// keep it current. Both sides always copy the whole record in or out, never keep a pointer into the
// slot. Little-endian; character fields are zero-terminated texts in the system code page; every byte
// belongs to a field or to a reserved field.

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct PrinterEntry {
    std::uint16_t SlotIndex;  // the record's own slot; offsets 0-3 read as 32 bits name the tray icon
    std::uint16_t Reserved2;
    std::uint32_t MonitorActive;      // 1 while the detail program monitors
    std::uint32_t ReadyAck;           // detail program's acknowledgement (engine ready, close done)
    std::uint32_t PanelReady;         // detail window set up
    std::uint32_t CloseRequest;       // list asks the detail program to end
    std::uint32_t HideRequest;        // nonzero: detail window stays hidden
    std::uint32_t ForegroundRequest;  // list asks to bring the window to the front once
    std::uint32_t StatusRedraw;       // redraw the status page at the next refresh
    std::uint32_t JobWindowRequest;   // list asks to open the printer's job window
    std::uint32_t Reserved36;
    std::uint32_t PrintOpenFlag;  // setting: open the window when printing starts
    std::uint32_t ErrorOpenFlag;  // setting: open the window on a warning or error
    std::uint32_t Reserved48;
    char PrinterName[261];          // spooler printer name: the printer's key everywhere
    char ModelFullName[261];        // model table's full model name (the engine's driver name)
    char ModelName[32];             // model table's short model name ("PG-03")
    char PortName[513];             // spooler port name, or the resolved one
    char OriginalPortName[579];     // port name as the spooler gave it, when PortName was replaced
    char DataFileName[34];          // model table's printer information file
    std::uint32_t NetworkPort;      // 0 local port, 1 network port
    std::uint32_t NetworkKind;      // kind of network connection: 1, 2 or 3
    std::uint32_t NetworkResolved;  // 1 when PortName was resolved and replaced
    std::uint32_t PrinterFamily;    // 0 page, 1 impact, 2 inkjet
    std::uint32_t ModelCode;        // 0..20, the model table's row
    std::uint32_t
        StatusChangedTime;      // when the detail program's status last changed, seconds since 1970 (UTC); 0 none yet
    std::uint32_t MonitorFlag;  // setting: tray icon shown
    std::uint16_t SelectIcon;   // setting: tray icon set
    std::uint16_t AlertCategoryCount;  // alert categories of the family
    std::uint32_t StatusInterval;      // status interval, milliseconds
    std::uint32_t PanelTimer1Period;   // detail program's status timer, milliseconds
    std::uint32_t PanelTimer2Period;   // detail program's driver-configuration timer, milliseconds
    std::uint32_t PrinterState;        // 0 printable, 1 printable with a warning, 2 cannot print
    std::uint16_t PictureIndex;        // picture within the model's picture set
    std::uint16_t PictureCount;
    std::uint16_t MessageIndex;  // status message within the family's message table
    std::uint16_t MessageCount;
    std::uint32_t MessageFlag;    // 1 when the message text takes the ink name
    std::uint16_t AlertCategory;  // alert index within the family's alert list
    std::uint16_t Reserved1794;
    std::uint32_t SizeCheckFlag;  // setting: paper-size check
    std::uint16_t OptionBits;     // bit of value 2 mirrors SizeCheckFlag
    std::uint16_t Reserved1802;
    std::int32_t JobCount;            // jobs in the queue, -1 for none known
    std::uint32_t EngineStateReport;  // 3 cannot monitor; 5 or 6 port or printer changed
    std::uint32_t MonitorRunning;     // 1 while monitoring
};
#pragma pack(pop)

static_assert(sizeof(PrinterEntry) == 1816);
static_assert(offsetof(PrinterEntry, SlotIndex) == 0);
static_assert(offsetof(PrinterEntry, Reserved2) == 2);
static_assert(offsetof(PrinterEntry, MonitorActive) == 4);
static_assert(offsetof(PrinterEntry, ReadyAck) == 8);
static_assert(offsetof(PrinterEntry, PanelReady) == 12);
static_assert(offsetof(PrinterEntry, CloseRequest) == 16);
static_assert(offsetof(PrinterEntry, HideRequest) == 20);
static_assert(offsetof(PrinterEntry, ForegroundRequest) == 24);
static_assert(offsetof(PrinterEntry, StatusRedraw) == 28);
static_assert(offsetof(PrinterEntry, JobWindowRequest) == 32);
static_assert(offsetof(PrinterEntry, Reserved36) == 36);
static_assert(offsetof(PrinterEntry, PrintOpenFlag) == 40);
static_assert(offsetof(PrinterEntry, ErrorOpenFlag) == 44);
static_assert(offsetof(PrinterEntry, Reserved48) == 48);
static_assert(offsetof(PrinterEntry, PrinterName) == 52);
static_assert(offsetof(PrinterEntry, ModelFullName) == 313);
static_assert(offsetof(PrinterEntry, ModelName) == 574);
static_assert(offsetof(PrinterEntry, PortName) == 606);
static_assert(offsetof(PrinterEntry, OriginalPortName) == 1119);
static_assert(offsetof(PrinterEntry, DataFileName) == 1698);
static_assert(offsetof(PrinterEntry, NetworkPort) == 1732);
static_assert(offsetof(PrinterEntry, NetworkKind) == 1736);
static_assert(offsetof(PrinterEntry, NetworkResolved) == 1740);
static_assert(offsetof(PrinterEntry, PrinterFamily) == 1744);
static_assert(offsetof(PrinterEntry, ModelCode) == 1748);
static_assert(offsetof(PrinterEntry, StatusChangedTime) == 1752);
static_assert(offsetof(PrinterEntry, MonitorFlag) == 1756);
static_assert(offsetof(PrinterEntry, SelectIcon) == 1760);
static_assert(offsetof(PrinterEntry, AlertCategoryCount) == 1762);
static_assert(offsetof(PrinterEntry, StatusInterval) == 1764);
static_assert(offsetof(PrinterEntry, PanelTimer1Period) == 1768);
static_assert(offsetof(PrinterEntry, PanelTimer2Period) == 1772);
static_assert(offsetof(PrinterEntry, PrinterState) == 1776);
static_assert(offsetof(PrinterEntry, PictureIndex) == 1780);
static_assert(offsetof(PrinterEntry, PictureCount) == 1782);
static_assert(offsetof(PrinterEntry, MessageIndex) == 1784);
static_assert(offsetof(PrinterEntry, MessageCount) == 1786);
static_assert(offsetof(PrinterEntry, MessageFlag) == 1788);
static_assert(offsetof(PrinterEntry, AlertCategory) == 1792);
static_assert(offsetof(PrinterEntry, Reserved1794) == 1794);
static_assert(offsetof(PrinterEntry, SizeCheckFlag) == 1796);
static_assert(offsetof(PrinterEntry, OptionBits) == 1800);
static_assert(offsetof(PrinterEntry, Reserved1802) == 1802);
static_assert(offsetof(PrinterEntry, JobCount) == 1804);
static_assert(offsetof(PrinterEntry, EngineStateReport) == 1808);
static_assert(offsetof(PrinterEntry, MonitorRunning) == 1812);
