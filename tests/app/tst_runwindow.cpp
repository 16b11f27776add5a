// The conversion run end to end through the window: the real window, the
// real runner and the real encoder on short clips that ffmpeg makes at test
// time. The run's own rules are tested without a window in tests/conversion/.
#include "app/Application.h"
#include "app/MainWindow.h"
#include "common/IniFile.h"
#include "console/ConsoleIO.h"
#include "conversion/ConversionRun.h"
#include "conversion/EncoderOutput.h"
#include "conversion/FileQueue.h"
#include "gui/CommonServices.h"
#include "support/AudioClips.h"
#include "support/ErrorOf.h"
#include "support/FindControl.h"
#include "support/ModalAnswerer.h"
#include "support/NoRootOverride.h"
#include "support/ProgramFixture.h"
#include "support/QueueView.h"
#include "support/StandInEncoder.h"
#include "support/TestFiles.h"
#include "support/UrlRecorder.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <csignal>

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

    QTableView *list() { return queueView(); }
    QLabel *status() { return FindControl<QLabel>(frmMain, "labelCurrentInfo"); }
    QProgressBar *bar() { return FindControl<QProgressBar>(frmMain, "progressBarCurrent"); }

    // A program folder with the real encoder and the output folder in config.ini.
    void start(bool withEncoder = true, const QString &outputFolder = QString(), const QByteArray &extraConfig = {})
    {
        m_program.folder().installData();
        if (withEncoder)
            installEncoder(m_program.folder().path());
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
        installEncoder(m_program.folder().path(),
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

    void queue(const QStringList &names)
    {
        // Made-up paths ("/v/...") name no file: they go into the queue as they are.
        for (const QString &name : names)
            name.startsWith('/') ? frmMain->Queue()->Append(name) : void(frmMain->AddFile(clip(name)));
    }

    // Clicks Convert; returns when the run has ended (and its end message was answered).
    void convert()
    {
        QTest::mouseClick(FindControl<QPushButton>(frmMain, "buttonConvert"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!frmMain || !frmMain->ConversionRun()->IsActive(), 120000);
    }

    void clickLater(QWidget *widget)
    {
        QTimer::singleShot(0, widget, [widget] { QTest::mouseClick(widget, Qt::LeftButton); });
    }

    // The end message: what was done, whatever the time it took; the other
    // counts; the failed files with their reasons ("name: why"); the
    // question last, or none after a stop.
    void verifyEndMessage(const ModalAnswerer::Seen &seen, const QString &converted, const QStringList &counts = {},
                          const QStringList &failed = {}, bool stopped = false) const
    {
        QString text = (stopped ? frmMain->Texts().msgRunStopped : frmMain->Texts().msgFolderView) + "\n\n"
                       + FormatText(frmMain->Texts().msgRunSummary, converted.split(' ') << "TIME");
        for (const QString &count : counts)
            text += "\n" + count;
        if (!failed.isEmpty())
            text += "\n\n" + frmMain->Texts().msgFailedFiles + "\n" + failed.join("\n");
        const QRegularExpression shape("^" + QRegularExpression::escape(text).replace("TIME", "[^,]+") + "$");
        QVERIFY2(shape.match(seen.text).hasMatch(), qPrintable(seen.text));
        QCOMPARE(seen.informative, stopped ? QString() : frmMain->Texts().msgFinishInfo);
    }
    QString count(const QString &text, int files) const { return FormatText(text, {QString::number(files)}); }

    void verifyIdle()
    {
        QCOMPARE(status()->text(), frmMain->Texts().msgStatusReady);
        QCOMPARE(bar()->value(), 0);
        QVERIFY(list()->isEnabled());
        QVERIFY(FindControl<QAction>(frmMain, "ActionFileAdd")->isEnabled());
        QVERIFY(!frmMain->ConversionRun()->ConsoleIO->IsRunning());
    }

private slots:
    void initTestCase()
    {
        if (!haveFfmpegTools())
            QSKIP("ffmpeg and ffprobe are needed to make and check the clips");
        QVERIFY(QFileInfo(QStringLiteral(TOLVANE_PROGRAM_DIR "/libm9s")).isExecutable());

        const QStringList video{"-f", "lavfi", "-i", "testsrc=size=96x64:rate=10"};
        makeClip(clip("a.avi"), video
                                    + QStringList{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t",
                                                  "2", "-c:v", "mpeg4", "-c:a", "mp3", "-ac", "2"});
        makeClip(clip("b.mp4"), video
                                    + QStringList{"-f", "lavfi", "-i", "sine=frequency=660:sample_rate=44100", "-t",
                                                  "2", "-c:v", "mpeg4", "-c:a", "aac", "-ac", "1"});
        makeClip(clip("c.mkv"), video
                                    + QStringList{"-f", "lavfi", "-i", "sine=frequency=880:sample_rate=22050", "-t",
                                                  "2", "-c:v", "mpeg4", "-c:a", "pcm_s16le"});
        // The blocking stand-in never reads the long clip; it leaves this
        // audio behind as the part converted before a stop.
        QVERIFY(QFile::copy(clip("c.mkv"), clip("long.mkv")));
        makeClip(clip("partial.mp3"),
                 {"-f", "lavfi", "-i", "sine=frequency=300:sample_rate=22050", "-t", "1", "-c:a", "mp3"});
        // Not a video at all: the real encoder fails on it.
        writeFile(clip("damaged.avi"), QByteArray(4096, '\x5a'));
    }

    void cleanup()
    {
        m_program.stop();
        m_output.reset();
    }

    // Three files in the chosen format, rate and channels. The other
    // formats and rates are the engine's tests.
    void convertsTheQueue_data()
    {
        QTest::addColumn<bool>("wav");
        QTest::addColumn<int>("rateIndex");
        QTest::addColumn<bool>("mono");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("rate");
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
        verifyEndMessage(answers.seen[0], "3 3");
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
        QCOMPARE(FindControl<QAction>(frmMain, "ActionConvertNow")->text(), frmMain->Texts().StringStartCaption);
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
        connect(frmMain->ConversionRun()->ConsoleIO, &TConsoleIO::OnReceiveError, this, look);
        connect(frmMain->ConversionRun()->ConsoleIO, &TConsoleIO::OnReceiveOutput, this, look);
        QList<int> barValues;
        connect(bar(), &QProgressBar::valueChanged, this, [&](int value) { barValues << value; });

        ModalAnswerer answers;
        answers.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();

        QVERIFY(looks.size() >= 3);
        const QStringList around = frmMain->Texts().msgStatusRun.split("%s");
        QCOMPARE(around.size(), 2);
        const QStringList aroundLeft = frmMain->Texts().msgStatusAudioLeft.split("%s");
        const QString audioLeft = QRegularExpression::escape(aroundLeft.value(0)) + "00:00:0\\d"
                                  + QRegularExpression::escape(aroundLeft.value(1));
        const QRegularExpression shape("^" + QRegularExpression::escape(around[0]) + "(\\d)/3"
                                       + QRegularExpression::escape(around[1]) + " \u00B7 " + audioLeft
                                       + " \u00B7 (.*)$");
        QSet<int> rowsSeen;
        for (const Look &l : looks) {
            QVERIFY2(l.bar >= 0 && l.bar <= 99, qPrintable(QString::number(l.bar)));
            const QRegularExpressionMatch m = shape.match(l.text);
            QVERIFY2(m.hasMatch(), qPrintable(l.text));
            QCOMPARE(m.captured(1).toInt(), l.selected + 1);
            // The line names the file; its tool tip the whole path.
            QCOMPARE(m.captured(2), QFileInfo(queueCell(l.selected, 0)).fileName());
            QCOMPARE(l.tip, l.text.chopped(m.captured(2).size()) + queueCell(l.selected, 0));
            QVERIFY(!l.listEnabled);
            QVERIFY(!l.bitrateEnabled);
            QVERIFY(!l.formatEnabled); // the run keeps the format it started with
            QVERIFY(l.exitEnabled);
            QCOMPARE(l.caption, frmMain->Texts().StringStopCaption);
            rowsSeen.insert(l.selected);
        }
        QCOMPARE(rowsSeen, (QSet<int>{0, 1, 2}));
        QVERIFY(std::any_of(barValues.begin(), barValues.end(), [](int v) { return v > 0; }));
        QVERIFY(!barValues.contains(100));
        QCOMPARE(barValues.last(), 0); // the end of the run resets it
        verifyIdle();
    }

    // A stop during the last file is a stop too: no countdown, and a summary
    // of what was done that asks nothing.
    void stopDuringTheLastFile()
    {
        start(false, QString(), "autoPowerOff=1\nautoPowerOff_WaitTime=30\n");
        useBlockingEncoder();
        queue({"a.avi", "long.mkv"});
        bool stopped = false;
        connect(frmMain->ConversionRun()->ConsoleIO, &TConsoleIO::OnReceiveError, this, [&] {
            if (!stopped && list()->selectionModel()->selectedRows().value(0).row() == 1) {
                stopped = true;
                clickLater(FindControl<QPushButton>(frmMain, "buttonConvert"));
            }
        });
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::messageBox(QMessageBox::Ok));
        convert();
        QCOMPARE(modal.seenNames(), QStringList{"msgRunStopped"});
        QVERIFY(modal.unexpected.isEmpty());
        verifyEndMessage(modal.seen[0], "1 2", {count(frmMain->Texts().msgRunStoppedFiles, 1)}, {}, true);
        QCOMPARE(m_program.powerOffs, 0);
        QCOMPARE(m_program.errors, QStringList());
        verifyIdle();
        QCOMPARE(FindControl<QAction>(frmMain, "ActionConvertNow")->text(), frmMain->Texts().StringStartCaption);
    }

    // The end message names a file the real encoder failed on and says why.
    void failedFileIsNamedAtTheEnd()
    {
        start();
        queue({"damaged.avi", "a.avi"});
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QCOMPARE(m_program.errors, QStringList());
        // Each row shows how its file fared; a failure says why in its tool
        // tip, the end message and its detail area, behind the file's name.
        const QString reason = queueCell(0, 2, Qt::ToolTipRole);
        QVERIFY(!reason.isEmpty());
        verifyEndMessage(modal.seen.last(), "1 2", {count(frmMain->Texts().msgRunFailed, 1)},
                         {"damaged.avi: " + reason});
        QCOMPARE(modal.seen.last().detail, clip("damaged.avi") + ": " + reason);
        QCOMPARE(queueCell(0, 2), frmMain->Texts().msgStateFailed);
        QCOMPARE(queueCell(1, 2), frmMain->Texts().msgStateDone);
        QCOMPARE(queueCell(0, 0), clip("damaged.avi"));
        // The file converted names its output in its tool tip, and its menu
        // opens the output's folder; the failed one has neither.
        QCOMPARE(queueCell(1, 0, Qt::ToolTipRole),
                 clip("a.avi") + "\n" + FormatText(frmMain->Texts().msgOutputTip, {out("a.mp3")}));
        QVERIFY(queueCell(0, 0, Qt::ToolTipRole).isEmpty());
        auto *menu = FindControl<QMenu>(frmMain, "PopupMenu");
        auto *showInFolder = FindControl<QAction>(frmMain, "popMenuShowInFolder");
        QCOMPARE(showInFolder->text(), frmMain->Texts().msgShowInFolder);
        UrlRecorder urls({"file"});
        for (int row : {0, 1}) {
            list()->selectRow(row);
            emit list() -> customContextMenuRequested(QPoint(1, 1));
            QCOMPARE(showInFolder->isVisible(), row == 1);
            menu->hide();
        }
        showInFolder->trigger();
        QCOMPARE(urls.opened, QList<QUrl>{QUrl::fromLocalFile(QFileInfo(out("a.mp3")).absolutePath())});
    }

    // The end message's Yes opens the folder the run made; an empty setting
    // stops the run with a message. The engine tests the other folders.
    void outputFolder_data()
    {
        QTest::addColumn<QString>("folder"); // relative to a temporary folder; "-" for an empty setting
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("opened"); // folder the end message's Yes opens
        QTest::newRow("missing, with parents") << "deep/er/out" << "" << "deep/er/out/";
        QTest::newRow("empty") << "-" << "msgNoOutputFolder" << "";
        QTest::newRow("may not be written") << "ro" << "msgFailFolderAccess" << "";
    }

    void outputFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, error);
        QFETCH(QString, opened);
        QTemporaryDir base;
        const QString setting = folder == "-" ? QString("") : base.filePath(folder);
        if (folder == "ro")
            QVERIFY(QDir().mkpath(setting) && QFile::setPermissions(setting, QFile::ReadOwner | QFile::ExeOwner));
        start(true, setting);
        const NoRootOverride asAUser;
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
            // The folder is named; the file the run was at says it failed.
            const QString text = error == "msgNoOutputFolder"
                                     ? frmMain->Texts().msgNoOutputFolder
                                     : FormatText(frmMain->Texts().msgFailFolderAccess, {setting});
            QCOMPARE(m_program.errors, QStringList{WithFullStop(text)});
            QCOMPARE(queueCell(0, 2), folder == "ro" ? frmMain->Texts().msgStateFailed : QString());
            QCOMPARE(queueCell(0, 2, Qt::ToolTipRole), folder == "ro" ? text : QString());
            QVERIFY(urls.opened.isEmpty());
        }
    }

    // Closing the window mid-run asks first. Stop and Quit ends the run at
    // once: no other file, no message. Keep Converting leaves the run going,
    // until the user stops it.
    void closingTheWindowEndsTheRun_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("stop and quit") << "buttonStopAndQuit";
        QTest::newRow("keep converting") << "buttonKeepConverting";
    }

    void closingTheWindowEndsTheRun()
    {
        QFETCH(QString, answer);
        const bool quits = answer == "buttonStopAndQuit";
        writeFile(QDir(QDir::tempPath()).filePath("v9i.avs"), "script");
        start(false, QString(), "autoPowerOff=1\n");
        useBlockingEncoder();
        queue({"long.mkv", "a.avi"});
        bool runningAfterTheQuestion = false;
        QMetaObject::Connection closer =
            connect(frmMain->ConversionRun()->ConsoleIO, &TConsoleIO::OnReceiveError, this, [&] {
                disconnect(closer);
                QTimer::singleShot(0, frmMain, [&] {
                    frmMain->close();
                    if (quits)
                        return;
                    runningAfterTheQuestion = frmMain->ConversionRun()->IsActive();
                    clickLater(FindControl<QPushButton>(frmMain, "buttonConvert"));
                });
            });
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::click(answer));
        if (!quits)
            modal.expect(ModalAnswerer::messageBox(QMessageBox::Ok));
        convert();
        QCOMPARE(frmMain->isVisible(), !quits);
        // The question before closing; after a stop by hand, its summary.
        QCOMPARE(modal.seenNames(),
                 quits ? QStringList{"msgCloseDuringRun"} : QStringList({"msgCloseDuringRun", "msgRunStopped"}));
        QCOMPARE(modal.seen[0].text, frmMain->Texts().msgCloseDuringRun);
        QVERIFY(modal.unexpected.isEmpty());
        QCOMPARE(runningAfterTheQuestion, !quits);
        QCOMPARE(m_program.powerOffs, 0);
        QCOMPARE(QFile::exists(QDir(QDir::tempPath()).filePath("v9i.avs")), !quits);
        QVERIFY(!QFile::exists(out("a.mp3")));
        // What was converted stays, named as the part it is.
        QVERIFY(!QFile::exists(out("long.mp3")));
        const QStringList kept = QDir(QFileInfo(out("long.mp3")).path()).entryList({"long (stopped at *).mp3"});
        QCOMPARE(kept.size(), 1);
        const AudioInfo partial = probe(out(kept.first()));
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
        QStringList asked; // while the question waits: closing asks first
        modal.expect([&asked](QWidget *question) {
            // An answerer's own timer does not fire again inside its answer.
            ModalAnswerer closing;
            closing.expect(ModalAnswerer::click("buttonStopAndQuit"));
            frmMain->close();
            asked = closing.seenNames();
            ModalAnswerer::overwriteAnswer("buttonOverWrite", false)(question);
        });
        convert();
        QVERIFY(!frmMain->isVisible());
        QCOMPARE(asked, QStringList{"msgCloseDuringRun"});
        QCOMPARE(modal.seenNames(), QStringList{"frmOverWrite"});
        QVERIFY(modal.unexpected.isEmpty());
        QCOMPARE(contentOf(out("a.mp3")), QByteArray("old a"));
        QVERIFY(!QFile::exists(out("b.mp3")));
        QVERIFY(!frmMain->ConversionRun()->ConsoleIO || !frmMain->ConversionRun()->ConsoleIO->IsRunning());
    }

    // The question names its file; meanwhile the window says what it waits
    // for and keeps the run's controls locked.
    void questionNamesItsFile()
    {
        start();
        queue({"a.avi"});
        writeFile(out("a.mp3"), "old a");
        QString named, shown;
        bool locked = false;
        ModalAnswerer modal;
        modal.expect([&](QWidget *question) {
            named = FindControl<QLabel>(question, "labelFileName")->text();
            shown = status()->text();
            locked = !list()->isEnabled() && !FindControl<QRadioButton>(frmMain, "radioButtonFormatWAV")->isEnabled();
            ModalAnswerer::overwriteAnswer("buttonOverWrite", false)(question);
        });
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QCOMPARE(named, QStringLiteral("a.mp3"));
        QVERIFY2(shown.endsWith(out("a.mp3")), qPrintable(shown));
        QVERIFY(locked);
        QVERIFY(probe(out("a.mp3")).valid);
        verifyIdle();
    }

    // Files dropped on the window while it converts join the queue but not the run.
    void droppedDuringARunWaitForTheNext()
    {
        start();
        queue({"a.avi"});
        QMetaObject::Connection dropper =
            connect(frmMain->ConversionRun()->ConsoleIO, &TConsoleIO::OnReceiveError, this, [&] {
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
        QCOMPARE(queueRows(), 2);
        QCOMPARE(queueCell(1, 0), clip("b.mp4"));
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
        TWindowTexts texts = frmMain->Texts();
        texts.msgStatusRun = "Converting file %s";
        frmMain->SetTexts(texts);
        queue({source});
        QCOMPARE(queueRows(), 1);
        list()->selectRow(0);
        const QSize windowSize = frmMain->size();
        const QRect labelGeometry = status()->geometry();
        frmMain->ParseEncoderOutput("ffmpeg_release_time=1.0=ffmpeg_release_time");
        QApplication::processEvents();

        // No duration is known: there is no audio left to tell.
        const QString expected = "Converting file 1/1 \u00B7 " + source;
        // Line breaks show as replacement characters: the line has room for one,
        // and for the file's name; the tool tip has the whole path.
        QString oneLine = expected.left(expected.size() - source.size()) + QFileInfo(source).fileName();
        for (const QChar lineBreak : {QChar(u'\n'), QChar(u'\r'), QChar(0x2029)})
            oneLine.replace(lineBreak, QChar::ReplacementCharacter);
        // A name longer than the line loses its middle.
        const QString shown = status()->text();
        if (shown != oneLine) {
            QVERIFY2(shown.startsWith("Converting file 1/1 \u00B7 ") && shown.contains(QChar(0x2026))
                         && shown.endsWith(".avi"),
                     qPrintable(shown));
            QVERIFY(status()->fontMetrics().horizontalAdvance(shown) <= status()->contentsRect().width());
        }
        QCOMPARE(shown.size() <= oneLine.size(), true);
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

    // With automatic power-off the countdown comes before the end message;
    // Convert on an empty queue starts nothing, says nothing and powers nothing off.
    void countdownBeforeTheEndMessageAndNoneForAnEmptyQueue()
    {
        start(true, QString(), "autoPowerOff=1\nautoPowerOff_WaitTime=30\n");
        queue({"damaged.avi"});
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::click("buttonNo"));
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QCOMPARE(modal.seenNames(), (QStringList{"frmPowerOffWindows", "msgFinishInfo"}));
        verifyEndMessage(modal.seen[1], "0 1", {count(frmMain->Texts().msgRunFailed, 1)},
                         {"damaged.avi: " + queueCell(0, 2, Qt::ToolTipRole)});
        QCOMPARE(m_program.powerOffs, 0);
        verifyIdle();

        frmMain->Queue()->Clear();
        ModalAnswerer none;
        convert();
        QVERIFY(none.seen.isEmpty() && none.unexpected.isEmpty());
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
                                        << 50 << "Converting file 2/5 \u00B7 00:01:43 of audio left \u00B7 two.avi";
        // No duration to measure by: a busy bar (its value reads -1), and no time left to tell.
        QTest::newRow("no duration") << 4 << "ffmpeg_release_time=3.0=ffmpeg_release_time" << -1
                                     << "Converting file 5/5 \u00B7 five.avi";
        QTest::newRow("nothing selected") << -1 << "ffmpeg_release_time=3.0=ffmpeg_release_time" << 7 << "before";
        // The engine raises; what the window showed stays.
        QTest::newRow("bad value keeps the display")
            << 0 << "ffmpeg_release_time=x=ffmpeg_release_time" << 7 << "before";
    }

    void parseEncoderOutput()
    {
        QFETCH(int, selected);
        QFETCH(QString, chunk);
        QFETCH(int, bar);
        QFETCH(QString, text);
        start();
        TWindowTexts texts = frmMain->Texts();
        texts.msgStatusRun = "Converting file %s";
        frmMain->SetTexts(texts);
        queue({"/v/one.avi", "/v/two.avi", "/v/three.avi", "/v/four.avi", "/v/five.avi"});
        list()->clearSelection();
        if (selected >= 0)
            list()->selectRow(selected);
        this->bar()->setValue(7);
        status()->setText("before");
        const bool raised = !ErrorOf([&] { frmMain->ParseEncoderOutput(chunk); }).isEmpty();
        QCOMPARE(raised, selected >= 0 && text == "before");
        QCOMPARE(this->bar()->value(), bar);
        QCOMPARE(this->bar()->maximum(), bar < 0 ? 0 : 100);
        QCOMPARE(status()->text(), text);
        if (selected < 0)
            QCOMPARE(frmMain->ConversionRun()->File().FDuration, qint64(0));
        else if (!raised)
            QCOMPARE(status()->toolTip(),
                     text.left(text.lastIndexOf(" \u00B7 ") + 3) + "/v/" + text.section(" \u00B7 ", -1));
    }

    // A language's status or run text that cannot be formatted is replaced
    // when the file is loaded, so the progress raises nothing.
    void unusableStatusTextIsReplacedAtLoad()
    {
        start();
        QTemporaryDir dir;
        writeFile(dir.filePath("en.ini"), "[frmMain]\nmsgStatusRun=%d files\nmsgStatusReady=Ready\n"
                                          "msgTimeLeft=about %d left\nmsgSpanMinutesSeconds=%s min\n");
        frmMain->LoadLanguage(dir.filePath("en.ini"));
        QCOMPARE(frmMain->Texts().msgStatusRun, QStringLiteral("Converting file %s"));
        QCOMPARE(frmMain->Texts().msgTimeLeft, QStringLiteral("about %s left"));
        queue({"/v/one.avi"});
        list()->selectRow(0);
        for (int chunk = 0; chunk < 3; ++chunk)
            frmMain->ParseEncoderOutput("ffmpeg_release_time=1.0=ffmpeg_release_time");
        QCOMPARE(m_program.errors, QStringList());
        QCOMPARE(status()->text(), QStringLiteral("Converting file 1/1 \u00B7 one.avi"));
    }

    // Two files at once: every row says how its file fares, the damaged one
    // why it failed, one without a duration that it works; the title shows
    // the whole run while it goes and is the window's own afterwards.
    void severalFilesAtOnceShowTheirStates()
    {
        start(false);
        TIniFile(frmCommon->ConfigFile).WriteInteger("setting", "parallelFiles", 2);
        const QByteArray markers = "echo ffmpeg_release_time=1.0=ffmpeg_release_time >&2\n"
                                   "cp '"
                                   + clip("partial.mp3").toUtf8() + "' \"$last\"\n";
        installEncoder(m_program.folder().path(),
                       "case \"$*\" in\n"
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
        connect(frmMain->ConversionRun(), &TConversionRun::FileProgress, this, [&](int row) {
            titles << frmMain->windowTitle();
            if (row == 2)
                lastRow << queueCell(2, 2);
            // Two at work: the status line counts the run's files.
            if (frmMain->ConversionRun()->RunningCount() > 1)
                QVERIFY2(
                    QRegularExpression("^Converting \\d files · \\d of 3 done$").match(status()->text()).hasMatch(),
                    qPrintable(status()->text()));
        });
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();

        QCOMPARE(m_program.errors, QStringList());
        const QString reason = queueCell(1, 2, Qt::ToolTipRole);
        verifyEndMessage(modal.seen.last(), "2 3", {count(frmMain->Texts().msgRunFailed, 1)},
                         {"damaged.avi: " + reason});
        QVERIFY(!reason.isEmpty());
        QVERIFY(lastRow.contains(frmMain->Texts().msgStateConverting));
        QVERIFY(!titles.isEmpty());
        for (const QString &shown : titles)
            QVERIFY2(QRegularExpression("^\\d+% \u00B7 ").match(shown).hasMatch() && shown.endsWith(title),
                     qPrintable(shown));
        QCOMPARE(frmMain->windowTitle(), title);
        QStringList states, tips;
        for (int row = 0; row < 3; ++row) {
            states << queueCell(row, 2);
            tips << queueCell(row, 2, Qt::ToolTipRole);
        }
        QCOMPARE(states, (QStringList{frmMain->Texts().msgStateDone, frmMain->Texts().msgStateFailed,
                                      frmMain->Texts().msgStateDone}));
        QCOMPARE(tips, (QStringList{QString(), reason, QString()}));
        QCOMPARE(filesIn(m_output->path()), (QStringList{"a.mp3", "b.mp3"}));
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
            connect(frmMain->ConversionRun()->ConsoleIO, &TConsoleIO::OnReceiveError, this, [&] {
                disconnect(stopper);
                clickLater(FindControl<QPushButton>(frmMain, "buttonConvert"));
            });
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::messageBox(QMessageBox::Ok));
        convert();
        QCOMPARE(queueCell(0, 2), frmMain->Texts().msgStateStopped);
        QCOMPARE(queueCell(1, 2), QString());
        QCOMPARE(frmMain->windowTitle(), title);
        verifyIdle();
    }

    // A source that ends early shows "Incomplete" and where it ends, and is
    // counted apart at the end; a failure names its kind in the user's words,
    // the encoder's line behind it.
    void rowsSayWhyInTheUsersWords()
    {
        start(false);
        installEncoder(m_program.folder().path(),
                       "case \"$*\" in\n"
                       "*a.avi*) echo ffmpeg_release_incomplete=723.2/2700.0=ffmpeg_release_incomplete >&2\n"
                       "printf audio > \"$last\";;\n"
                       "*) echo ffmpeg_release_failure=nosound=ffmpeg_release_failure >&2\n"
                       "echo 'No audio' >&2\nexit 1;;\n"
                       "esac");
        queue({"a.avi", "damaged.avi"});
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        const QString endsEarly = FormatText(frmMain->Texts().msgSourceEndsEarly, {"12:03", "45:00"});
        const QString silent = frmMain->Texts().msgFailNoSound + " (No audio)";
        QCOMPARE(queueCell(0, 2), frmMain->Texts().msgStateIncomplete);
        QCOMPARE(queueCell(0, 2, Qt::ToolTipRole), endsEarly);
        QCOMPARE(queueCell(1, 2, Qt::ToolTipRole), silent);
        verifyEndMessage(modal.seen.last(), "0 2",
                         {count(frmMain->Texts().msgRunFailed, 1), count(frmMain->Texts().msgIncompleteFiles, 1)},
                         {"damaged.avi: " + silent});
        QCOMPARE(modal.seen.last().detail,
                 clip("a.avi") + ": " + endsEarly + "\n" + clip("damaged.avi") + ": " + silent);
    }

    // A long list of failures: the main text names the first ten and how
    // many more there are, the detail area every one with its reason.
    void longFailureListIsCutShort()
    {
        start(false);
        installEncoder(m_program.folder().path(), "echo 'No such clip' >&2\nexit 1");
        QStringList sources;
        for (int i = 1; i <= 12; ++i)
            sources << QStringLiteral("/v/clip%1.avi").arg(i);
        queue(sources);
        ModalAnswerer modal;
        modal.expect(ModalAnswerer::messageBox(QMessageBox::No));
        convert();
        QStringList named;
        for (int i = 1; i <= 10; ++i)
            named << QStringLiteral("clip%1.avi: ").arg(i) + queueCell(i - 1, 2, Qt::ToolTipRole);
        verifyEndMessage(modal.seen.last(), "0 12", {count(frmMain->Texts().msgRunFailed, 12)},
                         named << count(frmMain->Texts().msgMoreFailed, 2));
        // The sources are gone since they were queued, and each is named so.
        QCOMPARE(modal.seen.last().detail.count(frmMain->Texts().msgFailSourceGone), 12);
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
