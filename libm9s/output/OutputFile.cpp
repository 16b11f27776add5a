#include "libm9s/output/OutputFile.h"

#include "libm9s/base/EncoderError.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Large enough that a 20-minute WAV costs a few thousand writes, not millions.
constexpr int kBufferSize = 256 * 1024;

std::string SystemText(int error) { return std::strerror(error); }

EncoderError CannotWrite(const std::string &path, int error)
{
    return EncoderError("Cannot write output '" + path + "': " + SystemText(error), OutputFailureKind(error));
}

// The program's placeholder, which it puts at the output path and expects
// the encoder to fill in place.
constexpr char kPlaceholder[] = "temp\r\n";
constexpr size_t kPlaceholderBytes = sizeof kPlaceholder - 1;

// What is at the path holds something worth keeping until the new file is
// whole: a file with content that is not the placeholder, or a symbolic
// link, which must be replaced, never followed.
bool HoldsSomething(const std::string &path, struct stat *found)
{
    if (::lstat(path.c_str(), found) != 0)
        return false;
    if (S_ISLNK(found->st_mode))
        return true;
    if (!S_ISREG(found->st_mode) || found->st_size == 0)
        return false;
    if (found->st_size != off_t(kPlaceholderBytes))
        return true;
    char head[kPlaceholderBytes];
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    const bool placeholder = fd >= 0 && ::read(fd, head, sizeof head) == ssize_t(sizeof head)
                             && std::memcmp(head, kPlaceholder, sizeof head) == 0;
    if (fd >= 0)
        ::close(fd);
    return !placeholder;
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A hidden name beside path, in the same folder (so the rename stays on one
// file system): ".NAME.libm9s-XXXXXX".
std::string HiddenTemplate(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    return folder + "." + name + ".libm9s-XXXXXX";
}

} // namespace

bool PathExists(const std::string &path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

OutputFile::OutputFile(const std::string &path, bool overwrite) : path_(path)
{
    // Read as well as written where allowed: Overwrite() looks before it
    // writes.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
        created_ = true;
    } else if (errno == EEXIST) {
        if (!overwrite)
            throw EncoderError("Output file '" + path + "' already exists");
        if (OpenHidden())
            return;
        // O_NONBLOCK: a FIFO at the output path must not stall us in open()
        // until somebody reads it; it is refused below like any other non-file.
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0 && errno == EACCES)
            fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    }
    if (fd_ < 0 && errno == ENXIO)
        throw EncoderError("Cannot write output '" + path + "': not a regular file");
    if (fd_ < 0)
        throw CannotWrite(path, errno);

    struct stat st;
    if (::fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw EncoderError("Cannot write output '" + path + "': not a regular file");
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);

    MakeIo();
}

bool OutputFile::OpenHidden()
{
    struct stat old;
    if (!HoldsSomething(path_, &old))
        return false;
    // A file of the user's with content, run by hand with -y: a kill or a
    // full disk midway must not cost it, so the new file is written beside
    // it and takes its place only once whole.
    std::string name = HiddenTemplate(path_);
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0 && (errno == EACCES || errno == EPERM) && S_ISREG(old.st_mode))
        return false; // the folder is closed to new files, the file is not: in place, as asked
    if (fd_ < 0)
        throw CannotWrite(path_, errno);
    hiddenPath_ = name;
    // The replacement is the old file's in all but content; a link's target
    // is not looked at.
    if (S_ISREG(old.st_mode)) {
        ::fchmod(fd_, old.st_mode & 07777);
        if (::fchown(fd_, old.st_uid, old.st_gid) != 0)
            ::fchmod(fd_, old.st_mode & 0777); // setuid and setgid only for the same owner
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
    }
    replacedDev_ = old.st_dev;
    replacedIno_ = old.st_ino;
    created_ = true;
    MakeIo();
    return true;
}

void OutputFile::MakeIo()
{
    auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
    if (buffer)
        io_ = avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, WritePacket, Seek);
    if (!io_) {
        av_free(buffer);
        ::close(fd_);
        fd_ = -1;
        if (created_)
            ::unlink(WrittenPath().c_str());
        throw std::bad_alloc();
    }
}

void OutputFile::Publish()
{
    if (hiddenPath_.empty() || published_)
        return;
    if (fd_ >= 0)
        Close();
    if (::rename(hiddenPath_.c_str(), path_.c_str()) != 0)
        throw CannotWrite(path_, errno);
    published_ = true;
    // The rename itself reaches the disk only with its folder.
    const int folder = ::open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

OutputFile::~OutputFile()
{
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    if (fd_ >= 0)
        ::close(fd_);
    // A hidden file is the old one's replacement only once published: a
    // failure or a stop leaves the old file and takes the hidden one away.
    if (!hiddenPath_.empty() && !published_)
        ::unlink(hiddenPath_.c_str());
    else if (!committed_ && created_)
        ::unlink(path_.c_str());
}

void OutputFile::Commit()
{
    if (committed_)
        return;
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0)
        throw CannotWrite(path_, errno);
    committed_ = true;
}

void OutputFile::Close()
{
    if (fd_ < 0)
        return;
    avio_flush(io_);
    int error = io_->error;
    int fd = fd_;
    fd_ = -1;
    // What replaces a file is on the disk before the rename makes it the file.
    if (!hiddenPath_.empty() && error >= 0 && ::fsync(fd) != 0)
        error = AVERROR(errno);
    if (::close(fd) != 0 && error >= 0)
        error = AVERROR(errno);
    if (error < 0)
        throw WriteError(error);
}

void OutputFile::Finish(AVFormatContext *muxer, const std::function<void()> &afterTrailer)
{
    trailerWritten_ = true;
    if (const int ret = av_write_trailer(muxer); ret < 0)
        throw WriteError(ret);
    if (afterTrailer)
        afterTrailer();
    Close();
}

bool OutputFile::Overwrite(int64_t offset, std::span<const uint8_t> expected, std::span<const uint8_t> data)
{
    if (fd_ < 0 || offset < 0)
        return false;
    avio_flush(io_);
    if (io_->error < 0)
        throw WriteError(io_->error);
    std::vector<uint8_t> found(expected.size());
    if (::pread(fd_, found.data(), found.size(), off_t(offset)) != ssize_t(found.size())
        || !std::equal(found.begin(), found.end(), expected.begin()))
        return false;
    for (size_t done = 0; done < data.size();) {
        const ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, off_t(offset + int64_t(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            lastErrno_ = n < 0 ? errno : EIO;
            throw WriteError(AVERROR(lastErrno_));
        }
        done += size_t(n);
    }
    return true;
}

int64_t OutputFile::Size()
{
    avio_flush(io_);
    if (io_->error < 0)
        throw WriteError(io_->error);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        throw CannotWrite(path_, fd_ < 0 ? EBADF : errno);
    return int64_t(st.st_size);
}

void OutputFile::FinishQuietly(AVFormatContext *muxer) noexcept
{
    if (!std::exchange(trailerWritten_, true))
        av_write_trailer(muxer);
    try {
        Close();
    } catch (...) {
    }
}

EncoderError OutputFile::WriteError(int avError) const
{
    if (lastErrno_)
        return CannotWrite(path_, lastErrno_);
    return EncoderError("Cannot write output '" + path_ + "': " + AvErrorText(avError),
                        OutputFailureKind(AVUNERROR(avError)));
}

bool OutputFile::Failed() const { return lastErrno_ != 0 || (io_ && io_->error < 0); }

bool OutputFile::IsSameFileAs(const std::string &otherPath) const
{
    struct stat mine, other;
    if (::stat(otherPath.c_str(), &other) != 0)
        return false;
    if (!hiddenPath_.empty())
        return replacedDev_ == other.st_dev && replacedIno_ == other.st_ino;
    return fd_ >= 0 && ::fstat(fd_, &mine) == 0 && mine.st_dev == other.st_dev && mine.st_ino == other.st_ino;
}

int OutputFile::WritePacket(void *opaque, uint8_t *data, int size)
{
    auto *self = static_cast<OutputFile *>(opaque);
    if (!self->committed_ || self->fd_ < 0)
        return AVERROR(EINVAL); // nothing may reach the file before Commit()
    int left = size;
    while (left > 0) {
        ssize_t n = ::write(self->fd_, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            self->lastErrno_ = errno;
            return AVERROR(errno);
        }
        data += n;
        left -= int(n);
    }
    return size;
}

int64_t OutputFile::Seek(void *opaque, int64_t offset, int whence)
{
    auto *self = static_cast<OutputFile *>(opaque);
    if (self->fd_ < 0)
        return AVERROR(EBADF);
    if (whence & AVSEEK_SIZE) {
        struct stat st;
        if (::fstat(self->fd_, &st) != 0)
            return AVERROR(errno);
        return st.st_size;
    }
    off_t pos = ::lseek(self->fd_, offset, whence & ~AVSEEK_FORCE);
    return pos < 0 ? AVERROR(errno) : int64_t(pos);
}
