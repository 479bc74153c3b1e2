#include "resources/language.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTranslator>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "plat/base/trace.h"

namespace kestrel {
namespace {

std::mutex languageMutex;
std::string chosen(kOwnLanguage);  // guarded by languageMutex
// The translators useLanguage() installed, kept so that a second call can take them out again.
std::vector<std::unique_ptr<QTranslator>> installed;  // GUI thread only

// "ja_JP.UTF-8@mod" → "ja_JP"; "C.UTF-8" → "C".
std::string localeName(std::string_view value)
{
    const std::size_t end = value.find_first_of(".@");
    return std::string(value.substr(0, end));
}

bool isPlainC(const std::string& name) { return name.empty() || name == "C" || name == "POSIX"; }

// A name of an available language for `name` ("pt_BR" → "pt_BR" or "pt"); nothing when we have neither.
std::optional<std::string> match(const std::string& name, const std::vector<std::string>& available)
{
    auto have = [&](const std::string& code) {
        return std::find(available.begin(), available.end(), code) != available.end();
    };
    if (name.empty()) return std::nullopt;
    if (have(name)) return name;
    const std::string language = name.substr(0, name.find('_'));
    if (have(language)) return language;
    return std::nullopt;
}

// A folder under :/strings/ that holds a language's tables rather than a window's: "en", "pt_BR".
bool isLanguageCode(const QString& name)
{
    static const QRegularExpression code(QStringLiteral("^[a-z]{2,3}(_[A-Z]{2})?$"));
    return code.match(name).hasMatch();
}

}  // namespace

std::string chooseLanguage(const EnvironmentReader& variable, const std::vector<std::string>& available)
{
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const std::optional<std::string> value = variable(name);
        if (value && !value->empty()) {
            locale = localeName(*value);
            break;
        }
    }
    if (isPlainC(locale)) return std::string(kDefaultLanguage);
    if (const std::optional<std::string> list = variable("LANGUAGE"); list && !list->empty()) {
        std::size_t from = 0;
        while (from <= list->size()) {
            const std::size_t to = std::min(list->find(':', from), list->size());
            if (auto found = match(localeName(std::string_view(*list).substr(from, to - from)), available))
                return *found;
            from = to + 1;
        }
    }
    if (auto found = match(locale, available)) return *found;
    return std::string(kDefaultLanguage);
}

std::vector<std::string> availableLanguages()
{
    std::vector<std::string> languages{std::string(kOwnLanguage), std::string(kDefaultLanguage)};
    for (const QString& folder : QDir(QStringLiteral(":/strings")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const std::string code = folder.toStdString();
        if (isLanguageCode(folder) && std::find(languages.begin(), languages.end(), code) == languages.end())
            languages.push_back(code);
    }
    return languages;
}

std::string languageFromEnvironment()
{
    return chooseLanguage(
        [](const char* name) -> std::optional<std::string> {
            const char* value = std::getenv(name);
            if (value == nullptr) return std::nullopt;
            return std::string(value);
        },
        availableLanguages());
}

void useLanguage(const std::string& language)
{
    {
        std::lock_guard lock(languageMutex);
        chosen = language.empty() ? std::string(kOwnLanguage) : language;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    for (const auto& translator : installed) QCoreApplication::removeTranslator(translator.get());
    installed.clear();
    // Qt asks the translator installed last first, so the most particular language goes in last.
    for (const std::string& layer : languageLayers()) {
        auto translator = std::make_unique<QTranslator>();
        const QString file = QStringLiteral(":/translations/kestrel_%1.qm").arg(QString::fromStdString(layer));
        if (!QFile::exists(file) || !translator->load(file)) {
            plat::trace("language: no window texts in " + layer);
            continue;
        }
        QCoreApplication::installTranslator(translator.get());
        installed.push_back(std::move(translator));
    }
}

std::string currentLanguage()
{
    std::lock_guard lock(languageMutex);
    return chosen;
}

std::vector<std::string> languageLayers()
{
    const std::string language = currentLanguage();
    if (language == kOwnLanguage) return {};
    if (language == kDefaultLanguage) return {language};
    return {std::string(kDefaultLanguage), language};
}

}  // namespace kestrel
