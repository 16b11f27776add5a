#include "common/IsoLanguageNames.h"

#include "common/MoCatalogue.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The tables in the order they are asked: ISO 639-3 names single languages
// plainly ("Spanish", where 639-2 says "Spanish; Castilian"); 639-2 adds the
// collective codes.
const char *const Tables[] = {"639-3", "639-2"};

QJsonArray entriesOf(const QString &folder, const QString &table)
{
    QFile file(folder + QStringLiteral("/iso_") + table + QStringLiteral(".json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value(table).toArray();
}

} // namespace

TIsoLanguageNames::TIsoLanguageNames(const QString &locale, const QString &isoCodesFolder, const QString &localeFolder)
    : m_locale(locale), m_isoCodesFolder(isoCodesFolder), m_localeFolder(localeFolder)
{
}

TIsoLanguageNames::~TIsoLanguageNames() = default;

void TIsoLanguageNames::Load() const
{
    m_loaded = true;
    for (int table = 0; table < 2; ++table) {
        const QString name = QLatin1String(Tables[table]);
        for (const QJsonValue &value : entriesOf(m_isoCodesFolder, name)) {
            const QJsonObject entry = value.toObject();
            const QString english = entry.value(QLatin1String("name")).toString();
            for (const char *field : {"alpha_3", "alpha_2", "bibliographic"}) {
                const QString code = entry.value(QLatin1String(field)).toString();
                if (!code.isEmpty() && !english.isEmpty() && !m_names.contains(code))
                    m_names.insert(code, {english, table});
            }
        }
        if (!m_locale.isEmpty())
            m_catalogues[table] =
                std::make_unique<TMoCatalogue>(m_localeFolder + QLatin1Char('/') + m_locale
                                               + QStringLiteral("/LC_MESSAGES/iso_") + name + QStringLiteral(".mo"));
    }
}

QString TIsoLanguageNames::NameOf(const QString &code) const
{
    if (!m_loaded)
        Load();
    const auto found = m_names.constFind(code.trimmed().toLower());
    if (found == m_names.cend())
        return QString();
    const TMoCatalogue *catalogue = m_catalogues[found->table].get();
    const QString translated = catalogue ? catalogue->Translate(found->name) : QString();
    return translated.isEmpty() ? found->name : translated;
}
