#pragma once
// FFmpeg's FLAC encoder sums every sample it is given into an MD5 for its
// STREAMINFO, and has no switch to leave that out. A segment's encoder
// makes a stream that is never read whole: the joined file's sum is taken
// once, by the writer. Summing in every segment as well cost about a
// seventh of the work, enough to keep two threads well short of twice the
// speed of one.
//
// So this program defines av_md5_update itself. Outside a SkipLibraryMd5
// scope it hands every call on to libavutil's; inside one, on that thread
// only (and where skip is true), it ignores the call. Should a build bind the library's own
// definition after all (FFmpeg linked statically, say), nothing is skipped
// and nothing is wrong: the encoders sum, only slower.

class SkipLibraryMd5 {
public:
    explicit SkipLibraryMd5(bool skip = true);
    ~SkipLibraryMd5();
    SkipLibraryMd5(const SkipLibraryMd5 &) = delete;
    SkipLibraryMd5 &operator=(const SkipLibraryMd5 &) = delete;

private:
    bool before_;
};
