#pragma once
// Watchcore: the common services of both programs. This header is the library's whole export list,
// grouped by family. Every export is a plain C function; a success flag is 1 for success and 0 for
// failure; text is char* in the system code page (UTF-8); a printer is named by its spooler name.
// No export keeps state between calls: every registry access opens its key, reads or writes one
// value and closes the key again.

#include <stdint.h>

#include "printer_entry.h"

#define WATCHCORE_API extern "C" __attribute__((visibility("default")))

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
