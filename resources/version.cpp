#include "resources/version.h"

#ifndef KESTREL_VERSION
#define KESTREL_VERSION "0.0.0"
#endif

namespace kestrel {

std::optional<QString> versionString(const QString& key, const QString& description, const QString& trademark)
{
    if (key == QLatin1String("CompanyName")) return QStringLiteral("VELTA");
    if (key == QLatin1String("FileDescription")) return description;
    if (key == QLatin1String("FileVersion")) return QStringLiteral(KESTREL_VERSION);
    if (key == QLatin1String("LegalCopyright")) return QStringLiteral("Copyright (C) 2026 VELTA");
    if (key == QLatin1String("LegalTrademarks")) return trademark;
    return std::nullopt;
}

}  // namespace kestrel
