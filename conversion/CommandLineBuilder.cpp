#include "conversion/CommandLineBuilder.h"

#include <array>

namespace {
struct Option
{
    const char *text; // blank, option word, blank, "%s" for a value, blank
    QString TFFMpeg::*value;
    bool TFFMpeg::*flag;
};

// Options before DisableVideo.
constexpr std::array<Option, 5> LeadingOptions{{
    {" -i %s ", &TFFMpeg::InputFile, nullptr},
    {" -y ", nullptr, &TFFMpeg::Overwrite},
    {" -f %s ", &TFFMpeg::OutputFormat, nullptr},
    {" -t %s ", &TFFMpeg::Duration, nullptr},
    {" -ss %s ", &TFFMpeg::StartTime, nullptr},
}};

// The video group, left out as a whole while DisableVideo is set.
constexpr std::array<Option, 59> VideoOptions{{
    {" -title %s ", &TFFMpeg::Title, nullptr},
    {" -author %s ", &TFFMpeg::Author, nullptr},
    {" -copyright %s ", &TFFMpeg::Copyright, nullptr},
    {" -comment %s ", &TFFMpeg::Comment, nullptr},
    {" -target %s ", &TFFMpeg::Target, nullptr},
    {" -hq ", nullptr, &TFFMpeg::HighQuality},
    {" -itsoffset %s ", &TFFMpeg::ItsOffset, nullptr},
    {" -b %s ", &TFFMpeg::VideoBitrate, nullptr},
    {" -r %s ", &TFFMpeg::FrameRate, nullptr},
    {" -s %s ", &TFFMpeg::FrameSize, nullptr},
    {" -aspect %s ", &TFFMpeg::Aspect, nullptr},
    {" -croptop %s ", &TFFMpeg::CropTop, nullptr},
    {" -cropbottom %s ", &TFFMpeg::CropBottom, nullptr},
    {" -padtop %s ", &TFFMpeg::PadTop, nullptr},
    {" -padbottom %s ", &TFFMpeg::PadBottom, nullptr},
    {" -padleft %s ", &TFFMpeg::PadLeft, nullptr},
    {" -padright %s ", &TFFMpeg::PadRight, nullptr},
    {" -padcolor %s ", &TFFMpeg::PadColor, nullptr},
    {" -bt %s ", &TFFMpeg::BitrateTolerance, nullptr},
    {" -maxrate %s ", &TFFMpeg::MaxRate, nullptr},
    {" -minrate %s ", &TFFMpeg::MinRate, nullptr},
    {" -bufsize %s ", &TFFMpeg::BufSize, nullptr},
    {" -vcodec %s ", &TFFMpeg::VideoCodec, nullptr},
    {" -sameq ", nullptr, &TFFMpeg::SameQuality},
    {" -pass %s ", &TFFMpeg::Pass, nullptr},
    {" -passlogfile %s ", &TFFMpeg::PassLogFile, nullptr},
    {" -g %s ", &TFFMpeg::GopSize, nullptr},
    {" -intra ", nullptr, &TFFMpeg::IntraOnly},
    {" -qscale %s ", &TFFMpeg::QScale, nullptr},
    {" -qmin %s ", &TFFMpeg::QMin, nullptr},
    {" -qmax %s ", &TFFMpeg::QMax, nullptr},
    {" -qdiff %s ", &TFFMpeg::QDiff, nullptr},
    {" -qblur %s ", &TFFMpeg::QBlur, nullptr},
    {" -qcomp %s ", &TFFMpeg::QComp, nullptr},
    {" -rc_init_cplx %s ", &TFFMpeg::RcInitCplx, nullptr},
    {" -b_qfactor %s ", &TFFMpeg::BQFactor, nullptr},
    {" -i_qfactor %s ", &TFFMpeg::IQFactor, nullptr},
    {" -b_qoffset %s ", &TFFMpeg::BQOffset, nullptr},
    {" -i_qoffset %s ", &TFFMpeg::IQOffset, nullptr},
    {" -rc_eq %s ", &TFFMpeg::RcEq, nullptr},
    {" -me %s ", &TFFMpeg::MotionEstimation, nullptr},
    {" -dct_algo %s ", &TFFMpeg::DctAlgo, nullptr},
    {" -idct_algo %s ", &TFFMpeg::IdctAlgo, nullptr},
    {" -er %s ", &TFFMpeg::ErrorResilience, nullptr},
    {" -ec %s ", &TFFMpeg::ErrorConcealment, nullptr},
    {" -bf %s ", &TFFMpeg::BFrames, nullptr},
    {" -mdb %s ", &TFFMpeg::Mdb, nullptr},
    {" -4mv ", nullptr, &TFFMpeg::FourMV},
    {" -part ", nullptr, &TFFMpeg::DataPartitioning},
    {" -bug %s ", &TFFMpeg::Workarounds, nullptr},
    {" -strict %s ", &TFFMpeg::Strict, nullptr},
    {" -aic ", nullptr, &TFFMpeg::AdvancedIntraCoding},
    {" -umv ", nullptr, &TFFMpeg::UnlimitedMV},
    {" -deinterlace ", nullptr, &TFFMpeg::Deinterlace},
    {" -interlace ", nullptr, &TFFMpeg::Interlace},
    {" -psnr ", nullptr, &TFFMpeg::Psnr},
    {" -vstats ", nullptr, &TFFMpeg::VStats},
    {" -vhook %s ", &TFFMpeg::VHook, nullptr},
    {" -vtag %s ", &TFFMpeg::VTag, nullptr},
}};

// Options between the video group and the output file.
constexpr std::array<Option, 21> TrailingOptions{{
    {" -ab %s ", &TFFMpeg::AudioBitrate, nullptr},
    {" -ar %s ", &TFFMpeg::AudioSampleRate, nullptr},
    {" -ac %s ", &TFFMpeg::AudioChannels, nullptr},
    {" -an ", nullptr, &TFFMpeg::DisableAudio},
    {" -acodec %s ", &TFFMpeg::AudioCodec, nullptr},
    {" -vd %s ", &TFFMpeg::VideoDevice, nullptr},
    {" -vc %s ", &TFFMpeg::VideoChannel, nullptr},
    {" -tvstd %s ", &TFFMpeg::TvStd, nullptr},
    {" -dv1394 ", nullptr, &TFFMpeg::DV1394},
    {" -av %s ", &TFFMpeg::Av, nullptr},
    {" -map %s ", &TFFMpeg::Map, nullptr},
    {" -loudness %s ", &TFFMpeg::Loudness, nullptr},
    {" -replaygain ", nullptr, &TFFMpeg::ReplayGain},
    {" -threads %s ", &TFFMpeg::Threads, nullptr},
    {" -debug ", nullptr, &TFFMpeg::Debug},
    {" -benchmark ", nullptr, &TFFMpeg::Benchmark},
    {" -hex ", nullptr, &TFFMpeg::Hex},
    {" -bitexact ", nullptr, &TFFMpeg::BitExact},
    {" -ps %s ", &TFFMpeg::PacketSize, nullptr},
    {" -re ", nullptr, &TFFMpeg::ReadRealTime},
    {" -loop ", nullptr, &TFFMpeg::Loop},
}};

constexpr Option DisableVideoOption{" -vn ", nullptr, &TFFMpeg::DisableVideo};
// libm9s's own option, after every option FFmpeg knows.
constexpr Option VerifyOutputOption{" -verify ", nullptr, &TFFMpeg::VerifyOutput};
constexpr Option ChapterOption{" -chapter %s ", &TFFMpeg::Chapter, nullptr};
constexpr Option OutputFileOption{" %s", &TFFMpeg::OutputFile, nullptr};

// A value counts up to its first zero character, as a C string would.
QString effective(const QString &value)
{
    const qsizetype zero = value.indexOf(QChar(u'\0'));
    return zero < 0 ? value : value.left(zero);
}
}

QString TFFMpeg::ExecutableName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("libm9s.exe");
#else
    return QStringLiteral("libm9s");
#endif
}

template <typename Append> void TFFMpeg::forEachOption(Append &&append) const
{
    const auto visit = [&](const Option &option) {
        if (option.flag) {
            if (this->*option.flag)
                append(QLatin1String(option.text), QString());
            return;
        }
        const QString value = effective(this->*option.value);
        if (!value.isEmpty())
            append(QLatin1String(option.text), value);
    };
    for (const Option &option : LeadingOptions)
        visit(option);
    visit(DisableVideoOption);
    if (!DisableVideo)
        for (const Option &option : VideoOptions)
            visit(option);
    for (const Option &option : TrailingOptions)
        visit(option);
    visit(VerifyOutputOption);
    visit(ChapterOption);
    visit(OutputFileOption);
}

QString TFFMpeg::BuildCommandLine() const
{
    QString line = ExecutableName();
    forEachOption([&](QLatin1String text, const QString &value) {
        // Plain substitution: the value is never read as a format.
        const qsizetype slot = text.indexOf(QLatin1String("%s"));
        if (slot < 0) {
            line += text;
            return;
        }
        line += text.left(slot);
        line += value;
        line += text.mid(slot + 2);
    });
    return line;
}

QStringList TFFMpeg::BuildArguments() const
{
    QStringList arguments;
    forEachOption([&](QLatin1String text, const QString &value) {
        for (const QString &word : QString(text).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            arguments << (word == QLatin1String("%s") ? value : word);
    });
    return arguments;
}
