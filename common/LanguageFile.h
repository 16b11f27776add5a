#pragma once

#include "common/IniFile.h"

#include <QByteArray>
#include <QString>

// Text of a language file: UTF-16LE after the byte-order mark FF FE, UTF-8
// when its bytes are valid UTF-8 (a byte-order mark is dropped), otherwise the
// legacy code page the file was written in.
QString DecodeLanguageText(const QByteArray &bytes, const QByteArray &legacyEncoding);

// The legacy code page of a language file, by its name: GBK for gb.ini,
// Shift-JIS for jp.ini and Windows-1252 for anything else (en.ini).
QByteArray LegacyEncodingOf(const QString &languageFile);

// Base name of Qt's own translation for the language of a language file
// ("qtbase_zh_CN" for gb.ini, "qtbase_ja" for jp.ini), so that standard
// buttons and dialogs match it; empty for English.
QString QtTranslationOf(const QString &languageFile);

// The gettext name of the language of a language file ("zh_CN" for gb.ini,
// "ja" for jp.ini), which picks the catalogues of other packages' names;
// empty for English.
QString GettextLocaleOf(const QString &languageFile);

// The language file of a language code of config.ini, relative to the
// program folder: "language/gb.ini" for 1, "language/jp.ini" for 3 and
// "language/en.ini" for anything else.
QString LanguageFileName(int languageCode);

// A language file read once and decoded; keys are looked up by the INI rules
// of config.ini. A missing or unreadable file reads as empty, so every lookup
// gives its default.
class TLanguageFile
{
public:
    explicit TLanguageFile(const QString &fileName);

    QString ReadString(const QString &section, const QString &key, const QString &defaultValue = QString()) const;

private:
    TIniText m_text;
};
