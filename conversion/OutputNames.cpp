#include "conversion/OutputNames.h"

#include <QDir>
#include <QFileInfo>

namespace {
// A target counts as present when anything of that name is there; the run
// must not write over a folder or a link either without asking.
bool PathExists(const QString &path) { return QFileInfo(path).exists() || QFileInfo(path).isSymLink(); }

// The extension of the file-name part, "." included; empty when it has none.
QString ExtensionOf(const QString &path)
{
    const QString name = FileNamePart(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

// The longest file name Linux file systems take, in bytes.
constexpr qsizetype MaxNameBytes = 255;

QString FileNameSafe(const QString &text)
{
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    QString safe;
    for (const QChar c : text.simplified())
        safe += (c.unicode() < 0x20 || forbidden.contains(c)) ? QLatin1Char('_') : c;
    // Windows drops trailing dots and blanks, and would then find another name.
    while (safe.endsWith(QLatin1Char('.')) || safe.endsWith(QLatin1Char(' ')))
        safe.chop(1);
    return safe;
}

// Drops whole characters from the end of text until excess bytes are gone
// (or text is); returns the bytes still to drop.
qsizetype CutBytes(QString &text, qsizetype excess)
{
    while (excess > 0 && !text.isEmpty()) {
        const qsizetype n = text.size() >= 2 && text.back().isLowSurrogate() ? 2 : 1;
        excess -= text.right(n).toUtf8().size();
        text.chop(n);
    }
    return excess;
}
}

QString FileNamePart(const QString &path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString WithTrailingSlash(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString OutputFilePath(const QString &folder, const QString &source, const QString &ext)
{
    QString name = FileNamePart(source);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    return WithTrailingSlash(folder) + name + QLatin1Char('.') + ext;
}

QString ChapterOutputFilePath(const QString &folder, const QString &source, const QString &ext, int number, int total,
                              const QString &title)
{
    QString base = FileNamePart(OutputFilePath(folder, source, ext));
    base.chop(ext.size() + 1);
    const int digits = qMax(2, int(QString::number(total).size()));
    const QString numberPart = QStringLiteral(" - ") + QString::number(number).rightJustified(digits, QLatin1Char('0'));
    QString titlePart = FileNameSafe(title);
    const QString tail = QLatin1Char('.') + ext;
    const auto bytes = [](const QString &s) { return s.toUtf8().size(); };
    qsizetype excess =
        bytes(base) + bytes(numberPart) + (titlePart.isEmpty() ? 0 : 3 + bytes(titlePart)) + bytes(tail) - MaxNameBytes;
    excess = CutBytes(titlePart, excess);
    if (titlePart.isEmpty())
        excess = CutBytes(base, excess - (FileNameSafe(title).isEmpty() ? 0 : 3));
    const QString name =
        base + numberPart + (titlePart.isEmpty() ? QString() : QStringLiteral(" - ") + FileNameSafe(titlePart)) + tail;
    return WithTrailingSlash(folder) + name;
}

QString AutoRenameTarget(const QString &path)
{
    // Iterative form of "append (1) and the extension until the name is free".
    // A name grown past what the file system takes loses the end of the
    // original name before its extension, so that the added part and the
    // extension stay whole.
    const QString suffix = QStringLiteral("(1)") + ExtensionOf(path);
    const QString folder = path.left(path.size() - FileNamePart(path).size());
    const QString extension = ExtensionOf(path);
    const QString stem = FileNamePart(path).chopped(extension.size());
    QString added;
    QString candidate = path;
    while (PathExists(candidate)) {
        added += suffix;
        QString cut = stem;
        CutBytes(cut, (stem + extension + added).toUtf8().size() - MaxNameBytes);
        if (cut.isEmpty())
            cut = stem.left(1);
        candidate = folder + cut + extension + added;
    }
    return candidate;
}

QString ResolveTargetFile(const QString &path, quint8 &choice, const TOverwriteQuestion &ask,
                          const QSet<QString> &writtenThisRun)
{
    if (!PathExists(path))
        return path;
    if (writtenThisRun.contains(path))
        return AutoRenameTarget(path);
    if (choice == ocAsk)
        choice = ask();
    switch (choice) {
    case ocOverwriteOnce:
        choice = ocAsk;
        return path;
    case ocOverwriteAll:
        return path;
    case ocRenameOnce:
        choice = ocAsk;
        return AutoRenameTarget(path);
    case ocRenameAll:
        return AutoRenameTarget(path);
    default: // ocAsk, ocSkipAll
        return QString();
    }
}

QString OutputFolderFor(const QString &outputFolder, const QString &root, const QString &source, bool keepFolders)
{
    if (!keepFolders || root.isEmpty())
        return outputFolder;
    const QString relative = QDir(root).relativeFilePath(QFileInfo(source).path());
    // A source outside root (or root itself) has no subfolder to keep.
    if (relative.isEmpty() || relative == QLatin1String(".") || relative.startsWith(QLatin1String("../"))
        || relative == QLatin1String("..") || QDir::isAbsolutePath(relative))
        return outputFolder;
    return WithTrailingSlash(outputFolder) + relative;
}

bool IsOutputUpToDate(const QString &source, const QString &target)
{
    const QFileInfo out(target);
    const QFileInfo in(source);
    return out.isFile() && in.exists() && out.lastModified() > in.lastModified();
}

QString StoppedPartPath(const QString &target, const QString &note)
{
    const QString extension = ExtensionOf(target);
    QString base = FileNamePart(target);
    base.chop(extension.size());
    const QString tail = QStringLiteral(" (") + FileNameSafe(note) + QLatin1Char(')') + extension;
    // Room for the "(1)" and extension a taken name gets, once.
    const qsizetype room = MaxNameBytes - tail.toUtf8().size() - (3 + extension.toUtf8().size());
    CutBytes(base, base.toUtf8().size() - room);
    const QString folder = target.left(target.size() - FileNamePart(target).size());
    return AutoRenameTarget(folder + base + tail);
}

QString FileNameTime(qint64 seconds)
{
    seconds = qMax<qint64>(0, seconds);
    const qint64 hours = seconds / 3600;
    const qint64 minutes = seconds / 60 % 60;
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (hours > 0)
        return QStringLiteral("%1h%2m%3s").arg(hours).arg(two(minutes), two(seconds % 60));
    if (minutes > 0)
        return QStringLiteral("%1m%2s").arg(minutes).arg(two(seconds % 60));
    return QStringLiteral("%1s").arg(seconds);
}
