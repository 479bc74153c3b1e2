// The languages of the texts: which one a locale gets, that the string tables come in it, and that every
// language's tables match the Japanese ones text for text.

#include "resources/language.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "resources/string_table.h"

namespace {

using kestrel::StringTable;

// --- Which language a locale gets ---------------------------------------------------------------------

struct LocaleCase {
    const char* name;
    std::map<std::string, std::string> variables;
    const char* language;
};

std::string languageOf(const std::map<std::string, std::string>& variables, std::vector<std::string> available)
{
    return kestrel::chooseLanguage(
        [&](const char* name) -> std::optional<std::string> {
            const auto found = variables.find(name);
            if (found == variables.end()) return std::nullopt;
            return found->second;
        },
        available);
}

TEST(Language, ALocaleGetsItsLanguageAsGettextReadsIt)
{
    const LocaleCase cases[] = {
        {"nothing set", {}, "en"},
        {"a Japanese LANG", {{"LANG", "ja_JP.UTF-8"}}, "ja"},
        {"Japanese without a country or codeset", {{"LANG", "ja"}}, "ja"},
        {"Japanese in another codeset", {{"LANG", "ja_JP.eucJP"}}, "ja"},
        {"an English LANG", {{"LANG", "en_GB.UTF-8"}}, "en"},
        {"a language without texts", {{"LANG", "de_DE.UTF-8"}}, "en"},
        {"C", {{"LANG", "C"}}, "en"},
        {"C.UTF-8", {{"LANG", "C.UTF-8"}}, "en"},
        {"POSIX", {{"LANG", "POSIX"}}, "en"},
        {"LC_ALL before LANG", {{"LC_ALL", "en_US.UTF-8"}, {"LANG", "ja_JP.UTF-8"}}, "en"},
        {"LC_MESSAGES before LANG", {{"LC_MESSAGES", "ja_JP.UTF-8"}, {"LANG", "en_US.UTF-8"}}, "ja"},
        {"LC_ALL before LC_MESSAGES", {{"LC_ALL", "ja_JP.UTF-8"}, {"LC_MESSAGES", "en_US.UTF-8"}}, "ja"},
        {"an empty LC_ALL counts as unset", {{"LC_ALL", ""}, {"LANG", "ja_JP.UTF-8"}}, "ja"},
        {"LANGUAGE before the locale", {{"LANGUAGE", "ja"}, {"LANG", "en_US.UTF-8"}}, "ja"},
        {"the first LANGUAGE entry we have", {{"LANGUAGE", "fr:de_AT:ja:en"}, {"LANG", "en_US.UTF-8"}}, "ja"},
        {"LANGUAGE without a language we have", {{"LANGUAGE", "fr:de"}, {"LANG", "ja_JP.UTF-8"}}, "ja"},
        {"LANGUAGE is not read in the C locale", {{"LANGUAGE", "ja"}, {"LANG", "C.UTF-8"}}, "en"},
        {"LANGUAGE is not read without a locale", {{"LANGUAGE", "ja"}}, "en"},
        {"a locale with a modifier", {{"LANG", "ja_JP.UTF-8@mod"}}, "ja"},
    };
    for (const LocaleCase& c : cases) EXPECT_EQ(languageOf(c.variables, {"ja", "en"}), c.language) << c.name;
}

TEST(Language, ALanguageWithFilesIsChosenByItsOwnOrItsCountrysName)
{
    const std::vector<std::string> available{"ja", "en", "de", "pt_BR"};
    EXPECT_EQ(languageOf({{"LANG", "de_AT.UTF-8"}}, available), "de");
    EXPECT_EQ(languageOf({{"LANG", "pt_BR.UTF-8"}}, available), "pt_BR");
    EXPECT_EQ(languageOf({{"LANG", "pt_PT.UTF-8"}}, available), "en");
    EXPECT_EQ(languageOf({{"LANGUAGE", "pt_PT:de"}, {"LANG", "ja_JP.UTF-8"}}, available), "de");
}

TEST(Language, TheProgramHoldsJapaneseAndEnglishAndNoWindowFolderCountsAsALanguage)
{
    const std::vector<std::string> languages = kestrel::availableLanguages();
    EXPECT_EQ(languages.front(), "ja");
    EXPECT_NE(std::find(languages.begin(), languages.end(), "en"), languages.end());
    EXPECT_EQ(std::find(languages.begin(), languages.end(), "list"), languages.end());
    EXPECT_EQ(std::find(languages.begin(), languages.end(), "tools"), languages.end());
}

// --- The tables in the language in use ----------------------------------------------------------------

TEST(Language, TablesComeInTheLanguageInUseAndDataStaysAsItIs)
{
    EXPECT_EQ(kestrel::currentLanguage(), "ja") << "the system's own texts until a program chooses";
    EXPECT_EQ(StringTable::load(":/strings/main_window.txt").text(10012), "環境設定");

    kestrel::useLanguage("en");
    EXPECT_EQ(StringTable::load(":/strings/main_window.txt").text(10012), "Settings");
    EXPECT_EQ(StringTable::load(":/strings/list/list_window.txt").text(10102), "Cannot monitor");
    EXPECT_EQ(StringTable::load(":/strings/status_page.txt").text(10134), "") << "an empty cell stays empty";
    // Sound file names are stored data: the same in every language.
    EXPECT_EQ(StringTable::load(":/strings/alert_sounds.txt").text(15300), "01READY.WAV");
    EXPECT_EQ(StringTable::loadFile(":/strings/main_window.txt").text(10012), "環境設定") << "one file as it is";

    // A language without its own tables reads English, the texts every other locale gets.
    kestrel::useLanguage("de");
    EXPECT_EQ((kestrel::languageLayers()), (std::vector<std::string>{"en", "de"}));
    EXPECT_EQ(StringTable::load(":/strings/main_window.txt").text(10012), "Settings");

    kestrel::useLanguage("ja");
    EXPECT_TRUE(kestrel::languageLayers().empty());
    EXPECT_EQ(StringTable::load(":/strings/main_window.txt").text(10012), "環境設定");
}

// --- Every language's tables against the Japanese ones -----------------------------------------------

// Tables whose texts are data, not words: no language has its own.
const std::set<QString> kLanguageNeutral = {QStringLiteral("alert_sounds.txt")};

bool isLanguageFolder(const QString& relative, const std::vector<std::string>& languages)
{
    const std::string first = relative.section(QLatin1Char('/'), 0, 0).toStdString();
    return relative.contains(QLatin1Char('/')) &&
           std::find(languages.begin(), languages.end(), first) != languages.end();
}

// The Japanese tables, by their path under :/strings/.
std::vector<QString> japaneseTables()
{
    const std::vector<std::string> languages = kestrel::availableLanguages();
    std::vector<QString> tables;
    QDirIterator it(QStringLiteral(":/strings"), {QStringLiteral("*.txt")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = it.next().mid(QStringLiteral(":/strings/").size());
        if (!isLanguageFolder(relative, languages)) tables.push_back(relative);
    }
    std::sort(tables.begin(), tables.end());
    return tables;
}

// What a text must keep in every language: its places to fill, in any order ("%s", "%d", "%1").
std::multiset<std::string> placeholders(const std::string& text)
{
    static const QRegularExpression place(QStringLiteral("%[sd1-9]"));
    std::multiset<std::string> found;
    auto matches = place.globalMatch(QString::fromStdString(text));
    while (matches.hasNext()) found.insert(matches.next().captured().toStdString());
    return found;
}

int mnemonics(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\x1e')); }

// Line breaks that separate parts ("status text\ntool tip"); "\r\n" only wraps a long text.
int partBreaks(const std::string& text)
{
    int breaks = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) ++breaks;
    return breaks;
}

// Kana, kanji and the full- and half-width forms: in another language's text a sign it was not translated.
bool hasJapanese(const std::string& text)
{
    for (const QChar c : QString::fromStdString(text)) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xFF00 && u <= 0xFFEF)) return true;
    }
    return false;
}

TEST(LanguageTables, EveryLanguageHasEveryJapaneseTextWithItsPlacesAndMnemonic)
{
    const std::vector<QString> tables = japaneseTables();
    ASSERT_GE(tables.size(), 20u);
    for (const std::string& language : kestrel::availableLanguages()) {
        if (language == kestrel::kOwnLanguage) continue;
        for (const QString& table : tables) {
            const QString translatedPath =
                QStringLiteral(":/strings/%1/%2").arg(QString::fromStdString(language), table);
            const std::string where = language + "/" + table.toStdString();
            if (kLanguageNeutral.contains(table)) {
                EXPECT_FALSE(QFile::exists(translatedPath)) << where << " holds data that no language changes";
                continue;
            }
            const StringTable japanese = StringTable::loadFile((QStringLiteral(":/strings/") + table).toStdString());
            const StringTable translated = StringTable::loadFile(translatedPath.toStdString());
            ASSERT_TRUE(QFile::exists(translatedPath)) << where << " is missing";
            EXPECT_EQ(translated.badLines(), 0) << where;
            for (const auto& [number, text] : japanese.texts()) {
                const auto other = translated.texts().find(number);
                if (other == translated.texts().end()) {
                    ADD_FAILURE() << where << ": no text " << number;
                    continue;
                }
                const std::string& words = other->second;
                const std::string at = where + " " + std::to_string(number) + " \"" + words + "\"";
                // An empty cell means something (no explanation disables the troubleshooting button); a
                // text may be empty where the language says it another way ("50% left").
                if (text == " ") {
                    EXPECT_EQ(words, " ") << at << ": an empty cell stays empty";
                }
                EXPECT_EQ(placeholders(words), placeholders(text)) << at;
                EXPECT_EQ(mnemonics(words), mnemonics(text)) << at;
                EXPECT_EQ(partBreaks(words), partBreaks(text)) << at;
                EXPECT_FALSE(hasJapanese(words)) << at << ": not translated";
                if (mnemonics(words) == 1) {
                    const char letter = words[words.find('\x1e') + 1];
                    EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(letter))) << at << ": a key to press";
                }
            }
            for (const auto& [number, text] : translated.texts())
                EXPECT_TRUE(japanese.contains(number)) << where << ": " << number << " is not a Japanese text";
        }
    }
}

TEST(LanguageTables, NoTableFolderOfTheProgramIsTakenForALanguage)
{
    // A language is a folder whose name is a language code: a window's folder of tables must not be one.
    for (const QString& table : japaneseTables()) {
        const QString folder = table.section(QLatin1Char('/'), 0, -2);
        if (folder.isEmpty()) continue;
        EXPECT_FALSE(QRegularExpression(QStringLiteral("^[a-z]{2,3}(_[A-Z]{2})?$")).match(folder).hasMatch())
            << folder.toStdString();
    }
}

}  // namespace
