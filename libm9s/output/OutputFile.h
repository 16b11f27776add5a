#pragma once
// The output file, written in place through an I/O context of our own.
//
// The program puts a placeholder at the output path before it starts the
// encoder. The file is opened early, so that an unwritable path is reported
// before any work is done, but its content is left alone until Commit():
// a conversion that fails before it has audio to write leaves the file
// exactly as it was found (and removes it if it did not exist).
//
// Run by hand with -y over a file that holds something (not empty, not the
// placeholder), or over a symbolic link, the file is written under a hidden
// name beside it instead, and Publish() renames it over the old one: a
// kill, a full disk, a failure or a stop leaves the old file as it was.

#include "libm9s/base/AvHandles.h"
#include "libm9s/base/EncoderError.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <sys/types.h>

class OutputFile {
public:
    // Throws EncoderError when the path cannot be written, or when it exists
    // and overwrite is false.
    OutputFile(const std::string &path, bool overwrite);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    AVIOContext *Io() const { return io_; }

    // Empties the file; everything written through Io() from here on lands in it.
    void Commit();

    // Writes out the buffer and closes the file; throws on a write error.
    void Close();

    // The muxer's trailer (once: a second try would find the muxer taken
    // apart), then afterTrailer, then Close(); throws when one fails.
    void Finish(AVFormatContext *muxer, const std::function<void()> &afterTrailer = {});
    // The same for a file given up on: each step on its own, never a throw,
    // so whatever the muxer still buffered reaches the file.
    void FinishQuietly(AVFormatContext *muxer) noexcept;

    // Writes data over the file's bytes at offset when they begin with
    // expected (read after what is buffered reaches the file); false, and
    // nothing written, when they do not. Throws when a write fails.
    bool Overwrite(int64_t offset, std::span<const uint8_t> expected, std::span<const uint8_t> data);

    // The file's length, with what is buffered written out.
    int64_t Size();

    // The failure of a write, with the system's reason when known.
    EncoderError WriteError(int avError) const;
    // True once a write or seek of the file itself has failed: a muxer's
    // error is then the file's, not the packet's.
    bool Failed() const;

    bool IsSameFileAs(const std::string &otherPath) const;

    // Where the bytes go: the output path, or the hidden file beside it.
    const std::string &WrittenPath() const { return hiddenPath_.empty() ? path_ : hiddenPath_; }
    // After a complete, checked success: the hidden file (written out to the
    // disk by Close()) takes the output's name. Nothing for a file written
    // in place.
    void Publish();

private:
    bool OpenHidden();
    void MakeIo();
    static int WritePacket(void *opaque, uint8_t *data, int size);
    static int64_t Seek(void *opaque, int64_t offset, int whence);

    std::string path_;
    int fd_ = -1;
    bool created_ = false;
    bool committed_ = false;
    bool trailerWritten_ = false;
    int lastErrno_ = 0;
    std::string hiddenPath_; // empty: written in place
    bool published_ = false;
    dev_t replacedDev_ = 0;
    ino_t replacedIno_ = 0;
    AVIOContext *io_ = nullptr;
};

// True when path names an existing file (of any kind).
bool PathExists(const std::string &path);
