#include "conversion/FileQueueRules.h"

#include <QDir>
#include <QFileInfo>

const QString AcceptedExtensionList = QStringLiteral(
    "*.avi;*.mpg;*.mpeg;*.wmv;*.asf;*.mov;*.rm;*.rmvb;*.qt;*.mp4;*.3gp;*.dat;*.vob;*.smk;*.swf;*.nsv;*.mkv");

namespace {
// "avi", "mpg", ... without "*." in front.
const QStringList &acceptedExtensions()
{
    static const QStringList extensions = [] {
        QStringList list;
        for (const QString &entry : AcceptedExtensionList.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            list << entry.mid(2);
        return list;
    }();
    return extensions;
}

// Only A to Z count as the same letter in both cases, as the original rule
// had it: ".ÄVI" is no ".avi".
bool sameAsciiText(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const char16_t x = a[i].unicode(), y = b[i].unicode();
        const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c; };
        if (lower(x) != lower(y))
            return false;
    }
    return true;
}

// "*.avi" becomes "*.[aA][vV][iI]" so that the dialog finds CLIP.AVI on a
// file system that tells capitals apart.
QString anyCasePattern(const QString &pattern)
{
    QString result;
    for (const QChar c : pattern) {
        const QChar lower = c.toLower();
        const QChar upper = c.toUpper();
        if (c.isLetter() && lower != upper)
            result += QLatin1Char('[') + lower + upper + QLatin1Char(']');
        else
            result += c;
    }
    return result;
}

// One dialog entry: the description as the user reads it, then the patterns
// in the group that Qt takes them from. "*.*" means every file, as it did
// on the original platform.
QString filterEntry(const QString &description, const QString &patterns)
{
    QStringList group;
    for (const QString &pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        group += pattern == QLatin1String("*.*") ? QStringLiteral("*") : anyCasePattern(pattern);
    return description + QStringLiteral(" (") + group.join(QLatin1Char(' ')) + QLatin1Char(')');
}

bool sameLetter(QChar a, QChar b) { return a == b || a.toCaseFolded() == b.toCaseFolded(); }

bool isPlainFolder(const QFileInfo &info)
{
    return info.isDir() && !info.isSymLink() && !info.fileName().startsWith(QLatin1Char('.'));
}
}

QString FileNameExtension(const QString &path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

bool IsAcceptedVideoPath(const QString &path)
{
    const QString extension = FileNameExtension(path).mid(1);
    for (const QString &accepted : acceptedExtensions())
        if (sameAsciiText(extension, accepted))
            return true;
    return false;
}

bool IsPseudoFileSystemPath(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    if (clean.startsWith(QLatin1String("/run/media/")))
        return false;
    for (const char *pseudo : {"/proc", "/sys", "/dev", "/run"})
        if (clean == QLatin1String(pseudo) || clean.startsWith(QLatin1String(pseudo) + QLatin1Char('/')))
            return true;
    return false;
}

const QList<TOpenDialogFilterName> &OpenDialogFilterNames()
{
    static const QList<TOpenDialogFilterName> names{
        {"filterSupported", "Supported files"},
        {"filterRM", "RM files"},
        {"filterAVI", "AVI files"},
        {"filterMPEG", "MPEG files"},
        {"filterWMV", "WMV files"},
        {"filterPortable", "Portable device files"},
        {"filterDVD", "DVD and VCD files"},
        {"filterQuickTime", "QuickTime files"},
        {"filterAll", "All files"},
    };
    return names;
}

QStringList OpenDialogNameFilters(const QStringList &descriptions)
{
    // The list of supported files is too long to show; the others name their types.
    static const QStringList patterns{
        QStringLiteral("*.avi;*.mpg;*.mpeg;*.wmv;*.asf;*.avs;*.vob;*.dat;*.mp4;*.psp;*.rm;*.rmvb;"
                       "*.smk;*.swf;*.nsv;*.mov;*.qt;*.mkv"),
        QStringLiteral("*.rm;*.rmvb"),
        QStringLiteral("*.avi"),
        QStringLiteral("*.mpg;*.mpeg"),
        QStringLiteral("*.wmv;*.asf"),
        QStringLiteral("*.3gp;*.mp4;*.avs;*.psp;*.mkv"),
        QStringLiteral("*.vob;*.dat"),
        QStringLiteral("*.mov;*.qt"),
        QStringLiteral("*.*"),
    };
    QStringList filters;
    for (qsizetype i = 0; i < patterns.size(); ++i) {
        QString description = descriptions.value(i);
        if (description.isEmpty())
            description = QLatin1String(OpenDialogFilterNames().at(i).english);
        if (i > 0)
            description += QStringLiteral(" (") + patterns[i] + QLatin1Char(')');
        filters += filterEntry(description, patterns[i]);
    }
    return filters;
}

bool MatchesNamePattern(const QString &name, const QString &pattern)
{
    if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*"))
        return true;
    // Greedy match with one back-track point: the last "*" seen.
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == QLatin1Char('*')) {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == QLatin1Char('?') || sameLetter(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == QLatin1Char('*'))
        ++p;
    return p == pattern.size();
}

bool TFolderSearch::Run(const QString &folder, bool includeSubfolders, const QString &extension) const
{
    // An empty folder would list the working folder but name root entries.
    if (folder.isEmpty() || IsPseudoFileSystemPath(folder))
        return true;
    const QString pattern = QStringLiteral("*.") + (extension.isEmpty() ? QStringLiteral("*") : extension);
    return Search(folder, includeSubfolders, pattern);
}

bool TFolderSearch::Search(const QString &folder, bool includeSubfolders, const QString &pattern) const
{
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        const QString path = folder + QLatin1Char('/') + name;
        // The extension filters files only: every plain subfolder is searched.
        if (includeSubfolders && isPlainFolder(entry)) {
            if (IsPseudoFileSystemPath(path))
                continue;
            if (!Search(path, includeSubfolders, pattern))
                return false;
        } else if (!MatchesNamePattern(name, pattern)) {
            continue;
        } else if (addEntry) {
            addEntry(path);
        }
        if (keepGoing && !keepGoing())
            return false;
    }
    return true;
}
