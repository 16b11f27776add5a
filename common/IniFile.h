#pragma once

#include <QString>
#include <QStringList>

// A Windows-style INI file read and written the way the platform's
// private-profile service does it: names match without regard to case, a
// value in a pair of quotes is read without them, values are cut at 2047
// characters, and a missing file, section or key yields the caller's default.
// Files are UTF-8, or UTF-16LE when they start with the mark FF FE (a write
// keeps them so); lines may end in LF, CR LF or CR alone.
// Nothing is cached: every call opens the file afresh. A write replaces the
// file atomically (temporary file in the same folder, then rename) and keeps
// every other line as it was.
// A file that cannot be written is kept in memory instead, for as long as the
// program runs: settings still change, and the user is told once.
class TIniFile
{
public:
    static constexpr int MaxValueLength = 2047;

    explicit TIniFile(const QString &fileName);

    const QString &FileName() const { return m_fileName; }

    QString ReadString(const QString &section, const QString &key, const QString &defaultValue) const;
    int ReadInteger(const QString &section, const QString &key, int defaultValue) const;

    // Raises TolvaneError "Unable to write to <file>" when value holds a line
    // break, and when the file cannot be read and written: the value is then
    // kept in memory, with every later one, and only this first write raises.
    void WriteString(const QString &section, const QString &key, const QString &value) const;
    void WriteInteger(const QString &section, const QString &key, int value) const;

    // Whether a write would reach the file: neither it nor its folder is read-only.
    bool IsWritable() const;
    // From now on this file is read and written in memory, starting from what
    // it holds now; the file itself is left alone.
    void KeepInMemory() const;
    bool IsKeptInMemory() const;

private:
    QString m_fileName;
};

// INI text already read and decoded by the caller (the language files, which
// are not always UTF-8), searched by the same rules as TIniFile.
class TIniText
{
public:
    explicit TIniText(const QString &text);

    QString ReadString(const QString &section, const QString &key, const QString &defaultValue) const;

private:
    QStringList m_lines;
};

// Integer text as the settings file accepts it: optional blanks and sign,
// decimal digits, or hexadecimal after "0x", "0X" or "$". Returns false for
// anything else, including values outside the 32-bit range.
bool ParseIniInteger(const QString &text, int *value);
