#include "common/IniFile.h"

#include "common/TolvaneError.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringConverter>
#include <QStringList>

#include <climits>
#include <optional>

namespace {

struct ParsedLine
{
    enum Kind { Other, Section, Key } kind = Other;
    QString name;  // section or key name, trimmed
    QString value; // raw value text, trimmed (keys only)
};

ParsedLine parseLine(const QString &line)
{
    ParsedLine parsed;
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')))
        return parsed;
    if (trimmed.startsWith(QLatin1Char('['))) {
        // A header whose closing bracket was lost still opens its section, as
        // on Windows; otherwise its keys would vanish and a write would add a
        // second section of the same name.
        const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
        parsed.kind = ParsedLine::Section;
        parsed.name = trimmed.mid(1, close < 0 ? -1 : close - 1).trimmed();
        return parsed;
    }
    const qsizetype eq = trimmed.indexOf(QLatin1Char('='));
    if (eq < 0)
        return parsed;
    parsed.kind = ParsedLine::Key;
    parsed.name = trimmed.left(eq).trimmed();
    parsed.value = trimmed.mid(eq + 1).trimmed();
    return parsed;
}

bool sameName(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// A byte-order mark some editors put at the start is no part of the first line.
QString withoutByteOrderMark(QString text)
{
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

// Lines end in LF, CR LF or a CR alone (older Mac editors).
QStringList splitLines(const QString &text)
{
    static const QRegularExpression lineEnd(QStringLiteral("\\r\\n|\\n|\\r"));
    QStringList lines = withoutByteOrderMark(text).split(lineEnd);
    // A final line ending leaves one empty piece behind; it is not a line.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

const QByteArray Utf16Mark = QByteArrayLiteral("\xff\xfe");

// A file that starts with FF FE is UTF-16LE, what Windows' Notepad saves as
// "Unicode"; anything else is taken as UTF-8.
bool isUtf16(const QByteArray &content) { return content.startsWith(Utf16Mark); }

QString fromUtf16(const QByteArray &content)
{
    return QStringDecoder(QStringDecoder::Utf16LE).decode(content.mid(Utf16Mark.size()));
}

// Files a write could not reach, by absolute path, with what they would
// hold; they are read and written here until the program ends.
QHash<QString, QByteArray> &keptInMemory()
{
    static QHash<QString, QByteArray> files;
    return files;
}

QString memoryKey(const QString &fileName) { return QFileInfo(fileName).absoluteFilePath(); }

// The bytes of the file, or of its copy in memory: empty for a missing file,
// nothing for one that cannot be read.
std::optional<QByteArray> contentOf(const QString &fileName)
{
    const auto kept = keptInMemory().constFind(memoryKey(fileName));
    if (kept != keptInMemory().cend())
        return *kept;
    // A link to a file not made yet is a missing file, not an unreadable one.
    if (!QFileInfo(fileName).exists())
        return QByteArray();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// The file's lines; a missing or unreadable file has none.
QStringList readLines(const QString &fileName)
{
    const QByteArray content = contentOf(fileName).value_or(QByteArray());
    return splitLines(isUtf16(content) ? fromUtf16(content) : QString::fromUtf8(content));
}

// A line as the file holds it, for writing: the bytes of the lines a write
// does not change go back exactly as they were, whatever their encoding.
struct StoredLine
{
    QByteArray bytes; // without the line end
    QByteArray end;   // "\n", "\r\n" or empty for a last line without one
    QString text() const { return QString::fromUtf8(bytes); }
};

QList<StoredLine> splitStoredLines(const QByteArray &content)
{
    QList<StoredLine> lines;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype stop = start;
        while (stop < content.size() && content[stop] != '\n' && content[stop] != '\r')
            ++stop;
        if (stop == content.size()) {
            lines.append({content.mid(start), QByteArray()});
            break;
        }
        const qsizetype endSize = content.mid(stop, 2) == "\r\n" ? 2 : 1;
        lines.append({content.mid(start, stop - start), content.mid(stop, endSize)});
        start = stop + endSize;
    }
    return lines;
}

// The line end a write uses for lines it adds: the one the file already has.
QByteArray lineEndOf(const QByteArray &content)
{
    if (content.contains("\r\n"))
        return QByteArrayLiteral("\r\n");
    if (!content.contains('\n') && content.contains('\r'))
        return QByteArrayLiteral("\r");
    return QByteArrayLiteral("\n");
}

std::optional<QString> findValue(const QStringList &lines, const QString &section, const QString &key)
{
    bool inSection = false;
    for (const QString &line : lines) {
        const ParsedLine parsed = parseLine(line);
        if (parsed.kind == ParsedLine::Section)
            inSection = sameName(parsed.name, section);
        else if (inSection && parsed.kind == ParsedLine::Key && sameName(parsed.name, key))
            return parsed.value;
    }
    return std::nullopt;
}

QString unquoted(QString value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first)
            value = value.mid(1, value.size() - 2);
    }
    return value.left(TIniFile::MaxValueLength);
}

bool isReadOnlyFile(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return false;
    if (info.isDir())
        return true;
    // The owner's write bit is the user's "read-only" mark; honour it even for root.
    return !(info.permissions() & QFileDevice::WriteOwner);
}

// The file a write replaces: a config.ini that is a symbolic link stays one,
// and the file it points to gets the new content.
QString fileBehindLinks(const QString &fileName)
{
    QFileInfo info(fileName);
    for (int depth = 0; depth < 32 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? fileName : info.filePath();
}

// The text a write stores for value so that a read gives value back.
QString storedValue(const QString &value)
{
    // Reading trims blanks and takes off one pair of quotes; a value that
    // would lose something that way is stored in double quotes.
    const bool quoted = value.size() >= 2 && value.front() == value.back()
                        && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\''));
    if (quoted || value != value.trimmed())
        return QLatin1Char('"') + value + QLatin1Char('"');
    return value;
}

// content with key set to value in section: every other line stays byte for byte.
QByteArray withValue(QByteArray content, const QString &section, const QString &key, const QString &value)
{
    // A UTF-16 file is edited as UTF-8 and stored as UTF-16 again, so that
    // its lines never mix two encodings.
    const bool utf16 = isUtf16(content);
    if (utf16)
        content = fromUtf16(content).toUtf8();
    QList<StoredLine> lines = splitStoredLines(content);
    const QByteArray eol = lineEndOf(content);
    const StoredLine newLine{(key + QLatin1Char('=') + storedValue(value)).toUtf8(), eol};

    qsizetype sectionLine = -1;   // header of the first matching section
    qsizetype lastInSection = -1; // last non-empty line of that section
    bool written = false;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size() && !written; ++i) {
        const QString text = i == 0 ? withoutByteOrderMark(lines[i].text()) : lines[i].text();
        const ParsedLine parsed = parseLine(text);
        if (parsed.kind == ParsedLine::Section) {
            if (inSection)
                break; // the matching section ended without the key
            inSection = sectionLine < 0 && sameName(parsed.name, section);
            if (inSection)
                sectionLine = lastInSection = i;
        } else if (inSection) {
            if (parsed.kind == ParsedLine::Key && sameName(parsed.name, key)) {
                lines[i].bytes = newLine.bytes;
                written = true;
            } else if (!text.trimmed().isEmpty()) {
                lastInSection = i;
            }
        }
    }
    if (!written) {
        if (sectionLine >= 0) {
            lines.insert(lastInSection + 1, newLine);
        } else {
            if (!lines.isEmpty() && !lines.last().text().trimmed().isEmpty())
                lines.append({QByteArray(), eol});
            lines.append({(QLatin1Char('[') + section + QLatin1Char(']')).toUtf8(), eol});
            lines.append(newLine);
        }
    }

    QByteArray bytes;
    for (const StoredLine &line : lines)
        bytes += line.bytes + (line.end.isEmpty() ? eol : line.end);
    if (utf16)
        bytes = Utf16Mark + QStringEncoder(QStringEncoder::Utf16LE).encode(QString::fromUtf8(bytes));
    return bytes;
}

bool replaceFile(const QString &target, const QByteArray &bytes)
{
    QSaveFile file(target);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

TIniText::TIniText(const QString &text) : m_lines(splitLines(text)) {}

QString TIniText::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const std::optional<QString> value = findValue(m_lines, section, key);
    return value ? unquoted(*value) : defaultValue;
}

TIniFile::TIniFile(const QString &fileName) : m_fileName(fileName) {}

QString TIniFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const std::optional<QString> value = findValue(readLines(m_fileName), section, key);
    return value ? unquoted(*value) : defaultValue;
}

int TIniFile::ReadInteger(const QString &section, const QString &key, int defaultValue) const
{
    int value = 0;
    return ParseIniInteger(ReadString(section, key, QString()), &value) ? value : defaultValue;
}

void TIniFile::WriteInteger(const QString &section, const QString &key, int value) const
{
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteString(const QString &section, const QString &key, const QString &value) const
{
    // A line break would end the value early and slip the rest of it into
    // the file as lines of their own (a folder name may hold one on Linux).
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        throw TolvaneError(ErrorText::UnableToWrite(m_fileName));
    const bool inMemory = IsKeptInMemory();
    // Never replace a file whose lines could not be read: they would be lost.
    const std::optional<QByteArray> content = contentOf(m_fileName);
    const QByteArray bytes = withValue(content.value_or(QByteArray()), section, key, value);
    if (inMemory) {
        keptInMemory().insert(memoryKey(m_fileName), bytes);
        return;
    }
    const QString target = fileBehindLinks(m_fileName);
    if (!content || isReadOnlyFile(target) || !replaceFile(target, bytes)) {
        // Said once: the settings go on changing in memory.
        keptInMemory().insert(memoryKey(m_fileName), bytes);
        throw TolvaneError(ErrorText::UnableToWrite(m_fileName));
    }
}

bool TIniFile::IsWritable() const
{
    if (IsKeptInMemory())
        return false;
    const QFileInfo file(fileBehindLinks(m_fileName));
    // The file is replaced through a new one beside it: its folder must take it.
    const QFileInfo folder(file.absolutePath());
    return !isReadOnlyFile(file.filePath()) && (!file.exists() || file.isWritable()) && folder.isDir()
           && folder.isWritable();
}

void TIniFile::KeepInMemory() const
{
    if (!IsKeptInMemory())
        keptInMemory().insert(memoryKey(m_fileName), contentOf(m_fileName).value_or(QByteArray()));
}

bool TIniFile::IsKeptInMemory() const { return keptInMemory().contains(memoryKey(m_fileName)); }

bool ParseIniInteger(const QString &text, int *value)
{
    QString s = text.trimmed();
    bool negative = false;
    if (s.startsWith(QLatin1Char('-')) || s.startsWith(QLatin1Char('+'))) {
        negative = s.front() == QLatin1Char('-');
        s.remove(0, 1);
    }
    int base = 10;
    if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        s.remove(0, 2);
    } else if (s.startsWith(QLatin1Char('$'))) {
        base = 16;
        s.remove(0, 1);
    }
    if (s.isEmpty())
        return false;
    for (QChar c : s) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const bool hexLetter = (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'));
        if (!(digit || (base == 16 && hexLetter)))
            return false;
    }
    bool ok = false;
    const qlonglong magnitude = s.toLongLong(&ok, base);
    if (!ok)
        return false;
    const qlonglong signedValue = negative ? -magnitude : magnitude;
    if (base == 16 && !negative && magnitude <= 0xFFFFFFFFLL && magnitude > 0x7FFFFFFFLL) {
        // Hexadecimal text names the bit pattern, as the runtime's conversion does.
        *value = static_cast<int>(static_cast<quint32>(magnitude));
        return true;
    }
    if (signedValue < INT_MIN || signedValue > INT_MAX)
        return false;
    *value = static_cast<int>(signedValue);
    return true;
}
