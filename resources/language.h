#pragma once
// The language of the texts a program shows. Japanese is the system's own language: its string tables
// (resources/strings/), window templates (resources/ui/) and help page (resources/help/) are written in
// it. Every other language is a set of files beside them, named by the language's code:
//   resources/strings/<code>/...      the numbered texts, the same tables and numbers as the Japanese ones
//   resources/translations/kestrel_<code>.ts   the window templates' texts and the message boxes' texts
//   resources/help/<code>/watchlist.html       the help page
// A locale whose language has no files gets English. Stored data (store names, sound file names) and the
// keywords of machine-readable output never depend on the language.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

inline constexpr std::string_view kOwnLanguage = "ja";      // the system's own texts
inline constexpr std::string_view kDefaultLanguage = "en";  // every locale we have no texts for

// Reads one environment variable: nothing when it is not set.
using EnvironmentReader = std::function<std::optional<std::string>(const char* name)>;

// The language for a locale environment, read as gettext reads it for messages: the locale is the first
// of LC_ALL, LC_MESSAGES and LANG that is set and not empty; none, "C" or "POSIX" (with any codeset)
// gives English, and then LANGUAGE is not read. Otherwise the first entry of LANGUAGE (a list separated
// by colons) that names an `available` language wins, else the locale's own language when it is
// available, else English. "ja_JP.UTF-8", "ja" and "ja_JP.eucJP" are all Japanese; a name "pt_BR" is
// tried as itself and then as "pt".
std::string chooseLanguage(const EnvironmentReader& variable, const std::vector<std::string>& available);

// The languages this program holds texts for: "ja", "en" and every other folder of string tables.
std::vector<std::string> availableLanguages();

// chooseLanguage() over this process's environment and availableLanguages(); for main().
std::string languageFromEnvironment();

// Makes `language` the language of this process: string tables read from now on come in it, and, when a
// Qt application object exists (make it first), Qt's translator gives the window templates' and message
// boxes' texts in it. Call it once at start, before the first text is read: tables a program has already
// read keep their texts. GUI thread (or the only thread) only.
void useLanguage(const std::string& language);

// The language in use: "ja" until useLanguage() chose another.
std::string currentLanguage();

// The languages whose files are read on top of the Japanese ones, most general first: {} for Japanese,
// {"en"} for English, {"en", "de"} for German (so a text German lacks comes in English).
std::vector<std::string> languageLayers();

}  // namespace kestrel
