// Small services of both programs: the error box, the whole-string comparisons, one tab-separated
// field of a line, and the printer shortcut file that opens a printer's queue window.

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include "plat/base/message_box.h"
#include "plat/base/trace.h"
#include "plat/text/text.h"
#include "watchcore.h"

namespace {

constexpr const char* kProductCaption = "VELTA ｹｽﾄﾚﾙ";
// The path buffer the callers of fCreateShortCutFile give: the platform's path limit.
constexpr std::size_t kPathBuffer = 260;

const char* errorText(std::uint16_t code)
{
    switch (code) {
    case 0: return "初期化に失敗しました。\nアプリケーションを終了して下さい。";
    case 1: return "メモリがありません。\nアプリケーションを終了して下さい。";
    case 2: return "致命的なエラーが発生しました。\nアプリケーションを終了して下さい。";
    case 3: return "初期化が完了しませんでした。\r\nプリンタの状態を確認してください。";
    default: return "";  // the library has no text for it
    }
}

// The shell link of a printer: a target item list of the computer folder, the printers folder and
// the printer's own item, all numbers little-endian.
std::string shortcutBytes(std::string_view printer)
{
    const std::size_t n = printer.size();
    std::string bytes(120, '\0');
    auto put16 = [&](std::size_t at, std::size_t v) {
        bytes[at] = static_cast<char>(v & 0xff);
        bytes[at + 1] = static_cast<char>((v >> 8) & 0xff);
    };
    auto put = [&](std::size_t at, std::initializer_list<unsigned char> values) {
        for (unsigned char v : values) bytes[at++] = static_cast<char>(v);
    };
    put(0, {0x4C, 0, 0, 0});
    put(4, {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46});
    put(20, {0x01, 0, 0, 0});
    put16(76, n + 45);
    put16(78, 20);
    put(80, {0x1F, 0x00});
    put(82, {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D});
    put16(98, 20);
    put(100, {0x2E, 0x00});
    put(102, {0x80, 0xA2, 0x27, 0x22, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xDE, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D});
    put16(118, n + 3);
    bytes.append(printer);
    bytes.append(3, '\0');  // end of the name, end of the item list
    return bytes;
}

// A new file "KSWxxxx.TMP" in `directory` whose ".LNK" sibling does not exist either, made with
// O_EXCL so two processes never get the same one.
int createUniqueTemporary(const std::string& directory, std::string& path)
{
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 200; ++attempt) {
        char name[16];
        std::snprintf(name, sizeof name, "KSW%04X", static_cast<unsigned>(random() & 0xFFFF));
        const std::string base = directory + (directory.empty() || directory.back() == '/' ? "" : "/") + name;
        if (::access((base + ".LNK").c_str(), F_OK) == 0) continue;
        int fd = ::open((base + ".TMP").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            path = base + ".TMP";
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

}  // namespace

void vDisplayError(QWidget* owner, uint16_t code) { plat::messageBox(kProductCaption, errorText(code), owner); }

int32_t flstrcmpLen(const char* a, const char* b)
{
    return a != nullptr && b != nullptr && plat::text::equalWhole(a, b);
}

int32_t flstrcmpiLen(const char* a, const char* b)
{
    return a != nullptr && b != nullptr && plat::text::equalWholeIgnoringCase(a, b);
}

int32_t fGetTabStopString(char* text, uint32_t field)
{
    if (text == nullptr) return 0;
    const std::string_view line(text);
    std::string kept;
    std::uint32_t counter = 1;
    for (std::size_t at = 0; at < line.size();) {
        // A character (one UTF-8 sequence) is copied or skipped whole.
        const std::size_t length = plat::text::characterLength(line.substr(at));
        if (length == 1 && line[at] == '\t') {
            ++counter;
        } else if (counter == field) {
            kept.append(line.substr(at, length));
        }
        at += length;
    }
    std::memcpy(text, kept.c_str(), kept.size() + 1);  // never longer than the line it came from
    return 1;
}

int32_t fCreateShortCutFile(const char* directory, const char* printer, char* path)
{
    if (directory == nullptr || printer == nullptr || path == nullptr) return 0;
    std::string temporary;
    int fd = createUniqueTemporary(directory, temporary);
    if (fd < 0) {
        plat::trace(std::string("shortcut: no temporary file in ") + directory + ": " + std::strerror(errno));
        return 0;
    }
    const std::string bytes = shortcutBytes(printer);
    const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    if (!written) return 0;
    const std::string shortcut = temporary.substr(0, temporary.size() - 4) + ".LNK";
    if (shortcut.size() >= kPathBuffer) return 0;
    std::memcpy(path, shortcut.c_str(), shortcut.size() + 1);
    // Never over a shortcut that appeared meanwhile: the temporary file stays behind instead.
    return ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, shortcut.c_str(), RENAME_NOREPLACE) == 0;
}
