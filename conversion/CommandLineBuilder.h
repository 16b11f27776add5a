#pragma once

#include <QString>
#include <QStringList>

// Holds the encoder's options and turns them into its command line. Every
// string starts empty and every flag false; a value is used exactly as set
// (never trimmed, quoted or checked). Options are emitted in the order of the
// fields below, a string when it is not empty, a flag when it is true. While
// DisableVideo is set, the whole video group (Title to VTag) is left out.
class TFFMpeg
{
public:
    // The encoder's bare file name, without folder.
    static QString ExecutableName();

    // The command line as one text: the executable name, then every option as
    // " -name value " (so two blanks between options), the output file last.
    // Values are inserted unquoted; a "%" in a value is copied unchanged.
    QString BuildCommandLine() const;

    // The same options as an argument vector for starting the encoder: each
    // option word and each value one element, in the same order, the output
    // file last. The executable is not included.
    QStringList BuildArguments() const;

    QString InputFile;
    bool Overwrite = false;
    QString OutputFormat;
    QString Duration;
    QString StartTime;
    bool DisableVideo = false;

    // Video group.
    QString Title;
    QString Author;
    QString Copyright;
    QString Comment;
    QString Target;
    bool HighQuality = false;
    QString ItsOffset;
    QString VideoBitrate;
    QString FrameRate;
    QString FrameSize;
    QString Aspect;
    QString CropTop;
    QString CropBottom;
    QString PadTop;
    QString PadBottom;
    QString PadLeft;
    QString PadRight;
    QString PadColor;
    QString BitrateTolerance;
    QString MaxRate;
    QString MinRate;
    QString BufSize;
    QString VideoCodec;
    bool SameQuality = false;
    QString Pass;
    QString PassLogFile;
    QString GopSize;
    bool IntraOnly = false;
    QString QScale;
    QString QMin;
    QString QMax;
    QString QDiff;
    QString QBlur;
    QString QComp;
    QString RcInitCplx;
    QString BQFactor;
    QString IQFactor;
    QString BQOffset;
    QString IQOffset;
    QString RcEq;
    QString MotionEstimation;
    QString DctAlgo;
    QString IdctAlgo;
    QString ErrorResilience;
    QString ErrorConcealment;
    QString BFrames;
    QString Mdb;
    bool FourMV = false;
    bool DataPartitioning = false;
    QString Workarounds;
    QString Strict;
    bool AdvancedIntraCoding = false;
    bool UnlimitedMV = false;
    bool Deinterlace = false;
    bool Interlace = false;
    bool Psnr = false;
    bool VStats = false;
    QString VHook;
    QString VTag;
    // End of the video group.

    QString AudioBitrate;
    QString AudioSampleRate;
    QString AudioChannels;
    bool DisableAudio = false;
    QString AudioCodec;
    QString VideoDevice;
    QString VideoChannel;
    QString TvStd;
    bool DV1394 = false;
    QString Av;
    QString Map;
    QString Loudness; // target in LUFS: two passes to that loudness
    bool ReplayGain = false;
    QString Threads; // how many threads the encoder may use
    bool Debug = false;
    bool Benchmark = false;
    bool Hex = false;
    bool BitExact = false;
    QString PacketSize;
    bool ReadRealTime = false;
    bool Loop = false;
    bool VerifyOutput = false; // libm9s reads back what it wrote before it reports success
    QString Chapter;           // libm9s converts this chapter only (from 1)

    QString OutputFile;

private:
    // Calls append(text, value) for every option that goes into the command
    // line, in order; text is the option's template and value the property
    // (cut at a zero character) or empty for a flag.
    template <typename Append> void forEachOption(Append &&append) const;
};
