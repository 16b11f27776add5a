#pragma once

#include <QHash>
#include <QString>

#include <memory>

class TMoCatalogue;

// Names of languages by their ISO 639 codes, from Debian's iso-codes: the
// English names of its ISO 639-3 and 639-2 tables, translated by its gettext
// catalogues. The tables are read at the first look-up.
class TIsoLanguageNames
{
public:
    static constexpr const char *IsoCodesFolder = "/usr/share/iso-codes/json";
    static constexpr const char *LocaleFolder = "/usr/share/locale";

    // locale: the catalogues' language ("ja", "zh_CN"); empty for English.
    explicit TIsoLanguageNames(const QString &locale, const QString &isoCodesFolder = QLatin1String(IsoCodesFolder),
                               const QString &localeFolder = QLatin1String(LocaleFolder));
    ~TIsoLanguageNames();

    // The language a code names (ISO 639-1, 639-2/T, 639-2/B or 639-3, in any
    // capitals) in the locale, else in English; empty for a code the tables
    // do not hold.
    QString NameOf(const QString &code) const;

private:
    struct TEntry
    {
        QString name;
        int table = 0; // which table, and so which catalogue, names it
    };
    void Load() const;

    QString m_locale;
    QString m_isoCodesFolder;
    QString m_localeFolder;
    mutable bool m_loaded = false;
    mutable QHash<QString, TEntry> m_names;
    mutable std::unique_ptr<TMoCatalogue> m_catalogues[2];
};
