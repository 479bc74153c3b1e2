#pragma once
// The version strings of the About boxes, compiled into the programs.

#include <QString>
#include <optional>

namespace kestrel {

// The value of a version key ("CompanyName", "FileDescription", "FileVersion", "LegalCopyright",
// "LegalTrademarks"); `description` and `trademark` are the program's own FileDescription and
// LegalTrademarks. Nothing for another key.
std::optional<QString> versionString(const QString& key, const QString& description, const QString& trademark);

}  // namespace kestrel
