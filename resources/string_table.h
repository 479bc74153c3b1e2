#pragma once
// The numbered texts of the windows. Each table is a UTF-8 data file compiled into the program: one line
// per text, the number, a tab, then the text; a line that starts with '#' is a comment. In the text
// \x1e and \x1f stand for the two control characters around a mnemonic pair, \r \n \t for the
// line-break and tab characters, \\ for a backslash and any other \xHH (not \x00) for that byte; "\&"
// marks the next character as a mnemonic inside a word ("\&Frequency" is "\x1eF\x1frequency"); everything
// else is taken as it stands. The data files write a text's trailing spaces as \x20 so that no line ends in
// whitespace an editor might drop. A text of one single space is an empty text. A line that cannot be read
// is reported to the trace hook and skipped, so a damaged table loses that text only.
//
// The tables under :/strings/ are the system's own, in Japanese; a language other than Japanese has the
// same tables, with the same numbers, in :/strings/<language>/ (see resources/language.h).

#include <cstddef>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <QString>

namespace kestrel {

class StringTable {
public:
    StringTable() = default;

    // Reads the table from a data file's bytes; `name` only labels trace texts.
    static StringTable parse(std::string_view bytes, std::string_view name = "strings");

    // Reads the table from a compiled-in resource, e.g. ":/strings/status_page.txt", in the language in
    // use: a table under :/strings/ gets the texts of :/strings/<language>/ in place of the Japanese ones
    // (each number on its own, so a text the language lacks stays Japanese; a table the language leaves
    // out, the sound file names, stays whole). A missing resource gives an empty table (reported to the
    // trace hook).
    static StringTable load(std::string_view resourcePath);

    // Reads that one file as it stands, in no particular language.
    static StringTable loadFile(std::string_view resourcePath);

    // Reads several compiled-in tables as one; a number that two tables hold keeps the first one's text
    // and counts as a bad line.
    static StringTable loadAll(std::initializer_list<std::string_view> resourcePaths);

    // The UTF-8 text of `number`: empty for a single-space text, nothing when the table lacks it.
    std::optional<std::string> text(int number) const;

    bool contains(int number) const { return texts_.contains(number); }
    // Every number and its text as stored (a single space stays a single space).
    const std::map<int, std::string>& texts() const { return texts_; }
    std::size_t size() const { return texts_.size(); }
    // Lines that were skipped because they could not be read (no tab, bad number, bad escape,
    // not UTF-8, a zero byte, a number seen before).
    int badLines() const { return badLines_; }

private:
    std::map<int, std::string> texts_;  // as stored: a single space stays a single space
    int badLines_ = 0;
};

// A stored text as a widget shows it. "\r\n" becomes a line break. For a caption (a button, a label with
// a buddy, a menu item) a mnemonic pair "\x1eA\x1fﾊ" becomes Qt's "&A", the letter the user presses with
// Alt, and any other '&' is doubled so that it shows as it stands; elsewhere the pair becomes "A". The
// katakana letter after the pair is optional: "\x1eF\x1frequency" is "&Frequency" or "Frequency".
QString displayText(std::string_view stored, bool caption = false);

// A stored text with its places %1 .. %9 filled by `arguments` in order ("%1" the first); a place without
// an argument, and any other '%', stays as it stands. The table decides where each value goes, so another
// language can put them in its own order.
std::string fillIn(std::string_view stored, std::initializer_list<std::string_view> arguments);

}  // namespace kestrel
