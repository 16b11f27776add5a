#include "conversion/SourcePaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace {
bool losslessInQt(const QByteArray &native) { return QFile::encodeName(QFile::decodeName(native)) == native; }

// Length of the well-formed UTF-8 sequence at bytes[i], 0 when there is none.
int utf8SequenceAt(const QByteArray &bytes, qsizetype i)
{
    const auto byte = [&bytes](qsizetype at) { return at < bytes.size() ? quint8(bytes[at]) : 0u; };
    const quint8 lead = byte(i);
    const int length = lead < 0x80                    ? 1
                       : lead >= 0xC2 && lead <= 0xDF ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
    for (int k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and code points past U+10FFFF.
    const quint8 second = byte(i + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90)
        || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}
}

QByteArray NativePathOf(const QString &path)
{
    const QByteArray direct = QFile::encodeName(path);
    struct stat info;
    if (!path.contains(QChar::ReplacementCharacter) || ::lstat(direct.constData(), &info) == 0)
        return direct;
    const QStringList names = path.split(QLatin1Char('/'));
    QByteArray found;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (i > 0)
            found += '/';
        QByteArray part = QFile::encodeName(names[i]);
        if (names[i].contains(QChar::ReplacementCharacter)) {
            const QByteArray folder = found.size() > 1 ? found.chopped(1) : found.isEmpty() ? QByteArray(".") : found;
            for (const QByteArray &entry : FolderEntries(folder))
                if (QFile::decodeName(entry) == names[i]) {
                    part = entry;
                    break;
                }
        }
        found += part;
    }
    return found;
}

QString ReadablePath(const QByteArray &native)
{
    QString text;
    for (qsizetype i = 0; i < native.size();) {
        const int length = utf8SequenceAt(native, i);
        if (length == 0) {
            text += QChar(quint8(native[i]));
            ++i;
        } else {
            text += QString::fromUtf8(native.constData() + i, length);
            i += length;
        }
    }
    return text;
}

bool IsRegularFile(const QByteArray &native)
{
    struct stat info;
    return ::stat(native.constData(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const QByteArray &native)
{
    struct stat info;
    return ::stat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QByteArray SameFileKey(const QByteArray &native)
{
    char resolved[PATH_MAX];
    return ::realpath(native.constData(), resolved) ? QByteArray(resolved) : native;
}

QList<QByteArray> FolderEntries(const QByteArray &folder)
{
    QList<QByteArray> names;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(dir);
    return names;
}

TSourceLinks::TSourceLinks() = default;
TSourceLinks::~TSourceLinks() = default;

QString TSourceLinks::SourceFor(const QByteArray &native)
{
    if (losslessInQt(native))
        return QFile::decodeName(native);
    if (const auto known = m_links.constFind(native); known != m_links.constEnd())
        return *known;
    if (!m_folder) {
        m_folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tolvane-links-XXXXXX"));
        if (!m_folder->isValid())
            return QFile::decodeName(native);
    }
    // One folder per file, so two names that read alike keep a link each;
    // the link bears the readable name, which the output file takes over.
    const QString folder = m_folder->filePath(QString::number(m_links.size()));
    const QString link = folder + QLatin1Char('/') + ReadablePath(native.mid(native.lastIndexOf('/') + 1));
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0
        || ::symlink(native.constData(), QFile::encodeName(link).constData()) != 0)
        return QFile::decodeName(native);
    m_links.insert(native, link);
    m_shown.insert(link, ReadablePath(native));
    return link;
}

QString TSourceLinks::ShownPathOf(const QString &source) const { return m_shown.value(source); }
