#include "conversion/KeptOriginal.h"

#include "common/TolvaneError.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString KeptMarker = QStringLiteral(".tolvane-keep-");
constexpr int TagLength = 6;
constexpr int MoveAttempts = 100;

QString RandomTag()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString tag;
    for (int i = 0; i < TagLength; ++i)
        tag += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof(letters) - 1))]);
    return tag;
}

QString FolderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

// Renames from to to unless something of that name is there already.
int RenameNoReplace(const QByteArray &from, const QByteArray &to)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
#endif
    // File systems without the flag: the random part makes a clash unlikely.
    struct stat st;
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

bool ProcessRuns(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }
}

QString KeptName(const QString &fileName, qint64 pid, const QString &tag)
{
    return QLatin1Char('.') + fileName + KeptMarker + QString::number(pid) + QLatin1Char('-') + tag;
}

QString OriginalNameOfKept(const QString &keptName, qint64 *pid)
{
    static const QRegularExpression shape(QStringLiteral("^\\.(.+)") + QRegularExpression::escape(KeptMarker)
                                              + QStringLiteral("([0-9]{1,10})-[a-z0-9]{%1}$").arg(TagLength),
                                          QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = shape.match(keptName);
    if (!match.hasMatch())
        return QString();
    if (pid)
        *pid = match.captured(2).toLongLong();
    return match.captured(1);
}

bool ReplacementWins(TEncoderEnd end, bool targetHoldsAudio) { return targetHoldsAudio && end != TEncoderEnd::Failed; }

TKeptOriginal::TKeptOriginal(const QString &target) : m_target(target)
{
    const QByteArray from = QFile::encodeName(target);
    struct stat st;
    if (::lstat(from.constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return; // nothing to keep; a folder makes the placeholder fail as before
    for (int attempt = 0; attempt < MoveAttempts; ++attempt) {
        const QString kept = FolderOf(target) + KeptName(FileNamePart(target), ::getpid(), RandomTag());
        const int code = RenameNoReplace(from, QFile::encodeName(kept));
        if (code == 0) {
            m_kept = kept;
            return;
        }
        if (code != EEXIST)
            throw TolvaneError(FileWriteErrorText(code, QFileInfo(FolderOf(target)).isDir()));
    }
    throw TolvaneError(FileWriteErrorText(EEXIST, true));
}

TKeptOriginal::~TKeptOriginal()
{
    if (IsHeld())
        Restore();
}

bool TKeptOriginal::Restore()
{
    if (!IsHeld())
        return true;
    // rename replaces the placeholder or the partial file in one step.
    if (::rename(QFile::encodeName(m_kept).constData(), QFile::encodeName(m_target).constData()) != 0)
        return false;
    m_kept.clear();
    return true;
}

void TKeptOriginal::Discard()
{
    if (!IsHeld())
        return;
    ::unlink(QFile::encodeName(m_kept).constData());
    m_kept.clear();
}

QStringList RecoverKeptOriginals(const QString &folder)
{
    QStringList restored;
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return restored;
    const QStringList hidden = dir.entryList({QStringLiteral(".*") + KeptMarker + QStringLiteral("*")},
                                             QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : hidden) {
        qint64 pid = 0;
        const QString original = OriginalNameOfKept(name, &pid);
        if (original.isEmpty() || ProcessRuns(pid))
            continue;
        const QString target = dir.filePath(original);
        const QFileInfo info(target);
        if ((info.exists() || info.isSymLink()) && !IsBarePlaceholder(target))
            continue;
        if (::rename(QFile::encodeName(dir.filePath(name)).constData(), QFile::encodeName(target).constData()) == 0)
            restored << original;
    }
    return restored;
}
