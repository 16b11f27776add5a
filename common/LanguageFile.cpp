#include "common/LanguageFile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {

QString readDecoded(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return DecodeLanguageText(file.readAll(), LegacyEncodingOf(fileName));
}

} // namespace

QString DecodeLanguageText(const QByteArray &bytes, const QByteArray &legacyEncoding)
{
    // Saved as "Unicode" by Windows' Notepad: UTF-16LE behind the mark FF FE.
    if (bytes.startsWith("\xff\xfe"))
        return QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text.startsWith(QChar(0xFEFF)) ? text.mid(1) : text;

    QStringDecoder legacy(legacyEncoding.constData(), QStringDecoder::Flag::Stateless);
    if (!legacy.isValid())
        return QString::fromLatin1(bytes); // no such code page here: at least keep the ASCII keys
    return legacy.decode(bytes);
}

QByteArray LegacyEncodingOf(const QString &languageFile)
{
    const QString name = QFileInfo(languageFile).fileName();
    if (name.compare(QLatin1String("gb.ini"), Qt::CaseInsensitive) == 0)
        return QByteArrayLiteral("GBK");
    if (name.compare(QLatin1String("jp.ini"), Qt::CaseInsensitive) == 0)
        return QByteArrayLiteral("Shift_JIS");
    return QByteArrayLiteral("windows-1252");
}

QString QtTranslationOf(const QString &languageFile)
{
    const QString name = QFileInfo(languageFile).fileName();
    if (name.compare(QLatin1String("gb.ini"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("qtbase_zh_CN");
    if (name.compare(QLatin1String("jp.ini"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("qtbase_ja");
    return QString();
}

QString GettextLocaleOf(const QString &languageFile)
{
    return QtTranslationOf(languageFile).remove(QLatin1String("qtbase_"));
}

TLanguageFile::TLanguageFile(const QString &fileName) : m_text(readDecoded(fileName)) {}

QString TLanguageFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    return m_text.ReadString(section, key, defaultValue);
}

QString LanguageFileName(int languageCode)
{
    switch (languageCode) {
    case 1:
        return QStringLiteral("language/gb.ini");
    case 3:
        return QStringLiteral("language/jp.ini");
    default:
        return QStringLiteral("language/en.ini");
    }
}
