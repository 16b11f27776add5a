#include "conversion/CommandLineBuilder.h"

#include <QTest>

#include <algorithm>
#include <iterator>

namespace {
struct Row
{
    const char *name;
    const char *text;
    QString TFFMpeg::*value;
    bool TFFMpeg::*flag;
};

// Every option in the order the encoder's command line carries them.
const Row Rows[] = {
    {"InputFile", " -i %s ", &TFFMpeg::InputFile, nullptr},
    {"Overwrite", " -y ", nullptr, &TFFMpeg::Overwrite},
    {"OutputFormat", " -f %s ", &TFFMpeg::OutputFormat, nullptr},
    {"Duration", " -t %s ", &TFFMpeg::Duration, nullptr},
    {"StartTime", " -ss %s ", &TFFMpeg::StartTime, nullptr},
    {"DisableVideo", " -vn ", nullptr, &TFFMpeg::DisableVideo},
    {"Title", " -title %s ", &TFFMpeg::Title, nullptr},
    {"Author", " -author %s ", &TFFMpeg::Author, nullptr},
    {"Copyright", " -copyright %s ", &TFFMpeg::Copyright, nullptr},
    {"Comment", " -comment %s ", &TFFMpeg::Comment, nullptr},
    {"Target", " -target %s ", &TFFMpeg::Target, nullptr},
    {"HighQuality", " -hq ", nullptr, &TFFMpeg::HighQuality},
    {"ItsOffset", " -itsoffset %s ", &TFFMpeg::ItsOffset, nullptr},
    {"VideoBitrate", " -b %s ", &TFFMpeg::VideoBitrate, nullptr},
    {"FrameRate", " -r %s ", &TFFMpeg::FrameRate, nullptr},
    {"FrameSize", " -s %s ", &TFFMpeg::FrameSize, nullptr},
    {"Aspect", " -aspect %s ", &TFFMpeg::Aspect, nullptr},
    {"CropTop", " -croptop %s ", &TFFMpeg::CropTop, nullptr},
    {"CropBottom", " -cropbottom %s ", &TFFMpeg::CropBottom, nullptr},
    {"PadTop", " -padtop %s ", &TFFMpeg::PadTop, nullptr},
    {"PadBottom", " -padbottom %s ", &TFFMpeg::PadBottom, nullptr},
    {"PadLeft", " -padleft %s ", &TFFMpeg::PadLeft, nullptr},
    {"PadRight", " -padright %s ", &TFFMpeg::PadRight, nullptr},
    {"PadColor", " -padcolor %s ", &TFFMpeg::PadColor, nullptr},
    {"BitrateTolerance", " -bt %s ", &TFFMpeg::BitrateTolerance, nullptr},
    {"MaxRate", " -maxrate %s ", &TFFMpeg::MaxRate, nullptr},
    {"MinRate", " -minrate %s ", &TFFMpeg::MinRate, nullptr},
    {"BufSize", " -bufsize %s ", &TFFMpeg::BufSize, nullptr},
    {"VideoCodec", " -vcodec %s ", &TFFMpeg::VideoCodec, nullptr},
    {"SameQuality", " -sameq ", nullptr, &TFFMpeg::SameQuality},
    {"Pass", " -pass %s ", &TFFMpeg::Pass, nullptr},
    {"PassLogFile", " -passlogfile %s ", &TFFMpeg::PassLogFile, nullptr},
    {"GopSize", " -g %s ", &TFFMpeg::GopSize, nullptr},
    {"IntraOnly", " -intra ", nullptr, &TFFMpeg::IntraOnly},
    {"QScale", " -qscale %s ", &TFFMpeg::QScale, nullptr},
    {"QMin", " -qmin %s ", &TFFMpeg::QMin, nullptr},
    {"QMax", " -qmax %s ", &TFFMpeg::QMax, nullptr},
    {"QDiff", " -qdiff %s ", &TFFMpeg::QDiff, nullptr},
    {"QBlur", " -qblur %s ", &TFFMpeg::QBlur, nullptr},
    {"QComp", " -qcomp %s ", &TFFMpeg::QComp, nullptr},
    {"RcInitCplx", " -rc_init_cplx %s ", &TFFMpeg::RcInitCplx, nullptr},
    {"BQFactor", " -b_qfactor %s ", &TFFMpeg::BQFactor, nullptr},
    {"IQFactor", " -i_qfactor %s ", &TFFMpeg::IQFactor, nullptr},
    {"BQOffset", " -b_qoffset %s ", &TFFMpeg::BQOffset, nullptr},
    {"IQOffset", " -i_qoffset %s ", &TFFMpeg::IQOffset, nullptr},
    {"RcEq", " -rc_eq %s ", &TFFMpeg::RcEq, nullptr},
    {"MotionEstimation", " -me %s ", &TFFMpeg::MotionEstimation, nullptr},
    {"DctAlgo", " -dct_algo %s ", &TFFMpeg::DctAlgo, nullptr},
    {"IdctAlgo", " -idct_algo %s ", &TFFMpeg::IdctAlgo, nullptr},
    {"ErrorResilience", " -er %s ", &TFFMpeg::ErrorResilience, nullptr},
    {"ErrorConcealment", " -ec %s ", &TFFMpeg::ErrorConcealment, nullptr},
    {"BFrames", " -bf %s ", &TFFMpeg::BFrames, nullptr},
    {"Mdb", " -mdb %s ", &TFFMpeg::Mdb, nullptr},
    {"FourMV", " -4mv ", nullptr, &TFFMpeg::FourMV},
    {"DataPartitioning", " -part ", nullptr, &TFFMpeg::DataPartitioning},
    {"Workarounds", " -bug %s ", &TFFMpeg::Workarounds, nullptr},
    {"Strict", " -strict %s ", &TFFMpeg::Strict, nullptr},
    {"AdvancedIntraCoding", " -aic ", nullptr, &TFFMpeg::AdvancedIntraCoding},
    {"UnlimitedMV", " -umv ", nullptr, &TFFMpeg::UnlimitedMV},
    {"Deinterlace", " -deinterlace ", nullptr, &TFFMpeg::Deinterlace},
    {"Interlace", " -interlace ", nullptr, &TFFMpeg::Interlace},
    {"Psnr", " -psnr ", nullptr, &TFFMpeg::Psnr},
    {"VStats", " -vstats ", nullptr, &TFFMpeg::VStats},
    {"VHook", " -vhook %s ", &TFFMpeg::VHook, nullptr},
    {"VTag", " -vtag %s ", &TFFMpeg::VTag, nullptr},
    {"AudioBitrate", " -ab %s ", &TFFMpeg::AudioBitrate, nullptr},
    {"AudioSampleRate", " -ar %s ", &TFFMpeg::AudioSampleRate, nullptr},
    {"AudioChannels", " -ac %s ", &TFFMpeg::AudioChannels, nullptr},
    {"DisableAudio", " -an ", nullptr, &TFFMpeg::DisableAudio},
    {"AudioCodec", " -acodec %s ", &TFFMpeg::AudioCodec, nullptr},
    {"VideoDevice", " -vd %s ", &TFFMpeg::VideoDevice, nullptr},
    {"VideoChannel", " -vc %s ", &TFFMpeg::VideoChannel, nullptr},
    {"TvStd", " -tvstd %s ", &TFFMpeg::TvStd, nullptr},
    {"DV1394", " -dv1394 ", nullptr, &TFFMpeg::DV1394},
    {"Av", " -av %s ", &TFFMpeg::Av, nullptr},
    {"Map", " -map %s ", &TFFMpeg::Map, nullptr},
    {"Debug", " -debug ", nullptr, &TFFMpeg::Debug},
    {"Benchmark", " -benchmark ", nullptr, &TFFMpeg::Benchmark},
    {"Hex", " -hex ", nullptr, &TFFMpeg::Hex},
    {"BitExact", " -bitexact ", nullptr, &TFFMpeg::BitExact},
    {"PacketSize", " -ps %s ", &TFFMpeg::PacketSize, nullptr},
    {"ReadRealTime", " -re ", nullptr, &TFFMpeg::ReadRealTime},
    {"Loop", " -loop ", nullptr, &TFFMpeg::Loop},
    {"OutputFile", " %s", &TFFMpeg::OutputFile, nullptr},
};
constexpr int RowCount = int(std::size(Rows));
constexpr int DisableVideoRow = 5;
constexpr int FirstVideoRow = 6;
constexpr int LastVideoRow = 64;

bool isVideoRow(int row) { return row >= FirstVideoRow && row <= LastVideoRow; }

QString fill(const char *text, const QString &value)
{
    QString result = QLatin1String(text);
    const qsizetype slot = result.indexOf(QLatin1String("%s"));
    return slot < 0 ? result : result.replace(slot, 2, value);
}

QStringList words(const char *text, const QString &value)
{
    QStringList result;
    for (const QString &word : QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        result << (word == QLatin1String("%s") ? value : word);
    return result;
}

// Applies "Name=value" (a string option) or "Name" (a flag) to ffmpeg.
void apply(TFFMpeg &ffmpeg, const QString &assignment)
{
    const qsizetype equals = assignment.indexOf(QLatin1Char('='));
    const QString name = equals < 0 ? assignment : assignment.left(equals);
    for (const Row &row : Rows) {
        if (name != QLatin1String(row.name))
            continue;
        if (equals < 0)
            ffmpeg.*row.flag = true;
        else
            ffmpeg.*row.value = assignment.mid(equals + 1);
        return;
    }
    QFAIL(qPrintable(QStringLiteral("no option %1").arg(name)));
}
}

class TestFFMpeg : public QObject
{
    Q_OBJECT
private slots:
    void tableHasEveryOption();
    void initialState();
    void eachOptionAlone_data();
    void eachOptionAlone();
    void allOptionsInOrder_data();
    void allOptionsInOrder();
    void edgeCases_data();
    void edgeCases();
    void lastSetWinsAndBuildingChangesNothing();
};

void TestFFMpeg::tableHasEveryOption()
{
    QCOMPARE(RowCount, 84);
    QCOMPARE(std::count_if(std::begin(Rows), std::end(Rows), [](const Row &row) { return row.flag; }), 21);
    QCOMPARE(QLatin1String(Rows[DisableVideoRow].name), QLatin1String("DisableVideo"));
    QCOMPARE(QLatin1String(Rows[FirstVideoRow].name), QLatin1String("Title"));
    QCOMPARE(QLatin1String(Rows[LastVideoRow].name), QLatin1String("VTag"));
}

void TestFFMpeg::initialState()
{
    const TFFMpeg ffmpeg;
    QCOMPARE(TFFMpeg::ExecutableName(), QStringLiteral("libm9s"));
    QCOMPARE(ffmpeg.BuildCommandLine(), QStringLiteral("libm9s"));
    QVERIFY(ffmpeg.BuildArguments().isEmpty());
}

void TestFFMpeg::eachOptionAlone_data()
{
    QTest::addColumn<int>("row");
    for (int row = 0; row < RowCount; ++row)
        QTest::newRow(Rows[row].name) << row;
}

void TestFFMpeg::eachOptionAlone()
{
    QFETCH(int, row);
    const Row &option = Rows[row];
    const QString value = QStringLiteral("v%1").arg(row);
    TFFMpeg ffmpeg;
    if (option.flag)
        ffmpeg.*option.flag = true;
    else
        ffmpeg.*option.value = value;
    QCOMPARE(ffmpeg.BuildCommandLine(), QLatin1String("libm9s") + fill(option.text, value));
    QCOMPARE(ffmpeg.BuildArguments(), words(option.text, value));
}

void TestFFMpeg::allOptionsInOrder_data()
{
    QTest::addColumn<bool>("disableVideo");
    QTest::newRow("with video") << false;
    QTest::newRow("DisableVideo") << true;
}

void TestFFMpeg::allOptionsInOrder()
{
    QFETCH(bool, disableVideo);
    TFFMpeg ffmpeg;
    QString line = QStringLiteral("libm9s");
    QStringList arguments;
    for (int row = 0; row < RowCount; ++row) {
        const Row &option = Rows[row];
        const QString value = QStringLiteral("v%1").arg(row);
        if (option.flag)
            ffmpeg.*option.flag = row != DisableVideoRow || disableVideo;
        else
            ffmpeg.*option.value = value;
        if ((row == DisableVideoRow && !disableVideo) || (isVideoRow(row) && disableVideo))
            continue;
        line += fill(option.text, value);
        arguments += words(option.text, value);
    }
    QCOMPARE(ffmpeg.BuildCommandLine(), line);
    QCOMPARE(ffmpeg.BuildArguments(), arguments);
}

void TestFFMpeg::edgeCases_data()
{
    QTest::addColumn<QStringList>("set");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("only the input") << QStringList{"InputFile=a.avi"} << "libm9s -i a.avi "
                                    << QStringList{"-i", "a.avi"};
    QTest::newRow("DisableVideo hides the video group")
        << QStringList{"DisableVideo", "VideoCodec=mpeg4", "FrameSize=320x240", "Title=t", "Deinterlace"}
        << "libm9s -vn " << QStringList{"-vn"};
    QTest::newRow("video codec without DisableVideo")
        << QStringList{"VideoCodec=mpeg4"} << "libm9s -vcodec mpeg4 " << QStringList{"-vcodec", "mpeg4"};
    QTest::newRow("DisableAudio is not reconciled") << QStringList{"DisableAudio", "AudioBitrate=128"}
                                                    << "libm9s -ab 128  -an " << QStringList{"-ab", "128", "-an"};
    QTest::newRow("main window settings")
        << QStringList{"Overwrite",        "InputFile=/v/a.avi",    "OutputFile=/o/a.mp3", "DisableVideo",
                       "OutputFormat=mp3", "AudioSampleRate=44100", "AudioBitrate=128",    "AudioChannels=2"}
        << "libm9s -i /v/a.avi  -y  -f mp3  -vn  -ab 128  -ar 44100  -ac 2  /o/a.mp3"
        << QStringList{"-i",  "/v/a.avi", "-y",    "-f",  "mp3", "-vn",     "-ab",
                       "128", "-ar",      "44100", "-ac", "2",   "/o/a.mp3"};
    QTest::newRow("blanks in file names") << QStringList{"InputFile=/my videos/a b.avi", "OutputFile=/out dir/a b.mp3"}
                                          << "libm9s -i /my videos/a b.avi  /out dir/a b.mp3"
                                          << QStringList{"-i", "/my videos/a b.avi", "/out dir/a b.mp3"};
    QTest::newRow("output file alone") << QStringList{"OutputFile=x.wav"} << "libm9s x.wav" << QStringList{"x.wav"};
    QTest::newRow("no output: trailing blank stays")
        << QStringList{"AudioChannels=1"} << "libm9s -ac 1 " << QStringList{"-ac", "1"};
    QTest::newRow("percent copied unchanged")
        << QStringList{"Title=100%s %d%%"} << "libm9s -title 100%s %d%% " << QStringList{"-title", "100%s %d%%"};
    QTest::newRow("blanks are a value") << QStringList{"Comment=  "} << "libm9s -comment    "
                                        << QStringList{"-comment", "  "};
    QTest::newRow("empty before a zero character")
        << QStringList{QStringLiteral("Comment=") + QChar(0) + "x"} << "libm9s" << QStringList{};
    QTest::newRow("cut at a zero character") << QStringList{QStringLiteral("Author=ab") + QChar(0) + "c"}
                                             << "libm9s -author ab " << QStringList{"-author", "ab"};
    QTest::newRow("Duration empty: no time limit")
        << QStringList{"Duration=", "StartTime=", "InputFile=a"} << "libm9s -i a " << QStringList{"-i", "a"};
}

void TestFFMpeg::edgeCases()
{
    QFETCH(QStringList, set);
    QFETCH(QString, line);
    QFETCH(QStringList, arguments);
    TFFMpeg ffmpeg;
    for (const QString &assignment : set)
        apply(ffmpeg, assignment);
    QCOMPARE(ffmpeg.BuildCommandLine(), line);
    QCOMPARE(ffmpeg.BuildArguments(), arguments);
}

void TestFFMpeg::lastSetWinsAndBuildingChangesNothing()
{
    TFFMpeg ffmpeg;
    ffmpeg.AudioBitrate = QStringLiteral("64");
    ffmpeg.AudioBitrate = QStringLiteral("320");
    const QString first = ffmpeg.BuildCommandLine();
    QCOMPARE(first, QStringLiteral("libm9s -ab 320 "));
    QCOMPARE(ffmpeg.BuildCommandLine(), first);
    QCOMPARE(ffmpeg.AudioBitrate, QStringLiteral("320"));
}

QTEST_GUILESS_MAIN(TestFFMpeg)
#include "tst_commandlinebuilder.moc"
