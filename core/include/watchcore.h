#pragma once
// Watchcore: the common services of both programs. This header is the library's whole export list,
// grouped by family. Every export is a plain C function; a success flag is 1 for success and 0 for
// failure; text is char* in the system code page (UTF-8); a printer is named by its spooler name.
// Nothing is cached: every registry access opens its key, reads or writes one value and closes the
// key again. Lists are allocated from the caller's heap; handles are the caller's to close.

#include <stddef.h>
#include <stdint.h>

#include "printer_entry.h"

#define WATCHCORE_API extern "C" __attribute__((visibility("default")))

class QWidget;  // window handles are the windowing layer's widgets
namespace plat {
class Heap;      // the caller's heap, from which the library allocates the lists it builds
class Services;  // the store, the spooler, the clock and the port opener of a process
}  // namespace plat

// ---- Records of the spooler and the model table ---------------------------------------------------

// A printer as the spooler lists it (level 2). Texts point into the same heap block.
struct PrinterInfo2 {
    char* pServerName;
    char* pPrinterName;
    char* pShareName;
    char* pPortName;
    char* pDriverName;
    char* pComment;
    char* pLocation;
    void* pDevMode;
    char* pSepFile;
    char* pPrintProcessor;
    char* pDatatype;
    char* pParameters;
    void* pSecurityDescriptor;
    uint32_t Attributes;
    uint32_t Priority;
    uint32_t DefaultPriority;
    uint32_t StartTime;
    uint32_t UntilTime;
    uint32_t Status;
    uint32_t cJobs;
    uint32_t AveragePPM;
};

// An installed printer driver (level 2).
struct DriverInfo2 {
    uint32_t cVersion;
    char* pName;
    char* pEnvironment;
    char* pDriverPath;
    char* pDataFile;
    char* pConfigFile;
};

// One row of the built-in model table; the row index is the model number (0..20).
struct ModelTableEntry {
    int32_t DriverGroup;       // 1 page printers, 2 IJ-03, 3 later inkjets, 4 impact printers, 5 IJ-01
    char ModelName[32];        // the spooler's driver name of the model ("VELTA PG-03")
    char DriverFile[32];       // the driver's file name
    char LanguageMonitor[32];  // the language monitor's library file; empty for IJ-01
    char ShortModelName[32];   // what the printer reports after "MDL:" ("PG-03")
    char InformationFile[32];  // the printer information file
};

struct ModelTable {
    uint32_t EntryCount;       // 21
    uint32_t Built;            // 1 once the entries are filled
    ModelTableEntry* Entries;  // in the caller's heap
};

struct PortEntry {
    char Name[64];
    uint32_t Flag;  // 1
};

struct PortList {
    uint32_t Count;
    PortEntry* Entries;  // in the caller's heap
};

// The file handle of a mapping backed by shared memory only ("no file").
inline constexpr intptr_t kWatchcoreNoFile = -1;

// ---- Per-printer registry store -----------------------------------------------------------------
// Getters leave a DWORD out untouched and a buffer unspecified when they fail (missing key or value,
// value larger than the buffer). Buffer sizes are capacities in bytes; a text value that does not fit
// with its terminating zero fails. No getter creates a key.

// \Vigilmon of the printer
WATCHCORE_API int32_t fGetRegistoryGetRealTimeStatusTime(const char* printer, uint32_t* value);
WATCHCORE_API int32_t fGetRegistoryRealTimeStatusStrings(const char* printer, char* buffer, uint32_t size);
WATCHCORE_API int32_t fGetRegistoryVigilExistFlag(const char* printer, uint32_t* value);
WATCHCORE_API int32_t fSetRegistoryVigilExistFlag(const char* printer, uint32_t value);
WATCHCORE_API int32_t fGetRegistoryPrinterStFlag(const char* printer, uint32_t* value);
WATCHCORE_API int32_t fGetRegistoryStRetryTime(const char* printer, uint32_t* value);
WATCHCORE_API int32_t fGetRegistoryICCardName(const char* printer, char* buffer, uint32_t size);
WATCHCORE_API int32_t fGetRegistoryInkLevel(const char* printer, char* buffer, uint32_t size);
WATCHCORE_API int32_t fGetRegistoryGepStrings(const char* printer, char* buffer, uint32_t size);
WATCHCORE_API int32_t fGetRegistoryDeviceIDStrings(const char* printer, void* buffer, uint32_t size);
WATCHCORE_API int32_t fGetRegistoryDeviceIDLength(const char* printer, uint32_t* value);
// slot 0 reads "ICCardSlotA", any other slot "ICCardSlotB"
WATCHCORE_API int32_t fGetRegistoryIcCardNameOnSlot(const char* printer, char* buffer, uint32_t size, uint32_t slot);
WATCHCORE_API int32_t fGetRegistoryStRealThreadExistFlag(const char* printer, uint32_t* value);
WATCHCORE_API int32_t fSetRegistoryStRealThreadExistFlag(const char* printer, uint32_t value);
WATCHCORE_API int32_t fGetRegistoryDisplayFlag(const char* printer, uint32_t* value);
WATCHCORE_API int32_t fSetRegistoryDisplayFlag(const char* printer, uint32_t value);

// The spooler's driver and monitor keys (read only)
WATCHCORE_API int32_t fGetRegistoryDriverMonitor(const char* driver, char* buffer, uint32_t size);
WATCHCORE_API int32_t fGetRegistoryLanguageMonitorDriver(const char* monitor, char* buffer, uint32_t size);

// "KswList\Notify" under the current user: the list program's run and exit flags
WATCHCORE_API int32_t fCreateRegistoryNotifySubKey(void);
WATCHCORE_API int32_t fGetRegistoryKswExitFlag(uint32_t* value);
WATCHCORE_API int32_t fSetRegistoryKswExitFlag(uint32_t value);
WATCHCORE_API int32_t fGetRegistoryKswListRunFlag(uint32_t* value);
WATCHCORE_API int32_t fSetRegistoryKswListRunFlag(uint32_t value);

// Creates the printer's \Vigilmon and writes its initial values; keeps the user's two time settings.
// Stops at the first value it cannot write and returns 0 (the values written so far stay).
WATCHCORE_API int32_t fInitRegistory(const PrinterEntry* entry);

// ---- Small services -------------------------------------------------------------------------------

// An error box with the product's caption: code 0 "initialisation failed", 1 "no memory", 2 "fatal
// error", 3 "initialisation did not complete, check the printer"; other codes show an empty text.
WATCHCORE_API void vDisplayError(QWidget* owner, uint16_t code);
// 1 when both texts have the same length and bytes (with or without regard to case), else 0.
WATCHCORE_API int32_t flstrcmpLen(const char* a, const char* b);
WATCHCORE_API int32_t flstrcmpiLen(const char* a, const char* b);
// Replaces `text` by its tab-separated field number `field` (from 1; beyond the last: empty). A
// character is never split. Returns 1.
WATCHCORE_API int32_t fGetTabStopString(char* text, uint32_t field);
// Writes a shell link to the printer's item of the printers folder in `directory`, named like a
// unique temporary file "KSWxxxx" with the extension ".LNK"; its path goes to `path`, which holds at
// least 260 bytes. 1 on success.
WATCHCORE_API int32_t fCreateShortCutFile(const char* directory, const char* printer, char* path);

// ---- Mapped file access ----------------------------------------------------------------------------

// Mode 1: map an existing file whole for reading. Mode 2: create (replace) the file with `size`
// bytes and map it for reading and writing. The file's size goes to `fileSize`; on failure the
// result is null and `handle` is set to 0 (on success it is left as the caller set it).
WATCHCORE_API void* lpvFMAPopenFile(const char* file, uint32_t mode, uint32_t size, intptr_t* handle,
                                    uint32_t* fileSize);
// Closes a nonzero `handle` (a file descriptor of the caller's) and unmaps a view of
// lpvFMAPopenFile, clearing both. 0 only when the unmap fails.
WATCHCORE_API int32_t fFMAPcloseFile(void** view, intptr_t* handle);

// ---- Shared-memory channel ----------------------------------------------------------------------
// Slot names "WTCHF" / "WTCHM" + slot number, into a buffer of at least 32 bytes; a negative slot: 0.
// Creation and opening failures show an error box ("エラー") and return 0. Copies move the whole
// count under a lock that excludes the other threads of the process and every other process, and
// refuse a count beyond the mapping. Handles are checked: a file or mapping handle that was closed,
// or never given out, and an address that is not a mapped view are refused with the call's failure
// result (a mapping handle as if it were NULL) and change nothing.

WATCHCORE_API int32_t fSharedMemoryCreateFileName(char* name, int32_t slot);
WATCHCORE_API int32_t fSharedMemoryCreateMapName(char* name, int32_t slot);
// useFile 0: kWatchcoreNoFile without touching the file system. useFile 1: `name` is a bare file
// name in the root's tmp/ folder (no '/', not "." or "..", 1 to 64 bytes); a file there keeps its
// data, a new one is made with mode 0600; links and anything but a regular file are refused.
WATCHCORE_API intptr_t hSharedMemoryCreateFile(const char* name, int32_t useFile);
WATCHCORE_API intptr_t hSharedMemoryCreateFileMapping(intptr_t file, const char* name, int32_t useFile, uint32_t size);
WATCHCORE_API void* lpvSharedMemoryMapViewFile(intptr_t mapping);
WATCHCORE_API intptr_t hSharedMemoryOpenFileMapping(const char* name);
WATCHCORE_API int32_t fSharedMemoryReadAccess(const void* view, void* buffer, uint32_t count);
WATCHCORE_API int32_t fSharedMemoryWriteAccess(void* view, const void* buffer, uint32_t count);
// A read, a change and a write as one step under the same lock, so a field the other process writes
// meanwhile is neither lost nor overwritten with an older value: `buffer` receives the record, then
// `change(buffer, context)` edits it and returns nonzero to have it written back (0 writes nothing).
// `change` runs under the lock: it must be quick and must not call the channel. 1, or 0 when a copy
// would be refused (nothing is changed then).
WATCHCORE_API int32_t fSharedMemoryChangeAccess(void* view, void* buffer, uint32_t count,
                                                int32_t (*change)(void* buffer, void* context), void* context);
// 1, or 0 when a copy of `count` bytes would be refused (no view, a count beyond the mapping).
WATCHCORE_API int32_t fSharedMemoryUpdate(void* view, uint32_t count);
// Unmaps the view, then closes the mapping (the server's close removes the name); 0 when the view
// cannot be unmapped (the mapping then stays open), or when a handle names nothing open (nothing is
// closed then). A null view or a mapping handle of 0 is skipped. The server's close takes the file
// handle too when fileOwned is set.
WATCHCORE_API int32_t fSharedMemoryClientClose(void* view, intptr_t mapping);
WATCHCORE_API int32_t fSharedMemoryServerClose(void* view, intptr_t mapping, intptr_t file, int32_t fileOwned);

// ---- Model table and eligibility ------------------------------------------------------------------

// Fills `table` with the 21 built-in models (it reads no file); the entries come from `heap` and are
// the caller's to free. 0 (count 21, no entries) when they cannot be allocated.
WATCHCORE_API int32_t fReadPrinterInfoFile(ModelTable* table, plat::Heap* heap);
// The spooler's lists, in the caller's heap (one block each). Count -1 and null on failure, 0 and
// null when the spooler has none.
WATCHCORE_API PrinterInfo2* lppiGetPrinterInformation(int32_t* count, plat::Heap* heap);
WATCHCORE_API DriverInfo2* lpdiGetDriverInformation(int32_t* count, plat::Heap* heap);
// The spooler's ports (names of at most 63 bytes); 0 when there are none or they cannot be had.
WATCHCORE_API int32_t fGetPortNameList(PortList* ports, plat::Heap* heap);

// The list program's tests, in the order it runs them; 1 accepts.
// The driver is a model's (case ignored); IJ-01/02/04/05/07/12 on "LPT" ports only; an IJ-01 port
// marked in section "Ports" of qspool3.ini (the root's Windows folder) belongs to the spool manager.
WATCHCORE_API int32_t fCheckModel(const PrinterInfo2* printer, const ModelTable* table);
// The driver's language monitor is a "Language Monitor" (IJ-01 needs none).
WATCHCORE_API int32_t fCheckDriverMonitorFlag(const char* driver);
// The model number of the printer's driver (its name matched exactly, its file by name), or
// 0xFFFFFFFF.
WATCHCORE_API uint32_t dwCheckDriver(const PrinterInfo2* printer, const DriverInfo2* drivers, uint32_t count,
                                     const ModelTable* table);
// Not a "FILE:" or "COM" port (the list is not consulted).
WATCHCORE_API int32_t fCheckOutPort(const PrinterInfo2* printer, const PortList* ports);
// The model's driver uses the model's language monitor library.
WATCHCORE_API int32_t fCheckLanguageMonitor(const ModelTable* table, uint32_t row);
// The library file of the driver's language monitor, into `output` (at least 256 bytes).
WATCHCORE_API int32_t fGetLanguageMonitorName(const char* driver, char* output);

// 1 when the spooler can open the printer.
WATCHCORE_API int32_t fCheckPrinter(const char* printer);
// The jobs in the printer's queue; 0 for a printer that cannot be opened.
WATCHCORE_API uint32_t dwGetPrinterJobCount(const char* printer);
// Classifies the entry's port through the engine and sets its connection fields (a captured port
// gets its queue path as PortName, the spooler's name kept in OriginalPortName). A port the engine
// does not serve writes "PrinterStFlag" 3 and gives 0. Changes only the caller's copy.
WATCHCORE_API int32_t fCheckConnectStatus(PrinterEntry* entry);

// ---- Status decoding ------------------------------------------------------------------------------

// Decodes the printer's stored status reply into the entry's status level, message, picture, alert
// and ink-name flag and the words of the paper block (128 words) and the information flags block
// (64 words). `lastReply` (at least 1024 bytes, empty at first) holds the reply decoded last.
// 1: a new reply was decoded; 2: the same reply as last time, nothing changed; 0: the reply could not
// be read or decoded (a new reply is kept in `lastReply` all the same).
WATCHCORE_API int32_t iGetStatus(PrinterEntry* entry, int32_t* paper, int32_t* information, char* lastReply);

// ---- Driver configuration ---------------------------------------------------------------------------

// Hands the printer's latest status (`lastReply`, with the blocks iGetStatus filled) to the maker's
// drivers: a page printer's information blob (VLPrinterInfo) or an impact printer's record
// (VLPrinterInfo2) with VLPrinterInfoSize, and in mode 0 also the device ID (VLDeviceID, from each
// printer's own store) and for impact printers the maintenance text (VLImpMaint), on every spooler
// printer of the entry's model. Updates the page printer's IC card names ("ICCardSlotA"/"B") and
// stores its print resolution in word 11 of the information block. Mode 0 after a changed status,
// 1 on the timer, 2 when the window closes. `driverBlock` is not used. Inkjets: 1 at once.
WATCHCORE_API int32_t fUpDateDriverConfig(PrinterEntry* entry, int32_t* paper, int32_t* information,
                                          const char* lastReply, void* driverBlock, uint32_t mode);
// 1 when the printer's extended reply ("GapStrings") asks for a print-head gap adjustment.
WATCHCORE_API int32_t fCheckNeedGapSetting(const char* printer);

// ---- Dialog section lists --------------------------------------------------------------------------
// A page is the widget tree of a Designer template, created inside the host window over its placeholder
// control. `instance` is the resource folder that holds the templates (":/ui/"); template "#1300" is the
// file "<instance>1300.ui". Controls are found by object name "c<number>". Only the host's thread.
// The host hears of created and destroyed pages through WatchcoreCommandEvent (watchcore_events.h).
// The list owns its category array, the templates and the pages' widgets. Once the host is gone (and
// its pages with it) only the two delete calls may be used. A category pointer stays valid only until
// the next add or delete.
struct DlgSectionCategory {
    int32_t id;
    uint32_t flags;         // 1: pruning may destroy its widgets; 2: create them when added
    const char* instance;   // the list's own copy of the caller's text
    char templateName[16];  // "#1300"
    intptr_t userValue;
    void* loadedTemplate;  // the template's bytes (owned by the list)
    int32_t controlCount;  // controls named c<number> in the template
    QWidget* page;         // the page's widget tree inside the host, null while it does not exist
    void* reserved;        // free for the implementation (e.g. the template texts to restore)
};
struct DlgSection {
    uint32_t commandBase;
    QWidget* host;
    int32_t placeholder;  // control number of the placeholder ("c1202")
    int32_t count, live, upperMark, lowerMark, current;
    void* userData;
    DlgSectionCategory* categories;  // count elements, or null
};
// 0 without a list or a host, or when the host has no placeholder control of that number.
WATCHCORE_API int32_t fInitDlgSection(DlgSection* list, uint32_t commandBase, QWidget* host, int32_t placeholder,
                                      void* userData);
// Pruning destroys the widgets of pages that are neither current nor kept (flags without 1) while more
// than upperMark pages are alive, down to lowerMark; a lowerMark of 0 or less turns it off. Prunes now.
WATCHCORE_API int32_t fSetDlgSectionThreshold(DlgSection* list, int32_t lowerMark, int32_t upperMark);
// The new category count, or 0 (no list, no instance, a name that is not "#<number>", no such template).
WATCHCORE_API int32_t iAddDlgSectionCategory(DlgSection* list, const char* instance, const char* templateName,
                                             int32_t id, uint32_t flags, intptr_t userValue);
// Hides the current page (its texts emptied) and shows page `id` (its template texts put back), creating
// its widgets when needed. 1, also when `id` is already current; 0 when `id` is missing or its widgets
// cannot be made, and `id` is current all the same (no page is shown then).
WATCHCORE_API int32_t fSelectDlgSectionCategory(DlgSection* list, int32_t id);
// Creates the widgets (hidden) of a category of this list; 1 when they exist afterwards or did before.
WATCHCORE_API int32_t fUseDlgSectionCategory(DlgSection* list, DlgSectionCategory* category);
// Destroys the category's widgets (no notification) and removes it; the new count, or -1 when missing.
WATCHCORE_API int32_t iDeleteDlgSectionCategory(DlgSection* list, int32_t id);
// Destroys every page and template (no notification) and empties the list.
WATCHCORE_API int32_t fDeleteDlgSection(DlgSection* list);
WATCHCORE_API DlgSectionCategory* pseccatGetDlgSectionCategory(DlgSection* list, int32_t id);
// -1 without a list (and when no category is current).
WATCHCORE_API int32_t iGetDlgSectionCurrentID(const DlgSection* list);
// -1 without a list.
WATCHCORE_API int32_t iGetDlgSectionCount(const DlgSection* list);
WATCHCORE_API void* lpvGetDlgSectionData(const DlgSection* list);

// ---- Window environments and list-box tab stops ---------------------------------------------------------
// The list window's placement ("KswList\Env", current user), read and written in field order.
struct ListEnviron {
    int32_t viewMode, top, left, width, height;
};
// A printer's detail-window settings (\StEnviron; the status interval lives in \Vigilmon). The arrays
// always hold 11 slots, whatever alertCount says.
struct DetailEnviron {
    uint32_t hideFlag, statusInterval, topMostFlag, printOpenFlag, errorOpenFlag, sizeCheckFlag, monitorFlag,
        selectIcon, alertCount;
    uint32_t alertTypes[11];
    uint32_t soundTypes[11];
    char* soundNames[11];  // from the caller's heap, or null
};
// Stops at the first value it cannot read and returns 0; the fields before it are set, the rest untouched.
WATCHCORE_API int32_t fGetListEnviron(ListEnviron* record);
// Creates the key if needed; stops at the first value it cannot write with 0.
WATCHCORE_API int32_t fSetListEnviron(const ListEnviron* record);
// Every field gets a value: what is stored, or its fallback (and the result is 0). Sound names of at
// most 1023 bytes are copied into blocks of `heap` (the caller frees them); a name that is missing,
// longer or cannot be allocated is null.
WATCHCORE_API int32_t fGetDetailEnviron(const char* printer, DetailEnviron* record, plat::Heap* heap);
// Creates \StEnviron if needed and writes every field (a null sound name as ""), then the size-check
// flag as \Vigilmon "PaperCheckFlag"; stops at the first value it cannot write with 0.
WATCHCORE_API int32_t fSetDetailEnviron(const char* printer, const DetailEnviron* record);
// Whether the printer's alerts also go to the desktop's notifications (\StEnviron "DesktopNotifyFlag",
// beside the record's values and not part of it). The getter gives 1 when nothing is stored, with the
// result 0; the setter creates \StEnviron if needed.
WATCHCORE_API int32_t fGetRegistoryDesktopNotifyFlag(const char* printer, uint32_t* value);
WATCHCORE_API int32_t fSetRegistoryDesktopNotifyFlag(const char* printer, uint32_t value);
// `listBox` is a QListWidget (or any QAbstractItemView over a list model). Multiplies the caller's stops
// by 4 in place (average character widths to dialog units) and draws each line's tab-separated fields
// at them: no stops, a tab every 32 dialog units; one, a tab every stops[0]. 0 for anything but a list
// view, and, with the array untouched, for stops that would not fit 32 bits.
WATCHCORE_API int32_t fSetListBoxTabStops(QWidget* listBox, int32_t* stops, int32_t count);
// Field `column` (from 1, as fGetTabStopString counts) of row `line` into `output`; 0 when there is no
// such row or the field with its terminating zero does not fit `size` bytes (output untouched).
WATCHCORE_API int32_t fGetListBoxTabStops(QWidget* listBox, int32_t line, uint32_t column, char* output, uint32_t size);

// ---- The services the exports use -------------------------------------------------------------------

// Not one of the system's exports: a program hands the library the services its main() built (before
// its first other call; it keeps them for the life of the process), so the exports share its store and
// spooler. Without it the library makes its own for the current system root.
WATCHCORE_API void vWatchcoreUseServices(plat::Services* services);
