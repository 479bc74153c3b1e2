#include "resources/string_table.h"

#include <QFile>
#include <QString>

#include <charconv>
#include <vector>

#include "plat/base/trace.h"
#include "plat/base/utf8.h"
#include "resources/language.h"

namespace kestrel {
namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Turns the escapes of a stored text into bytes; nothing when an escape is broken.
std::optional<std::string> unescape(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out.push_back(in[i]);
            continue;
        }
        if (++i == in.size()) {
            return std::nullopt;
        }
        switch (in[i]) {
        case '\\': out.push_back('\\'); break;
        case 'r': out.push_back('\r'); break;
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case '&': {
            // A mnemonic inside a word ("\&Frequency"): the letter between the two marks.
            if (++i == in.size()) return std::nullopt;
            std::size_t end = i + 1;
            while (end < in.size() && (static_cast<unsigned char>(in[end]) & 0xC0) == 0x80) ++end;
            out.push_back('\x1e');
            out.append(in.substr(i, end - i));
            out.push_back('\x1f');
            i = end - 1;
            break;
        }
        case 'x': {
            if (in.size() - i < 3) {  // two hex digits must follow
                return std::nullopt;
            }
            const int high = hexDigit(in[i + 1]);
            const int low = hexDigit(in[i + 2]);
            // A NUL would cut the text short wherever it is used as a C string.
            if (high < 0 || low < 0 || (high == 0 && low == 0)) {
                return std::nullopt;
            }
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
            break;
        }
        default: return std::nullopt;
        }
    }
    return out;
}

}  // namespace

StringTable StringTable::parse(std::string_view bytes, std::string_view name)
{
    StringTable table;
    // A byte-order mark from an editor is not part of the first number.
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    int lineNumber = 0;
    auto reject = [&](std::string_view why) {
        ++table.badLines_;
        plat::trace(std::string(name) + ":" + std::to_string(lineNumber) + ": " + std::string(why));
    };
    while (!bytes.empty()) {
        ++lineNumber;
        const std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.starts_with('#')) {
            continue;
        }
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) {
            reject("no tab");
            continue;
        }
        const std::string_view digits = line.substr(0, tab);
        int number = 0;
        const auto [rest, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (digits.empty() || error != std::errc() || rest != digits.data() + digits.size() || number < 0) {
            reject("not a number");
            continue;
        }
        std::optional<std::string> text = unescape(line.substr(tab + 1));
        if (!text) {
            reject("broken escape");
            continue;
        }
        if (!plat::isValidUtf8(*text)) {
            reject("not UTF-8");
            continue;
        }
        // Like an escaped one, a zero byte would cut the text short wherever it is used as a C string.
        if (text->find('\0') != std::string::npos) {
            reject("a zero byte");
            continue;
        }
        if (!table.texts_.emplace(number, std::move(*text)).second) {
            reject("number " + std::to_string(number) + " again");
        }
    }
    return table;
}

StringTable StringTable::loadFile(std::string_view resourcePath)
{
    const QString path = QString::fromUtf8(resourcePath.data(), static_cast<qsizetype>(resourcePath.size()));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        plat::trace("string table " + std::string(resourcePath) + " not found");
        return {};
    }
    const QByteArray bytes = file.readAll();
    return parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), resourcePath);
}

StringTable StringTable::load(std::string_view resourcePath)
{
    StringTable table = loadFile(resourcePath);
    constexpr std::string_view kFolder = ":/strings/";
    if (!resourcePath.starts_with(kFolder)) return table;
    const std::string_view name = resourcePath.substr(kFolder.size());
    for (const std::string& language : languageLayers()) {
        // A language may leave out a table whose texts are data (the sound file names): those stay.
        const std::string translated = std::string(kFolder) + language + "/" + std::string(name);
        if (!QFile::exists(QString::fromStdString(translated))) continue;
        StringTable layer = loadFile(translated);
        table.badLines_ += layer.badLines_;
        for (auto& [number, text] : layer.texts_) table.texts_[number] = std::move(text);
    }
    return table;
}

StringTable StringTable::loadAll(std::initializer_list<std::string_view> resourcePaths)
{
    StringTable all;
    for (std::string_view path : resourcePaths) {
        StringTable one = load(path);
        all.badLines_ += one.badLines_;
        for (auto& [number, text] : one.texts_) {
            if (!all.texts_.try_emplace(number, std::move(text)).second) {
                plat::trace("string " + std::to_string(number) + " of " + std::string(path) + " is held twice");
                ++all.badLines_;
            }
        }
    }
    return all;
}

std::optional<std::string> StringTable::text(int number) const
{
    const auto found = texts_.find(number);
    if (found == texts_.end()) {
        return std::nullopt;
    }
    if (found->second == " ") {
        return std::string();
    }
    return found->second;
}

QString displayText(std::string_view stored, bool caption)
{
    std::string out;
    out.reserve(stored.size() + 2);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const char c = stored[i];
        if (c == '\x1e') {
            if (i + 1 == stored.size()) break;
            // The Latin letter is the mnemonic; the katakana letter up to the closing mark is dropped.
            if (caption) out += '&';
            out += stored[i + 1];
            const std::size_t close = stored.find('\x1f', i + 2);
            if (close == std::string_view::npos) {
                ++i;
                continue;
            }
            // A katakana letter may follow the mark ("(\x1eA\x1fﾊ)"): it is dropped. In a language that
            // marks a letter inside a word ("\x1eF\x1frequency") the word goes on after the mark.
            std::size_t end = close + 1;
            if (end < stored.size() && (static_cast<unsigned char>(stored[end]) & 0x80) != 0) {
                ++end;
                while (end < stored.size() && (static_cast<unsigned char>(stored[end]) & 0xC0) == 0x80) ++end;
            }
            i = end - 1;
            continue;
        }
        if (c == '\x1f') continue;
        if (c == '\r' && i + 1 < stored.size() && stored[i + 1] == '\n') continue;
        if (c == '&' && caption) out += '&';
        out += c;
    }
    return QString::fromUtf8(out.data(), static_cast<qsizetype>(out.size()));
}

std::string fillIn(std::string_view stored, std::initializer_list<std::string_view> arguments)
{
    const std::vector<std::string_view> values(arguments);
    std::string out;
    out.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == '%' && i + 1 < stored.size() && stored[i + 1] >= '1' && stored[i + 1] <= '9') {
            const auto index = static_cast<std::size_t>(stored[i + 1] - '1');
            if (index < values.size()) {
                out += values[index];
                ++i;
                continue;
            }
        }
        out += stored[i];
    }
    return out;
}

}  // namespace kestrel
