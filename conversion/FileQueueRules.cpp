#include "conversion/FileQueueRules.h"

#include "conversion/SourcePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <sys/stat.h>

const QStringList &VideoExtensions()
{
    // The first seventeen are the types the program always took; the rest
    // are what cameras, phones, recorders and web downloads write today.
    static const QStringList extensions{"avi",  "mpg",  "mpeg", "wmv", "asf", "mov", "rm",  "rmvb", "qt",
                                        "mp4",  "3gp",  "dat",  "vob", "smk", "swf", "nsv", "mkv",  "webm",
                                        "ts",   "m2ts", "mts",  "m4v", "ogv", "3g2", "f4v", "flv",  "mxf",
                                        "divx", "wtv",  "m2v",  "mpe", "ogm", "dv",  "vro"};
    return extensions;
}

const QStringList &SoundExtensions()
{
    static const QStringList extensions{"mp3",  "m4a", "aac",  "flac", "wav", "ogg", "oga", "opus", "wma", "ac3",
                                        "eac3", "dts", "aiff", "aif",  "ape", "wv",  "mka", "mp2",  "amr"};
    return extensions;
}

namespace {
QString patternsOf(const QStringList &extensions)
{
    QStringList patterns;
    for (const QString &extension : extensions)
        patterns << QStringLiteral("*.") + extension;
    return patterns.join(QLatin1Char(';'));
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
// in the group that Qt takes them from. "*.*" means every file, with or
// without a dot.
QString filterEntry(const QString &description, const QString &patterns)
{
    QStringList group;
    for (const QString &pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        group += pattern == QLatin1String("*.*") ? QStringLiteral("*") : anyCasePattern(pattern);
    return description + QStringLiteral(" (") + group.join(QLatin1Char(' ')) + QLatin1Char(')');
}

bool sameLetter(QChar a, QChar b) { return a == b || a.toCaseFolded() == b.toCaseFolded(); }

bool isPlainFolder(const QByteArray &path, const QByteArray &name)
{
    struct stat info;
    return !name.startsWith('.') && ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QString reasonText(TNotAdded reason, const TNotAddedTexts &texts)
{
    switch (reason) {
    case TNotAdded::NoSound:
        return texts.NoSound;
    case TNotAdded::NotMedia:
        return texts.NotMedia;
    case TNotAdded::AlreadyQueued:
        return texts.AlreadyQueued;
    case TNotAdded::NotAFile:
        return texts.NotAFile;
    }
    return QString();
}
}

QString FileNameExtension(const QString &path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

bool IsListedMediaPath(const QString &path)
{
    const QString extension = FileNameExtension(path).mid(1);
    for (const QStringList *list : {&VideoExtensions(), &SoundExtensions()})
        for (const QString &listed : *list)
            if (sameAsciiText(extension, listed))
                return true;
    return false;
}

TAddVerdict AddVerdictOf(const QString &path, bool regularFile, bool fromFolderSearch)
{
    if (fromFolderSearch)
        return regularFile && IsListedMediaPath(path) ? TAddVerdict::Take : TAddVerdict::PassOver;
    if (!regularFile)
        return TAddVerdict::NotAFile;
    return IsListedMediaPath(path) ? TAddVerdict::Take : TAddVerdict::Check;
}

QString NotAddedText(QList<TNotAddedFile> files, const TNotAddedTexts &texts)
{
    // A file on trial is refused when its probe answers, which need not be in the order given.
    std::stable_sort(files.begin(), files.end(),
                     [](const TNotAddedFile &a, const TNotAddedFile &b) { return a.Order < b.Order; });
    QStringList lines{texts.Heading};
    for (qsizetype i = 0; i < files.size() && i < NotAddedShown; ++i)
        lines << files[i].Name + QStringLiteral(": ") + reasonText(files[i].Reason, texts);
    if (files.size() > NotAddedShown) {
        QString more = texts.More;
        lines << more.replace(QLatin1String("%s"), QString::number(files.size() - NotAddedShown));
    }
    return lines.join(QLatin1Char('\n'));
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
        {"filterMedia", "Video and sound files"},
        {"filterVideo", "Video files"},
        {"filterSound", "Sound files"},
        {"filterAll", "All files"},
    };
    return names;
}

QStringList OpenDialogNameFilters(const QStringList &descriptions)
{
    // The first entry, which the dialog opens with, takes every type the queue takes.
    static const QStringList patterns{patternsOf(VideoExtensions() + SoundExtensions()), patternsOf(VideoExtensions()),
                                      patternsOf(SoundExtensions()), QStringLiteral("*.*")};
    QStringList filters;
    for (qsizetype i = 0; i < patterns.size(); ++i) {
        QString description = descriptions.value(i);
        if (description.isEmpty())
            description = QLatin1String(OpenDialogFilterNames().at(i).english);
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
    return Search(NativePathOf(folder), includeSubfolders, pattern);
}

bool TFolderSearch::Search(const QByteArray &folder, bool includeSubfolders, const QString &pattern) const
{
    // Listed as bytes: a name that is no UTF-8 is found and searched too.
    struct TEntry
    {
        QByteArray name;
        QString readable;
    };
    QList<TEntry> entries;
    for (const QByteArray &name : FolderEntries(folder))
        entries.append({name, ReadablePath(name)});
    std::sort(entries.begin(), entries.end(), [](const TEntry &a, const TEntry &b) {
        const int order = a.readable.compare(b.readable, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    for (const TEntry &entry : entries) {
        const QByteArray path = folder + '/' + entry.name;
        if (path.size() >= PATH_MAX) {
            if (tooLong)
                tooLong(path);
            continue;
        }
        // The extension filters files only: every plain subfolder is searched.
        if (includeSubfolders && isPlainFolder(path, entry.name)) {
            if (IsPseudoFileSystemPath(QFile::decodeName(path)))
                continue;
            if (!Search(path, includeSubfolders, pattern))
                return false;
        } else if (!MatchesNamePattern(entry.readable, pattern)) {
            continue;
        } else if (addEntry) {
            addEntry(path);
        }
        if (keepGoing && !keepGoing())
            return false;
    }
    return true;
}
