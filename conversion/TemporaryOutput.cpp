#include "conversion/TemporaryOutput.h"

#include "conversion/OutputFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString Prefix = QStringLiteral(".tolvane-");
constexpr int TagLength = 6;
constexpr int CreateAttempts = 100;

QString RandomTag()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString tag;
    for (int i = 0; i < TagLength; ++i)
        tag += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof(letters) - 1))]);
    return tag;
}

// The extension of the file-name part of path, without the ".".
QString ExtensionOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

bool ProcessRuns(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

// fsync of a file or a folder by path; the errno of the step that failed, or 0.
int SyncPath(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int code = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return code;
}

// The journal, locked against the other programs of this user that write
// to it, for as long as this lives.
class TLockedJournal
{
public:
    explicit TLockedJournal(int mode)
    {
        const QString path = TemporaryJournal();
        QDir().mkpath(QFileInfo(path).absolutePath());
        m_fd = ::open(QFile::encodeName(path).constData(), mode | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~TLockedJournal()
    {
        if (m_fd >= 0)
            ::close(m_fd); // the lock goes with it
    }
    TLockedJournal(const TLockedJournal &) = delete;
    TLockedJournal &operator=(const TLockedJournal &) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    bool Write(const QByteArray &bytes) const
    {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }
    QByteArray ReadAll() const
    {
        QByteArray bytes;
        char buffer[65536];
        ssize_t n = 0;
        while ((n = ::read(m_fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
            if (n > 0)
                bytes.append(buffer, n);
        return bytes;
    }
    void Replace(const QByteArray &bytes) const
    {
        if (::ftruncate(m_fd, 0) == 0 && ::lseek(m_fd, 0, SEEK_SET) == 0)
            Write(bytes);
    }

private:
    int m_fd = -1;
};

// A journal that cannot be written costs only the clean-up after a crash,
// never the file being converted.
void AppendToJournal(const QString &path, const QString &placeholder)
{
    const TLockedJournal journal(O_WRONLY | O_APPEND);
    if (journal.IsOpen())
        journal.Write(QByteArray::number(::getpid()) + '\t' + QFile::encodeName(path) + '\t'
                      + QFile::encodeName(placeholder) + '\n');
}

// Whether path is still the hidden file process pid made: its exact name, a
// regular file (not a link, a pipe or a device) and the user's own.
bool IsAbandonedBy(const QString &path, qint64 pid)
{
    struct stat info = {};
    return pid > 0 && ProcessOfTemporary(QFileInfo(path).fileName()) == pid
           && ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode)
           && info.st_uid == ::geteuid();
}

// The replacement gets what the old file had, so that a private file stays
// private and a shared one shared: its owner and group where this process
// may give them (root may; a user may give a group it belongs to), then its
// permissions, which a change of owner may have cut.
void TakeOverAccess(const QString &temporary, const QString &target)
{
    struct stat old = {};
    if (::stat(QFile::encodeName(target).constData(), &old) != 0 || !S_ISREG(old.st_mode))
        return;
    const QByteArray name = QFile::encodeName(temporary);
    if (::chown(name.constData(), old.st_uid, old.st_gid) != 0
        && ::chown(name.constData(), uid_t(-1), old.st_gid) != 0) {
        // Neither may be given: the file is the user's own, as any new file.
    }
    if (::chmod(name.constData(), old.st_mode & 07777) != 0) {
        // The file is this process's: only a vanished one refuses, and the rename will say so.
    }
}
}

QString TemporaryName(qint64 pid, const QString &tag, const QString &extension)
{
    QString name = Prefix + QString::number(pid) + QLatin1Char('-') + tag;
    return extension.isEmpty() ? name : name + QLatin1Char('.') + extension;
}

qint64 ProcessOfTemporary(const QString &name)
{
    // The extension is one of the program's formats or copy containers:
    // short, lower-case letters and digits.
    static const QRegularExpression shape(
        QStringLiteral("^\\.tolvane-([1-9][0-9]{0,9})-[a-z0-9]{%1}\\.[a-z0-9]{1,8}$").arg(TagLength));
    const QRegularExpressionMatch match = shape.match(name);
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

QString CreateTemporaryBeside(const QString &target, const QString &placeholder)
{
    const QString folder = QFileInfo(target).absolutePath() + QLatin1Char('/');
    for (int attempt = 0; attempt < CreateAttempts; ++attempt) {
        const QString path = folder + TemporaryName(::getpid(), RandomTag(), ExtensionOf(target));
        // Written down first: a file the journal does not name is never removed.
        AppendToJournal(path, placeholder);
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            RaiseWriteError(errno, path);
    }
    RaiseWriteError(EEXIST, target);
}

bool HoldsOutput(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.size() > 0 && !IsBarePlaceholder(path);
}

void CommitTemporary(const QString &temporary, const QString &target)
{
    TakeOverAccess(temporary, target);
    if (const int code = SyncPath(temporary, O_RDONLY))
        RaiseWriteError(code, temporary);
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) != 0)
        RaiseWriteError(errno, target);
    // The rename itself is on disk only once the folder is.
    if (const int code = SyncPath(QFileInfo(target).absolutePath(), O_RDONLY | O_DIRECTORY))
        RaiseWriteError(code, target);
}

QString TemporaryJournal()
{
    // A relative $XDG_CACHE_HOME is not to be trusted, so it counts as unset.
    QString folder = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(folder))
        folder = QDir::homePath() + QStringLiteral("/.cache");
    return QDir::cleanPath(folder) + QStringLiteral("/Tolvane/temporary-files");
}

QStringList RemoveAbandonedTemporaries()
{
    QStringList removed;
    TLockedJournal journal(O_RDWR);
    if (!journal.IsOpen())
        return removed;
    QByteArray kept;
    for (const QByteArray &line : journal.ReadAll().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 3)
            continue;
        const qint64 pid = fields[0].toLongLong();
        if (ProcessRuns(pid)) {
            kept += line + '\n';
            continue;
        }
        const QString path = QFile::decodeName(fields[1]);
        if (IsAbandonedBy(path, pid) && ::unlink(fields[1].constData()) == 0)
            removed << path;
        const QString placeholder = QFile::decodeName(fields[2]);
        if (!placeholder.isEmpty() && RemoveBarePlaceholder(placeholder))
            removed << placeholder;
    }
    journal.Replace(kept);
    return removed;
}
