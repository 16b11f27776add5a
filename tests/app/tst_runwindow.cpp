// The conversion run end to end through the window: the real window, the
// real runner and the real encoder on short clips that ffmpeg makes at test
// time. The run's own rules are tested without a window in tests/conversion/.
#include "app/Application.h"
#include "app/MainWindow.h"
#include "common/IniFile.h"
#include "common/TolvaneError.h"
#include "console/ConsoleIO.h"
#include "gui/CommonServices.h"
#include "support/FindControl.h"
#include "support/ModalAnswerer.h"
#include "support/ProgramFixture.h"
#include "support/UrlRecorder.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <csignal>

namespace {
QString ffmpegProgram() { return QStandardPaths::findExecutable(QStringLiteral("ffmpeg")); }

bool runTool(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000))
        return false;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// What ffprobe says about the first audio stream of a file.
struct AudioInfo
{
    bool valid = false;
    QString codec;
    int sampleRate = 0;
    int channels = 0;
    double duration = 0;
};

AudioInfo probe(const QString &path)
{
    QByteArray out;
    AudioInfo info;
    if (!runTool(QStringLiteral("ffprobe"),
                 {"-v", "error", "-select_streams", "a:0", "-show_entries",
                  "stream=codec_name,sample_rate,channels:format=duration", "-of", "default=nw=1", path},
                 &out))
        return info;
    for (const QByteArray &line : out.split('\n')) {
        const QList<QByteArray> kv = line.split('=');
        if (kv.size() != 2)
            continue;
        if (kv[0] == "codec_name")
            info.codec = QString::fromLatin1(kv[1]);
        else if (kv[0] == "sample_rate")
            info.sampleRate = kv[1].toInt();
        else if (kv[0] == "channels")
            info.channels = kv[1].toInt();
        else if (kv[0] == "duration")
            info.duration = kv[1].toDouble();
    }
    info.valid = !info.codec.isEmpty();
    return info;
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}
}

class TestRunWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_clips; // fixtures, made once
    ProgramFixture m_program;
    std::unique_ptr<QTemporaryDir> m_output;
    QString m_outputFolder; // as written to config.ini

    QString clip(const QString &name) const { return m_clips.filePath(name); }
    QString out(const QString &name) const { return m_output->filePath(name); }

    QTableWidget *list() { return FindControl<QTableWidget>(frmMain, "listViewFiles"); }
    QLabel *status() { return FindControl<QLabel>(frmMain, "labelCurrentInfo"); }
    QProgressBar *bar() { return FindControl<QProgressBar>(frmMain, "progressBarCurrent"); }

    // A program folder with the real encoder and the output folder in config.ini.
    void start(bool withEncoder = true, const QString &outputFolder = QString(), const QByteArray &extraConfig = {})
    {
        m_program.folder().installData();
        if (withEncoder)
            QVERIFY(QFile::link(QStringLiteral(TOLVANE_PROGRAM_DIR "/libm9s"), m_program.folder().file("libm9s")));
        m_output = std::make_unique<QTemporaryDir>();
        m_outputFolder = outputFolder.isNull() ? m_output->path() : outputFolder;
        m_program.start("[setting]\noutputFolder=" + m_outputFolder.toUtf8() + "\nparallelFiles=1\n" + extraConfig);
        QVERIFY(QTest::qWaitForWindowExposed(frmMain));
    }

    // A stand-in encoder. The "long" clip stands for a video that cannot
    // end before the test stops it: the stand-in leaves some audio in the
    // target, says so on its error output and then waits for the stop
    // command on its input, however fast the machine. Every other source
    // goes to the real encoder.
    void useBlockingEncoder()
    {
        writeScript("for last; do :; done\n"
                    "case \"$*\" in\n"
                    "*long.mkv*)\n"
                    "  cp '"
                    + clip("partial.mp3").toUtf8()
                    + "' \"$last\"\n"
                      "  echo $$ > '"
                    + clip("blocking.pid").toUtf8()
                    + "'\n"
                      "  echo ffmpeg_release_duration=00:15:00.00=ffmpeg_release_duration >&2\n"
                      "  read command\n"
                      "  exit 0;;\n"
                      "*) exec '" TOLVANE_PROGRAM_DIR "/libm9s' \"$@\";;\n"
                      "esac");
    }

    void writeScript(const QByteArray &script)
    {
        m_program.folder().write("libm9s", "#!/bin/sh\n" + script + "\n");
        QVERIFY(QFile::setPermissions(m_program.folder().file("libm9s"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // Every file in the output folder, hidden ones too.
    QStringList outputEntries() const
    {
        return QDir(m_output->path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    void queue(const QStringList &names)
    {
        for (const QString &name : names)
            frmMain->AddFile(name.startsWith('/') ? name : clip(name));
    }

    // Clicks Convert; returns when the run has ended.
    void convert() { QTest::mouseClick(FindControl<QPushButton>(frmMain, "buttonConvert"), Qt::LeftButton); }

    void clickLater(QWidget *widget)
    {
        QTimer::singleShot(0, widget, [widget] { QTest::mouseClick(widget, Qt::LeftButton); });
    }

    // The end-of-run message as the run shows it.
    QString endMessage(const QStringList &failed = {}) const
    {
        QString text = frmMain->msgFolderView + "\r\n\r\n" + frmMain->msgFinishInfo;
        if (!failed.isEmpty())
            text += "\r\n\r\n" + frmMain->msgFailedFiles + "\r\n" + failed.join("\r\n");
        return text;
    }

    void verifyIdle()
    {
        QCOMPARE(status()->text(), frmMain->msgStatusReady);
        QCOMPARE(bar()->value(), 0);
        QVERIFY(list()->isEnabled());
        QVERIFY(FindControl<QAction>(frmMain, "ActionFileAdd")->isEnabled());
        QVERIFY(!frmMain->ConversionRun->ConsoleIO->IsRunning());
    }

private slots:
    void initTestCase()
    {
        if (ffmpegProgram().isEmpty() || QStandardPaths::findExecutable("ffprobe").isEmpty())
            QSKIP("ffmpeg and ffprobe are needed to make and check the clips");
        QVERIFY(QFileInfo(QStringLiteral(TOLVANE_PROGRAM_DIR "/libm9s")).isExecutable());

        const QString ffmpeg = ffmpegProgram();
        const auto make = [&](const QString &name, const QStringList &options) {
            QVERIFY2(runTool(ffmpeg, QStringList{"-v", "error", "-y"} + options + QStringList{clip(name)}),
                     qPrintable(name));
        };
        const QStringList video{"-f", "lavfi", "-i", "testsrc=size=96x64:rate=10"};
        make("a.avi", video
                          + QStringList{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", "2", "-c:v",
                                        "mpeg4", "-c:a", "mp3", "-ac", "2"});
        make("b.mp4", video
                          + QStringList{"-f", "lavfi", "-i", "sine=frequency=660:sample_rate=44100", "-t", "2", "-c:v",
                                        "mpeg4", "-c:a", "aac", "-ac", "1"});
        make("c.mkv", video
                          + QStringList{"-f", "lavfi", "-i", "sine=frequency=880:sample_rate=22050", "-t", "2", "-c:v",
                                        "mpeg4", "-c:a", "pcm_s16le"});
        // The blocking stand-in never reads the long clip; it leaves this
        // audio behind as the part converted before a stop.
        QVERIFY(QFile::copy(clip("c.mkv"), clip("long.mkv")));
        make("partial.mp3", {"-f", "lavfi", "-i", "sine=frequency=300:sample_rate=22050", "-t", "1", "-c:a", "mp3"});
        // Not a video at all: the real encoder fails on it.
        writeFile(clip("damaged.avi"), QByteArray(4096, '\x5a'));
        QVERIFY(QDir(m_clips.path()).mkpath("x") && QDir(m_clips.path()).mkpath("y"));
        QVERIFY(QFile::copy(clip("a.avi"), clip("x/clip.avi")));
        make("y/clip.avi", video
                               + QStringList{"-f", "lavfi", "-i", "sine=frequency=500:sample_rate=44100", "-t", "3",
                                             "-c:v", "mpeg4", "-c:a", "mp3"});
    }

    void cleanup()
    {
        m_program.stop();
        m_output.reset();
    }

    // Three files in the chosen format, rate and channels.
    void convertsTheQueue_data()
    {
        QTest::addColumn<bool>("wav");
        QTest::addColumn<int>("rateIndex");
        QTest::addColumn<bool>("mono");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("rate");
        QTest::newRow("mp3, defaults") << false << 8 << false << "mp3" << 44100;
        QTest::newRow("mp3, 22050 Hz mono") << false << 5 << true << "mp3" << 22050;
        QTest::newRow("wav, 48000 Hz stereo") << true << 9 << false << "pcm_s16le" << 48000;
        QTest::newRow("wav, 8000 Hz mono") << true << 1 << true << "pcm_s16le" << 8000;
    }

    void convertsTheQueue()
    {
        QFETCH(bool, wav);
        QFETCH(int, rateIndex);
        QFETCH(bool, mono);
        QFETCH(QString, codec);
        QFETCH(int, rate);
        start();
        queue({"a.avi", "b.mp4", "c.mkv"});
        FindControl<QRadioButton>(frmMain, wav ? "radioButtonFormatWAV" : "radioButtonFormatMP3")->setChecked(true);
        FindControl<QComboBox>(frmMain, "comboBoxSampleRate")->setCurrentIndex(rateIndex);
        FindControl<QRadioButton>(frmMain, mono ? "radioButtonChannelMono" : "radioButtonChannelStereo")
            ->setChecked(true);

        ModalAnswerer answers;
        answers.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();

        QCOMPARE(m_program.errors, QStringList());
        QCOMPARE(answers.seen.size(), 1);
        QCOMPARE(answers.seen[0].text, endMessage());
        QVERIFY(answers.unexpected.isEmpty());
        const QString ext = wav ? ".wav" : ".mp3";
        for (const QString name : {"a", "b", "c"}) {
            const AudioInfo info = probe(out(name + ext));
            QVERIFY2(info.valid, qPrintable(name + ext));
            QCOMPARE(info.codec, codec);
            QCOMPARE(info.sampleRate, rate);
            QCOMPARE(info.channels, mono ? 1 : 2);
            QVERIFY(info.duration > 1.5 && info.duration < 2.5);
        }
        QCOMPARE(QDir(m_output->path()).entryList(QDir::Files).size(), 3);
        verifyIdle();
        QCOMPARE(FindControl<QAction>(frmMain, "ActionConvertNow")->text(), frmMain->StringStartCaption);
        QCOMPARE(list()->selectionModel()->selectedRows().value(0).row(), 2); // the last row stays selected
    }

    // What the window shows while each file is converted.
    void progressFollowsTheRun()
    {
        start();
        queue({"a.avi", "b.mp4", "c.mkv"});
        struct Look
        {
            int bar;
            QString text;
            QString tip;
            int selected;
            bool listEnabled, formatEnabled, exitEnabled, bitrateEnabled;
            QString caption;
        };
        QList<Look> looks;
        const auto look = [&] {
            looks.append({bar()->value(), status()->text(), status()->toolTip(),
                          list()->selectionModel()->selectedRows().value(0).row(), list()->isEnabled(),
                          FindControl<QRadioButton>(frmMain, "radioButtonFormatWAV")->isEnabled(),
                          FindControl<QAction>(frmMain, "ActionExit")->isEnabled(),
                          FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate")->isEnabled(),
                          FindControl<QAction>(frmMain, "ActionConvertNow")->text()});
        };
        // Connected after the window's own handlers, so each sees the display they made.
        connect(frmMain->ConversionRun->ConsoleIO, &TConsoleIO::OnReceiveError, this, look);
        connect(frmMain->ConversionRun->ConsoleIO, &TConsoleIO::OnReceiveOutput, this, look);
        QList<int> barValues;
        connect(bar(), &QProgressBar::valueChanged, this, [&](int value) { barValues << value; });

        ModalAnswerer answers;
        answers.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();

        QVERIFY(looks.size() >= 3);
        const QStringList around = frmMain->msgStatusRun.split("%s");
        QCOMPARE(around.size(), 2);
        const QRegularExpression shape("^" + QRegularExpression::escape(around[0]) + "(\\d)/3"
                                       + QRegularExpression::escape(around[1]) + " \\[-00:00:0\\d\\] (.*)$");
        QSet<int> rowsSeen;
        for (const Look &l : looks) {
            QVERIFY2(l.bar >= 0 && l.bar <= 99, qPrintable(QString::number(l.bar)));
            const QRegularExpressionMatch m = shape.match(l.text);
            QVERIFY2(m.hasMatch(), qPrintable(l.text));
            QCOMPARE(m.captured(1).toInt(), l.selected + 1);
            QCOMPARE(m.captured(2), list()->item(l.selected, 0)->text());
            QCOMPARE(l.tip, l.text);
            QVERIFY(!l.listEnabled);
            QVERIFY(!l.bitrateEnabled);
            QVERIFY(l.formatEnabled);
            QVERIFY(l.exitEnabled);
            QCOMPARE(l.caption, frmMain->StringStopCaption);
            rowsSeen.insert(l.selected);
        }
        QCOMPARE(rowsSeen, (QSet<int>{0, 1, 2}));
        QVERIFY(std::any_of(barValues.begin(), barValues.end(), [](int v) { return v > 0; }));
        QVERIFY(!barValues.contains(100));
        QCOMPARE(barValues.last(), 0); // the end of the run resets it
        verifyIdle();
    }

    // Stop during the first of three files, then convert again from the top.
    void stopAndRunAgain()
    {
        start(false);
        useBlockingEncoder();
        queue({"long.mkv", "a.avi", "b.mp4"});
        QMetaObject::Connection stopper =
            connect(frmMain->ConversionRun->ConsoleIO, &TConsoleIO::OnReceiveError, this, [&] {
                disconnect(stopper);
                clickLater(FindControl<QPushButton>(frmMain, "buttonConvert"));
            });
        ModalAnswerer answers;
        convert();

        QVERIFY(answers.seen.isEmpty());
        QVERIFY(answers.unexpected.isEmpty());
        QCOMPARE(m_program.errors, QStringList());
        const AudioInfo partial = probe(out("long.mp3"));
        QVERIFY(partial.valid);
        QVERIFY2(partial.duration < 900, qPrintable(QString::number(partial.duration)));
        QVERIFY(!QFile::exists(out("a.mp3")));
        QVERIFY(!QFile::exists(out("b.mp3")));
        verifyIdle();
        QCOMPARE(FindControl<QAction>(frmMain, "ActionConvertNow")->text(), frmMain->StringStartCaption);

        // The next run starts from the first row again; long.mp3 now exists.
        QString firstSource;
        stopper = connect(frmMain->ConversionRun->ConsoleIO, &TConsoleIO::OnReceiveError, this, [&] {
            disconnect(stopper);
            firstSource = list()->item(list()->selectionModel()->selectedRows().value(0).row(), 0)->text();
            clickLater(FindControl<QPushButton>(frmMain, "buttonConvert"));
        });
        answers.expect(ModalAnswerer::overwriteAnswer("buttonOverWrite", false));
        convert();
        QCOMPARE(firstSource, clip("long.mkv"));
        QCOMPARE(answers.seenNames(), QStringList{"frmOverWrite"});
        QVERIFY(!QFile::exists(out("a.mp3")));
        verifyIdle();
    }

    // A stop during the last file is a stop too: no countdown, no end message.
    void stopDuringTheLastFile()
    {
        start(false, QString(), "autoPowerOff=1\nautoPowerOff_WaitTime=30\n");
        useBlockingEncoder();
        queue({"a.avi", "long.mkv"});
        bool stopped = false;
        connect(frmMain->ConversionRun->ConsoleIO, &TConsoleIO::OnReceiveError, this, [&] {
            if (!stopped && list()->selectionModel()->selectedRows().value(0).row() == 1) {
                stopped = true;
                clickLater(FindControl<QPushButton>(frmMain, "buttonConvert"));
            }
        });
        ModalAnswerer modal;
        convert();
        QVERIFY(modal.seen.isEmpty() && modal.unexpected.isEmpty());
        QCOMPARE(m_program.powerOffs, 0);
        QCOMPARE(m_program.errors, QStringList());
        QVERIFY(probe(out("a.mp3")).valid);
        const AudioInfo partial = probe(out("long.mp3"));
        QVERIFY(partial.valid && partial.duration < 900);
        verifyIdle();
    }

    // An existing output with each answer of the dialog, with and without the check box.
    void existingOutputs_data()
    {
        QTest::addColumn<QStringList>("answers"); // button[,always] per showing
        QTest::addColumn<QStringList>("converted");
        QTest::addColumn<QStringList>("untouched");
        QTest::addColumn<int>("remembered");
        QTest::newRow("ignore twice") << QStringList{"buttonIgnore", "buttonIgnore"} << QStringList{}
                                      << QStringList{"a.mp3", "b.mp3"} << 0;
        QTest::newRow("ignore always") << QStringList{"buttonIgnore,always"} << QStringList{}
                                       << QStringList{"a.mp3", "b.mp3"} << 2;
        QTest::newRow("overwrite, then ignore")
            << QStringList{"buttonOverWrite", "buttonIgnore"} << QStringList{"a.mp3"} << QStringList{"b.mp3"} << 0;
        QTest::newRow("overwrite always")
            << QStringList{"buttonOverWrite,always"} << QStringList{"a.mp3", "b.mp3"} << QStringList{} << 4;
        QTest::newRow("auto name, then overwrite") << QStringList{"buttonAutoName", "buttonOverWrite"}
                                                   << QStringList{"a.mp3(1).mp3", "b.mp3"} << QStringList{"a.mp3"} << 0;
        QTest::newRow("auto name always")
            << QStringList{"buttonAutoName,always"} << QStringList{"a.mp3(1).mp3", "b.mp3(1).mp3"}
            << QStringList{"a.mp3", "b.mp3"} << 6;
        QTest::newRow("title bar close, then overwrite")
            << QStringList{"close", "buttonOverWrite"} << QStringList{"b.mp3"} << QStringList{"a.mp3"} << 0;
        QTest::newRow("overwrite, then Escape")
            << QStringList{"buttonOverWrite", "escape"} << QStringList{"a.mp3"} << QStringList{"b.mp3"} << 0;
        QTest::newRow("overwrite, then Escape with the box ticked")
            << QStringList{"buttonOverWrite", "escape,always"} << QStringList{"a.mp3"} << QStringList{"b.mp3"} << 0;
    }

    void existingOutputs()
    {
        QFETCH(QStringList, answers);
        QFETCH(QStringList, converted);
        QFETCH(QStringList, untouched);
        QFETCH(int, remembered);
        start();
        queue({"a.avi", "b.mp4"});
        writeFile(out("a.mp3"), "old a");
        writeFile(out("b.mp3"), "old b");

        ModalAnswerer modal;
        for (const QString &answer : answers) {
            if (answer == "close")
                modal.expect(ModalAnswerer::closeByTitleBar());
            else if (answer.startsWith("escape"))
                modal.expect([always = answer.endsWith(",always")](QWidget *question) {
                    question->findChild<QCheckBox *>("checkBoxNotice")->setChecked(always);
                    QTest::keyClick(question, Qt::Key_Escape);
                });
            else
                modal.expect(ModalAnswerer::overwriteAnswer(answer.section(',', 0, 0), answer.endsWith(",always")));
        }
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();

        QVERIFY(modal.allUsed());
        QVERIFY(modal.unexpected.isEmpty());
        QCOMPARE(modal.seen.last().text, endMessage());
        for (const QString &name : converted)
            QVERIFY2(probe(out(name)).valid, qPrintable(name));
        for (const QString &name : untouched)
            QCOMPARE(contentOf(out(name)), QByteArray("old ") + name.at(0).toLatin1());
        QCOMPARE(int(frmMain->ConversionRun->FOverwriteChoice), remembered);
        QCOMPARE(outputEntries().size(), 2
                                             + int(std::count_if(converted.begin(), converted.end(),
                                                                 [](const QString &n) { return n.contains("(1)"); })));
    }

    // An answer for every collision holds for later runs without asking.
    void rememberedAnswerHoldsAcrossRuns()
    {
        start();
        queue({"a.avi"});
        writeFile(out("a.mp3"), "old a");
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::overwriteAnswer("buttonOverWrite", true));
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QVERIFY(probe(out("a.mp3")).valid);

        writeFile(out("a.mp3"), "old a");
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QCOMPARE(modal.seenNames(), (QStringList{"frmOverWrite", "msgFinishInfo", "msgFinishInfo"}));
        QVERIFY(probe(out("a.mp3")).valid);
    }

    // Two sources of one name: the second never replaces what the first just
    // wrote, whatever answer is remembered for files that were there before.
    void twoSourcesWithTheSameName_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<bool>("oldFile"); // clip.mp3 exists before the run
        QTest::newRow("no file before") << QStringList{} << false;
        QTest::newRow("overwrite always") << QStringList{"buttonOverWrite,always"} << true;
        QTest::newRow("overwrite once") << QStringList{"buttonOverWrite"} << true;
    }

    void twoSourcesWithTheSameName()
    {
        QFETCH(QStringList, answers);
        QFETCH(bool, oldFile);
        start();
        queue({"x/clip.avi", "y/clip.avi"});
        if (oldFile)
            writeFile(out("clip.mp3"), "old clip");
        ModalAnswerer modal;
        for (const QString &answer : answers)
            modal.expect(ModalAnswerer::overwriteAnswer(answer.section(',', 0, 0), answer.endsWith(",always")));
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QCOMPARE(m_program.errors, QStringList());
        QVERIFY(modal.allUsed() && modal.unexpected.isEmpty());
        QCOMPARE(modal.seen.last().text, endMessage());
        // x/clip.avi lasts 2 seconds, y/clip.avi 3.
        QVERIFY(qAbs(probe(out("clip.mp3")).duration - 2.0) < 0.3);
        QVERIFY(qAbs(probe(out("clip.mp3(1).mp3")).duration - 3.0) < 0.3);
        QCOMPARE(outputEntries(), (QStringList{"clip.mp3", "clip.mp3(1).mp3"}));
    }

    // The real encoder on a file that is no video: the overwritten file comes back as it was.
    void damagedVideoGivesTheOldFileBack()
    {
        start();
        queue({"damaged.avi", "a.avi"});
        const QByteArray old = contentOf(clip("partial.mp3")) + QByteArray("\0tail", 5);
        writeFile(out("damaged.mp3"), old);
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::overwriteAnswer("buttonOverWrite", false));
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QCOMPARE(m_program.errors, QStringList());
        QCOMPARE(modal.seen.last().text, endMessage({clip("damaged.avi")}));
        // The reason stands in the detail area, behind the file's name.
        QVERIFY(modal.seen.last().detail.startsWith("damaged.avi: "));
        QVERIFY(modal.seen.last().detail.size() > QString("damaged.avi: ").size());
        // Each row shows how its file fared; a failure says why in its tool tip.
        auto *list = FindControl<QTableWidget>(frmMain, "listViewFiles");
        QCOMPARE(list->item(0, 1)->text(), frmMain->msgStateFailed);
        QCOMPARE(list->item(0, 1)->toolTip(), modal.seen.last().detail.mid(QString("damaged.avi: ").size()));
        QCOMPARE(list->item(1, 1)->text(), frmMain->msgStateDone);
        QCOMPARE(list->item(0, 0)->text(), clip("damaged.avi"));
        QCOMPARE(contentOf(out("damaged.mp3")), old);
        QVERIFY(probe(out("a.mp3")).valid);
        QCOMPARE(outputEntries(), (QStringList{"a.mp3", "damaged.mp3"}));
    }

    // A source deleted after it was queued: no placeholder stays, the end names it.
    void deletedSourceIsNamedAtTheEnd()
    {
        start();
        QTemporaryDir gone;
        const QString missing = gone.filePath("gone.avi");
        QVERIFY(QFile::copy(clip("a.avi"), missing));
        queue({"a.avi", missing, "b.mp4"});
        QVERIFY(QFile::remove(missing));

        ModalAnswerer modal;
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QCOMPARE(m_program.errors, QStringList());
        QCOMPARE(modal.seen.value(0).text, endMessage({missing}));
        QVERIFY(probe(out("a.mp3")).valid);
        QVERIFY(probe(out("b.mp3")).valid);
        QVERIFY(!QFile::exists(out("gone.mp3")));
    }

    // No encoder beside the program: the run ends at the first file with the system error.
    void missingEncoderEndsTheRun_data()
    {
        QTest::addColumn<bool>("oldFile"); // a.mp3 exists and is to be overwritten
        QTest::newRow("empty folder") << false;
        QTest::newRow("over an old file") << true;
    }

    void missingEncoderEndsTheRun()
    {
        QFETCH(bool, oldFile);
        start(false);
        queue({"a.avi", "b.mp4"});
        if (oldFile)
            writeFile(out("a.mp3"), "old a");
        ModalAnswerer modal;
        if (oldFile)
            modal.expect(ModalAnswerer::overwriteAnswer("buttonOverWrite", true));
        convert();
        QCOMPARE(m_program.errors, QStringList{"System Error.  Code: 2.\r\nNo such file or directory."});
        QVERIFY(modal.allUsed() && modal.unexpected.isEmpty());
        QCOMPARE(outputEntries(), oldFile ? QStringList{"a.mp3"} : QStringList());
        if (oldFile)
            QCOMPARE(contentOf(out("a.mp3")), QByteArray("old a"));
        QVERIFY(list()->isEnabled());
    }

    // Stand-in encoders that never write their target, or write and fail.
    void encoderThatFails_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("stop");       // stopped once the stand-in writes to its error output
        QTest::addColumn<bool>("oldFile");    // a.mp3 exists before and is overwritten
        QTest::addColumn<QByteArray>("left"); // the target afterwards; empty: gone
        QTest::addColumn<bool>("named");      // named as failed in the end message
        const QByteArray writes("for last; do :; done\nprintf partial > \"$last\"\n");
        const QByteArray deaf("echo started >&2\nexec sleep 600");
        QTest::newRow("ends at once with an error") << QByteArray("exit 3") << false << false << QByteArray() << true;
        QTest::newRow("ends at once with an error, over an old file")
            << QByteArray("exit 3") << false << true << QByteArray("old a") << true;
        QTest::newRow("ends well but writes nothing") << QByteArray("exit 0") << false << false << QByteArray() << true;
        QTest::newRow("ends well but writes nothing, over an old file")
            << QByteArray("exit 0") << false << true << QByteArray("old a") << true;
        QTest::newRow("writes, then fails") << writes + "exit 1" << false << false << QByteArray("partial") << true;
        QTest::newRow("writes, then fails, over an old file")
            << writes + "exit 1" << false << true << QByteArray("old a") << true;
        QTest::newRow("deaf to quit, killed by a stop") << deaf << true << false << QByteArray() << false;
        QTest::newRow("stopped before audio, over an old file") << deaf << true << true << QByteArray("old a") << false;
        QTest::newRow("stopped after audio, over an old file")
            << writes + "echo written >&2\nread command\nexit 0" << true << true << QByteArray("partial") << false;
    }

    void encoderThatFails()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, stop);
        QFETCH(bool, oldFile);
        QFETCH(QByteArray, left);
        QFETCH(bool, named);
        start(false);
        writeScript(script);
        queue({"a.avi"});
        if (oldFile)
            writeFile(out("a.mp3"), "old a");
        QMetaObject::Connection stopper;
        if (stop)
            stopper = connect(frmMain->ConversionRun->ConsoleIO, &TConsoleIO::OnReceiveError, this, [&] {
                disconnect(stopper);
                clickLater(FindControl<QPushButton>(frmMain, "buttonConvert"));
            });
        ModalAnswerer modal;
        if (oldFile)
            modal.expect(ModalAnswerer::overwriteAnswer("buttonOverWrite", false));
        if (!stop)
            modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();

        QCOMPARE(m_program.errors, QStringList());
        QVERIFY(modal.allUsed() && modal.unexpected.isEmpty());
        if (!stop)
            QCOMPARE(modal.seen.last().text, endMessage(named ? QStringList{clip("a.avi")} : QStringList{}));
        QCOMPARE(outputEntries(), left.isEmpty() ? QStringList() : QStringList{"a.mp3"});
        if (!left.isEmpty())
            QCOMPARE(contentOf(out("a.mp3")), left);
        verifyIdle();
    }

    // Output folders: missing ones are made; an unusable one stops the run.
    void outputFolder_data()
    {
        QTest::addColumn<QString>("folder"); // relative to a temporary folder; "-" for an empty setting
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("opened"); // folder the end message's Yes opens
        QTest::newRow("missing, with parents") << "deep/er/out" << "" << "deep/er/out/";
        QTest::newRow("trailing slash kept") << "out/" << "" << "out/";
        QTest::newRow("empty") << "-" << "msgNoOutputFolder" << "";
        QTest::newRow("a file in the way") << "file/out" << "Invalid filename." << "";
    }

    void outputFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, error);
        QFETCH(QString, opened);
        QTemporaryDir base;
        writeFile(base.filePath("file"), "x");
        const QString setting = folder == "-" ? QString("") : base.filePath(folder);
        start(true, setting);
        queue({"a.avi"});
        UrlRecorder urls({"file"});
        ModalAnswerer modal;
        if (error.isEmpty())
            modal.expect(ModalAnswerer::messageBox(QMessageBox::Yes));
        convert();

        QVERIFY(modal.allUsed() && modal.unexpected.isEmpty());
        if (error.isEmpty()) {
            QCOMPARE(m_program.errors, QStringList());
            QVERIFY(probe(base.filePath(opened) + "a.mp3").valid);
            QCOMPARE(urls.opened, QList<QUrl>{QUrl::fromLocalFile(base.filePath(opened))});
        } else {
            const QString expected = error == "msgNoOutputFolder" ? WithFullStop(frmMain->msgNoOutputFolder) : error;
            QCOMPARE(m_program.errors, QStringList{expected});
            QVERIFY(urls.opened.isEmpty());
            QVERIFY(!QFile::exists(base.filePath("file/out")));
        }
    }

    // The format is read for every file: a switch during the second applies to the third.
    void formatSwitchDuringTheSecondFile()
    {
        start();
        queue({"a.avi", "b.mp4", "c.mkv"});
        connect(frmMain->ConversionRun->ConsoleIO, &TConsoleIO::OnProcessStatusChange, this,
                [&](TConsoleIO *, bool running) {
                    if (running && list()->selectionModel()->selectedRows().value(0).row() == 1)
                        clickLater(FindControl<QRadioButton>(frmMain, "radioButtonFormatWAV"));
                });
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QCOMPARE(probe(out("a.mp3")).codec, QStringLiteral("mp3"));
        QCOMPARE(probe(out("b.mp3")).codec, QStringLiteral("mp3"));
        QCOMPARE(probe(out("c.wav")).codec, QStringLiteral("pcm_s16le"));
        QVERIFY(!QFile::exists(out("c.mp3")));
    }

    // Closing the window mid-run ends the run at once: no other file, no message.
    void closingTheWindowEndsTheRun()
    {
        writeFile(QDir(QDir::tempPath()).filePath("v9i.avs"), "script");
        start(false, QString(), "autoPowerOff=1\n");
        useBlockingEncoder();
        queue({"long.mkv", "a.avi"});
        QMetaObject::Connection closer =
            connect(frmMain->ConversionRun->ConsoleIO, &TConsoleIO::OnReceiveError, this, [&] {
                disconnect(closer);
                QTimer::singleShot(0, frmMain, [&] { frmMain->close(); });
            });
        ModalAnswerer modal;
        convert();
        QVERIFY(!frmMain->isVisible());
        QVERIFY(modal.seen.isEmpty() && modal.unexpected.isEmpty());
        QCOMPARE(m_program.powerOffs, 0);
        QVERIFY(!QFile::exists(QDir(QDir::tempPath()).filePath("v9i.avs")));
        QVERIFY(!QFile::exists(out("a.mp3")));
        const AudioInfo partial = probe(out("long.mp3"));
        QVERIFY(partial.valid && partial.duration < 900);
        // The encoder is gone, not left running behind the closed window.
        const pid_t encoder = pid_t(contentOf(clip("blocking.pid")).trimmed().toLongLong());
        QVERIFY(encoder > 0);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(encoder, 0) != 0, 30000);
    }

    // The file-exists question runs its own event loop; a close that comes
    // meanwhile ends the run there: the answer starts no encoder.
    void closingDuringTheQuestionStartsNothing()
    {
        start();
        queue({"a.avi", "b.mp4"});
        writeFile(out("a.mp3"), "old a");
        ModalAnswerer modal;
        modal.expect([](QWidget *question) {
            frmMain->close();
            ModalAnswerer::overwriteAnswer("buttonOverWrite", false)(question);
        });
        convert();
        QVERIFY(!frmMain->isVisible());
        QCOMPARE(modal.seenNames(), QStringList{"frmOverWrite"});
        QVERIFY(modal.unexpected.isEmpty());
        QCOMPARE(contentOf(out("a.mp3")), QByteArray("old a"));
        QVERIFY(!QFile::exists(out("b.mp3")));
        QVERIFY(!frmMain->ConversionRun->ConsoleIO || !frmMain->ConversionRun->ConsoleIO->IsRunning());
    }

    // Files dropped on the window while it converts join the queue but not the run.
    void droppedDuringARunWaitForTheNext()
    {
        start();
        queue({"a.avi"});
        QMetaObject::Connection dropper =
            connect(frmMain->ConversionRun->ConsoleIO, &TConsoleIO::OnReceiveError, this, [&] {
                disconnect(dropper);
                auto *data = new QMimeData;
                data->setUrls({QUrl::fromLocalFile(clip("b.mp4"))});
                const QPoint at = frmMain->rect().center();
                QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(frmMain, &enter);
                QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(frmMain, &drop);
                delete data;
            });
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QCOMPARE(list()->rowCount(), 2);
        QCOMPARE(list()->item(1, 0)->text(), clip("b.mp4"));
        QVERIFY(probe(out("a.mp3")).valid);
        QVERIFY(!QFile::exists(out("b.mp3")));
        QCOMPARE(modal.seenNames(), QStringList{"msgFinishInfo"});
    }

    // File names go into the status line as they are: no format, no markup.
    void statusLineShowsOddNamesAsTheyAre_data()
    {
        QTest::addColumn<QString>("source");
        QTest::newRow("percent signs") << "/v/100% %s %d %1.avi";
        QTest::newRow("quotes") << "/v/\"it's\".avi";
        QTest::newRow("markup") << "/v/<b>bold</b> &amp; <i>.avi";
        QTest::newRow("very long") << "/v/" + QString(600, 'x') + ".avi";
        QTest::newRow("line breaks") << "/v/two\nlines\r\nand\u2029more.avi";
    }

    void statusLineShowsOddNamesAsTheyAre()
    {
        QFETCH(QString, source);
        start();
        frmMain->msgStatusRun = "Converting file %s";
        queue({source});
        QCOMPARE(list()->rowCount(), 1);
        list()->selectRow(0);
        const QSize windowSize = frmMain->size();
        const QRect labelGeometry = status()->geometry();
        frmMain->ParseEncoderOutput("ffmpeg_release_time=1.0=ffmpeg_release_time");
        QApplication::processEvents();

        const QString expected = "Converting file 1/1 [-00:00:01] " + source;
        // Line breaks show as replacement characters: the line has room for one.
        QString oneLine = expected;
        for (const QChar lineBreak : {QChar(u'\n'), QChar(u'\r'), QChar(0x2029)})
            oneLine.replace(lineBreak, QChar::ReplacementCharacter);
        QCOMPARE(status()->text(), oneLine);
        // A label shows text that looks like markup as rich text unless told not to.
        QVERIFY(status()->textFormat() == Qt::PlainText || !Qt::mightBeRichText(expected));
        if (Qt::mightBeRichText(status()->toolTip())) {
            QTextDocument tip;
            tip.setHtml(status()->toolTip());
            QCOMPARE(tip.toPlainText(), expected);
        } else {
            QCOMPARE(status()->toolTip(), expected);
        }
        QCOMPARE(status()->geometry(), labelGeometry);
        QCOMPARE(frmMain->size(), windowSize);
    }

    // With automatic power-off the countdown comes before the end message.
    void emptyQueueEndsAtOnceWithCountdown()
    {
        start(true, QString(), "autoPowerOff=1\nautoPowerOff_WaitTime=30\n");
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::click("buttonNo"));
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QCOMPARE(modal.seenNames(), (QStringList{"frmPowerOffWindows", "msgFinishInfo"}));
        QCOMPARE(modal.seen[1].text, endMessage());
        QCOMPARE(m_program.powerOffs, 0);
        verifyIdle();
    }

    // The display logic on the window itself, with the worked example.
    void parseEncoderOutput_data()
    {
        QTest::addColumn<int>("selected"); // -1: no selection
        QTest::addColumn<QString>("chunk");
        QTest::addColumn<int>("bar");
        QTest::addColumn<QString>("text");
        QTest::newRow("worked example") << 1
                                        << "ffmpeg_release_duration=00:03:25.40=ffmpeg_release_duration\rffmpeg_"
                                           "release_time=102.5=ffmpeg_release_time"
                                        << 50 << "Converting file 2/5 [-00:03:25] /v/two.avi";
        // No duration to measure by: a busy bar (its value reads -1).
        QTest::newRow("no duration") << 4 << "ffmpeg_release_time=3.0=ffmpeg_release_time" << -1
                                     << "Converting file 5/5 [-00:00:01] /v/five.avi";
        QTest::newRow("nothing selected") << -1 << "ffmpeg_release_time=3.0=ffmpeg_release_time" << 7 << "before";
    }

    void parseEncoderOutput()
    {
        QFETCH(int, selected);
        QFETCH(QString, chunk);
        QFETCH(int, bar);
        QFETCH(QString, text);
        start();
        frmMain->msgStatusRun = "Converting file %s";
        queue({"/v/one.avi", "/v/two.avi", "/v/three.avi", "/v/four.avi", "/v/five.avi"});
        list()->clearSelection();
        if (selected >= 0)
            list()->selectRow(selected);
        this->bar()->setValue(7);
        status()->setText("before");
        frmMain->ParseEncoderOutput(chunk);
        QCOMPARE(this->bar()->value(), bar);
        QCOMPARE(this->bar()->maximum(), bar < 0 ? 0 : 100);
        QCOMPARE(status()->text(), text);
        if (selected < 0)
            QCOMPARE(frmMain->ConversionRun->File().FDuration, qint64(0));
        else
            QCOMPARE(status()->toolTip(), text);
    }

    // A language's status text that cannot be formatted is replaced when the
    // file is loaded, so the progress raises nothing.
    void unusableStatusTextIsReplacedAtLoad()
    {
        start();
        QTemporaryDir dir;
        writeFile(dir.filePath("en.ini"), "[frmMain]\nmsgStatusRun=%d files\nmsgStatusReady=Ready\n");
        frmMain->LoadLanguage(dir.filePath("en.ini"));
        QCOMPARE(frmMain->msgStatusRun, QStringLiteral("Converting file %s"));
        queue({"/v/one.avi"});
        list()->selectRow(0);
        for (int chunk = 0; chunk < 3; ++chunk)
            frmMain->ParseEncoderOutput("ffmpeg_release_time=1.0=ffmpeg_release_time");
        QCOMPARE(m_program.errors, QStringList());
        QCOMPARE(status()->text(), QStringLiteral("Converting file 1/1 [-00:00:01] /v/one.avi"));
    }

    void parseErrorKeepsTheDisplay()
    {
        start();
        queue({"/v/one.avi"});
        list()->selectRow(0);
        bar()->setValue(7);
        status()->setText("before");
        try {
            frmMain->ParseEncoderOutput("ffmpeg_release_duration=00:01:00.00=ffmpeg_release_duration"
                                        "ffmpeg_release_time=x=ffmpeg_release_time");
            QFAIL("no error raised");
        } catch (const TolvaneError &e) {
            QCOMPARE(e.text(), QStringLiteral("'x' is not a valid floating point value"));
        }
        QCOMPARE(frmMain->ConversionRun->File().FDuration, qint64(60));
        QCOMPARE(bar()->value(), 7);
        QCOMPARE(status()->text(), QStringLiteral("before"));
    }

    // Two files at once: every row says how its file fares, the damaged one
    // why it failed; a file without a duration shows a busy bar; the title
    // shows the whole run while it goes and is the window's own afterwards.
    void severalFilesAtOnceShowTheirStates()
    {
        start(false);
        TIniFile(frmCommon->ConfigFile).WriteInteger("setting", "parallelFiles", 2);
        const QByteArray markers = "echo ffmpeg_release_time=1.0=ffmpeg_release_time >&2\n"
                                   "cp '"
                                   + clip("partial.mp3").toUtf8() + "' \"$last\"\n";
        writeScript("for last; do :; done\ncase \"$*\" in\n"
                    "*damaged.avi*) exec '" TOLVANE_PROGRAM_DIR "/libm9s' \"$@\";;\n"
                    "*b.mp4*) "
                    + markers
                    + ";;\n"
                      "*) echo ffmpeg_release_duration=00:00:02.00=ffmpeg_release_duration >&2\n"
                    + markers
                    + ";;\n"
                      "esac");
        queue({"a.avi", "damaged.avi", "b.mp4"});
        const QString title = frmMain->windowTitle();
        QStringList titles;
        QStringList lastRow; // the state and the bar's maximum at each report of b.mp4
        connect(frmMain->ConversionRun, &TConversionRun::FileProgress, this, [&](int row) {
            titles << frmMain->windowTitle();
            if (row == 2)
                lastRow << list()->item(2, 1)->text() + ' ' + QString::number(bar()->maximum());
        });
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();

        QCOMPARE(m_program.errors, QStringList());
        QCOMPARE(modal.seen.last().text, endMessage({clip("damaged.avi")}));
        const QString reason = modal.seen.last().detail.mid(QString("damaged.avi: ").size());
        QVERIFY(modal.seen.last().detail.startsWith("damaged.avi: ") && !reason.isEmpty());
        QVERIFY(lastRow.contains(frmMain->msgStateConverting + " 0"));
        QVERIFY(!titles.isEmpty());
        for (const QString &shown : titles)
            QVERIFY2(QRegularExpression("^\\d+% \u00B7 ").match(shown).hasMatch() && shown.endsWith(title),
                     qPrintable(shown));
        QCOMPARE(frmMain->windowTitle(), title);
        QStringList states, tips;
        for (int row = 0; row < 3; ++row) {
            states << list()->item(row, 1)->text();
            tips << list()->item(row, 1)->toolTip();
        }
        QCOMPARE(states, (QStringList{frmMain->msgStateDone, frmMain->msgStateFailed, frmMain->msgStateDone}));
        QCOMPARE(tips, (QStringList{QString(), reason, QString()}));
        QCOMPARE(outputEntries(), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(bar()->maximum(), 100);
        verifyIdle();
    }

    // After a stop the stopped file says so and rows never taken say nothing.
    void stopLeavesRowsNeverTakenBlank()
    {
        start(false);
        useBlockingEncoder();
        queue({"long.mkv", "a.avi"});
        const QString title = frmMain->windowTitle();
        QMetaObject::Connection stopper =
            connect(frmMain->ConversionRun->ConsoleIO, &TConsoleIO::OnReceiveError, this, [&] {
                disconnect(stopper);
                clickLater(FindControl<QPushButton>(frmMain, "buttonConvert"));
            });
        convert();
        QCOMPARE(list()->item(0, 1)->text(), frmMain->msgStateStopped);
        QCOMPARE(list()->item(1, 1)->text(), QString());
        QCOMPARE(frmMain->windowTitle(), title);
        verifyIdle();
    }
};

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false); // one test closes the main window
    TestRunWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "support/moc_UrlRecorder.cpp"
#include "tst_runwindow.moc"
