#include "app/Application.h"
#include "app/MainWindow.h"
#include "common/ErrorReport.h"
#include "common/IniFile.h"
#include "common/TolvaneError.h"
#include "conversion/EncoderCommand.h"
#include "gui/CommonServices.h"
#include "support/FindControl.h"
#include "support/ProgramFixture.h"
#include "support/UrlRecorder.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTableView>
#include <QTest>
#include <QTimer>

namespace {
// The items of an accessibility tree a screen reader should not meet:
// hidden ones, and buttons or menu entries without a name. What a closed menu
// or drop-down list holds is hidden with it, and only needs its names.
QStringList HiddenOrNameless(QAccessibleInterface *node, bool closed = false, const QString &path = QString())
{
    QStringList found;
    static const QList<QAccessible::Role> named{QAccessible::MenuItem, QAccessible::RadioButton, QAccessible::CheckBox,
                                                QAccessible::PushButton};
    for (int i = 0; node && i < node->childCount(); ++i) {
        QAccessibleInterface *child = node->child(i);
        if (!child || child->role() == QAccessible::Table)
            continue;
        const QString where = path + QLatin1Char('/') + child->text(QAccessible::Name);
        const bool popup = child->role() == QAccessible::PopupMenu || child->role() == QAccessible::List;
        const bool hidden = child->state().invisible && !closed && !popup;
        if (hidden || (named.contains(child->role()) && child->text(QAccessible::Name).isEmpty()))
            found << where + QStringLiteral(" (role %1)").arg(int(child->role()));
        else
            found << HiddenOrNameless(child, closed || (popup && child->state().invisible), where);
    }
    return found;
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    ProgramFixture m_program;

    void start(const QByteArray &config = QByteArray(), bool show = true)
    {
        m_program.start(config, show ? ProgramFixture::Shown : ProgramFixture::Hidden);
    }

private slots:
    void cleanup() { m_program.stop(); }

    void structureAndDefaults()
    {
        start();
        QCOMPARE(frmMain->objectName(), QStringLiteral("frmMain"));
        // It opens at least at the size it was laid out for, and no smaller can be made.
        const QSize client = frmMain->centralWidget()->size();
        QVERIFY(client.width() >= 414 && client.height() >= 423);
        QCOMPARE(frmMain->centralWidget()->minimumSize(), QSize(414, 423));
        QVERIFY(frmMain->maximumSize().width() > 414 && frmMain->maximumSize().height() > 450);

        auto *bitrate = FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate");
        QCOMPARE(bitrate->count(), 18);
        QCOMPARE(bitrate->itemText(0), QStringLiteral("8 kbit/s"));
        QCOMPARE(bitrate->itemText(17), QStringLiteral("350 kbit/s"));
        QCOMPARE(bitrate->currentText(), QStringLiteral("128 kbit/s"));
        QCOMPARE(bitrate->currentIndex(), 11);
        QVERIFY(!bitrate->isEditable());

        auto *rate = FindControl<QComboBox>(frmMain, "comboBoxSampleRate");
        QCOMPARE(rate->count(), 12);
        QCOMPARE(rate->itemText(0), QStringLiteral("6000 Hz"));
        QCOMPARE(rate->itemText(11), QStringLiteral("96000 Hz"));
        QCOMPARE(rate->currentText(), QStringLiteral("44100 Hz"));
        QVERIFY(!rate->isEditable());

        QVERIFY(FindControl<QRadioButton>(frmMain, "radioButtonFormatMP3")->isChecked());
        QVERIFY(!FindControl<QRadioButton>(frmMain, "radioButtonFormatWAV")->isChecked());
        QVERIFY(FindControl<QRadioButton>(frmMain, "radioButtonChannelStereo")->isChecked());
        QVERIFY(!FindControl<QRadioButton>(frmMain, "radioButtonChannelMono")->isChecked());
        QCOMPARE(FindControl<QProgressBar>(frmMain, "progressBarCurrent")->value(), 0);
        QCOMPARE(FindControl<QProgressBar>(frmMain, "progressBarCurrent")->maximum(), 100);
        QVERIFY(FindControl<QLineEdit>(frmMain, "editOutputFolder")->isReadOnly());

        auto *list = FindControl<QTableView>(frmMain, "listViewFiles");
        // The source path, its length and its state in a run, under headers.
        QCOMPARE(list->model()->columnCount(), 3);
        QCOMPARE(list->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Length"));
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QVERIFY(list->showGrid());
        QVERIFY(!list->tabKeyNavigation());

        // A bigger window gives the queue the room.
        const int listHeight = list->height();
        frmMain->resize(frmMain->width() + 200, frmMain->height() + 300);
        QTRY_COMPARE_WITH_TIMEOUT(list->height(), listHeight + 300, 120000);

        for (const char *name : {"groupBoxButtons", "groupBoxStatus", "groupBoxSettings", "GroupBoxSettingsAudio",
                                 "groupBoxChannel", "groupBoxOutput"})
            QVERIFY2(FindControl<QGroupBox>(frmMain, name), name);
        for (const char *name : {"labelCurrentDecrption", "labelCurrentInfo", "labelCurrentProgress",
                                 "labelAudioBitrate", "labelSampleRate", "labelOutput"})
            QVERIFY2(frmMain->findChild<QWidget *>(QLatin1String(name)), name);
    }

    void buttonsFollowTheirActions_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("followsCaption");
        // The add button keeps a short caption of its own; the menus name the files.
        QTest::newRow("add") << "buttonAdd" << "ActionFileAdd" << "Add" << false;
        QTest::newRow("delete") << "buttonDelete" << "ActionFileDelete" << "Remove" << true;
        QTest::newRow("clear") << "buttonClearAll" << "ActionFileClearAll" << "ClearAll" << true;
        QTest::newRow("up") << "buttonMoveUp" << "ActionFileMoveUp" << "MoveUp" << true;
        QTest::newRow("down") << "buttonMoveDown" << "ActionFileMoveDown" << "MoveDown" << true;
        QTest::newRow("output") << "BitBtnOutput" << "ActionSetDirectory" << "ActionSetDirectory" << true;
        QTest::newRow("convert") << "buttonConvert" << "ActionConvertNow" << "ConvertNow" << true;
    }

    void buttonsFollowTheirActions()
    {
        QFETCH(QString, button);
        QFETCH(QString, action);
        QFETCH(QString, caption);
        QFETCH(bool, followsCaption);
        start(QByteArray(), false);
        auto *b = frmMain->findChild<QPushButton *>(button);
        auto *a = frmMain->findChild<QAction *>(action);
        QVERIFY(b && a);
        QCOMPARE(a->text(), caption);
        QCOMPARE(b->text(), caption);
        a->setText(QStringLiteral("Changed"));
        a->setEnabled(false);
        QCOMPARE(b->text(), followsCaption ? QStringLiteral("Changed") : caption);
        QVERIFY(!b->isEnabled());
        a->setEnabled(true);
        QObject::disconnect(a, nullptr, frmMain, nullptr); // only the binding is under test here
        QSignalSpy triggered(a, &QAction::triggered);
        b->click();
        QCOMPARE(triggered.count(), 1);
    }

    void menus()
    {
        start(QByteArray(), false);
        auto *menuBar = FindControl<QMenuBar>(frmMain, "MainMenu");
        QStringList titles;
        for (QAction *a : menuBar->actions())
            titles << a->menu()->objectName();
        QCOMPARE(titles, (QStringList{"N_1", "N_Options", "N_Skin", "N_Tools", "N_Help"}));

        QStringList fileItems;
        for (QAction *a : FindControl<QMenu>(frmMain, "N_1")->actions())
            fileItems << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
        QCOMPARE(fileItems,
                 (QStringList{"N1_1", "N1_11", "N1_2", "N1_3", "-", "N1_5", "N1_6", "-", "N1_8", "-", "N1_10"}));
        QCOMPARE(FindControl<QMenu>(frmMain, "N_Skin")->actions().size(), 18);
        // The File menu shows the keys the window takes; only an open menu takes them from its entries.
        const QList<QPair<const char *, QKeySequence>> keys{{"N1_1", QKeySequence(QKeySequence::Open)},
                                                            {"N1_2", QKeySequence(QKeySequence::Delete)},
                                                            {"N1_8", QKeySequence(Qt::CTRL | Qt::Key_Return)}};
        for (const auto &[name, key] : keys) {
            QCOMPARE(FindControl<QAction>(frmMain, name)->shortcut(), key);
            QCOMPARE(FindControl<QAction>(frmMain, name)->shortcutContext(), Qt::WidgetShortcut);
        }
        // Quit has its key of its own, for the whole window.
        QCOMPARE(FindControl<QAction>(frmMain, "N1_10")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QCOMPARE(FindControl<QAction>(frmMain, "N1_10")->shortcutContext(), Qt::WindowShortcut);
        QStringList optionItems;
        for (QAction *a : FindControl<QMenu>(frmMain, "N_Options")->actions())
            optionItems << (a->menu() ? a->menu()->objectName() : a->objectName());
        QCOMPARE(optionItems, (QStringList{"N_Setting", "N_Language"}));

        QStringList helpItems;
        for (QAction *a : FindControl<QMenu>(frmMain, "N_Help")->actions())
            helpItems << a->objectName();
        QCOMPARE(helpItems, (QStringList{"N_LocalHelp", "N_HomePage", "N_Support", "N_FeedBack", "N_Update"}));

        // A menu entry stands for its action: disabled with it, and triggering it.
        auto *convert = FindControl<QAction>(frmMain, "ActionConvertNow");
        auto *entry = FindControl<QAction>(frmMain, "N1_8");
        convert->setEnabled(false);
        QVERIFY(!entry->isEnabled());
        convert->setEnabled(true);
        QObject::disconnect(convert, nullptr, frmMain, nullptr);
        QSignalSpy triggered(convert, &QAction::triggered);
        entry->trigger();
        QCOMPARE(triggered.count(), 1);
    }

    void toolsMenuAndAccessibilityTree_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("visible");
        QTest::newRow("chinese") << 1 << true;
        QTest::newRow("english") << 2 << true;
        QTest::newRow("japanese") << 3 << false;
    }

    // Screen readers find neither hidden nor nameless items; the format list
    // shows its longest entry whole.
    void toolsMenuAndAccessibilityTree()
    {
        QFETCH(int, language);
        QFETCH(bool, visible);
        m_program.folder().installData();
        start("[common]\nlanguage=" + QByteArray::number(language) + "\n");
        QCOMPARE(FindControl<QMenu>(frmMain, "N_Tools")->menuAction()->isVisible(), visible);
        const QStringList met = HiddenOrNameless(QAccessible::queryAccessibleInterface(frmMain));
        QVERIFY2(met.isEmpty(), qPrintable(met.join(QLatin1Char('\n'))));
        auto *formats = FindControl<QComboBox>(frmMain, "comboBoxFormatOther");
        QCoreApplication::processEvents(); // the layout takes the language's texts in
        QStyleOptionComboBox option;
        option.initFrom(formats);
        const int arrow =
            formats->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, formats).width();
        for (int i = 0; i < formats->count(); ++i)
            QVERIFY2(formats->fontMetrics().horizontalAdvance(formats->itemText(i)) < formats->width() - arrow,
                     qPrintable(formats->itemText(i)));
    }

    void firstStartWritesOutputFolder()
    {
        start();
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QCOMPARE(FindControl<QLineEdit>(frmMain, "editOutputFolder")->text(), music);
        QCOMPARE(TIniFile(m_program.folder().configFile()).ReadString("setting", "outputFolder", QString()), music);
    }

    void storedFolderIsShown()
    {
        start("[Setting]\nOutputFolder=/srv/audio out\n");
        QCOMPARE(FindControl<QLineEdit>(frmMain, "editOutputFolder")->text(), QStringLiteral("/srv/audio out"));
        QVERIFY(m_program.errors.isEmpty());
    }

    void startWithFormTextWritesNothing()
    {
        // The form's own text stands there until the first show; an equal stored value changes nothing.
        const QByteArray config = "; hand-written\n[setting]\noutputFolder=C:\\\n";
        start(config);
        QCOMPARE(m_program.folder().read("config.ini"), config);
    }

    void outputChoicesAreRestored_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("bitrate");
        QTest::addColumn<QString>("sampleRate");
        QTest::addColumn<bool>("mono");
        QTest::newRow("nothing stored: defaults") << QByteArray() << "MP3" << "128 kbit/s" << "44100 Hz" << false;
        QTest::newRow("every choice") << QByteArray("format=WAV\nbitrate=320\nsampleRate=22050\nchannels=1\n") << "WAV"
                                      << "320 kbit/s"
                                      << "22050 Hz" << true;
        QTest::newRow("hexadecimal and blanks") << QByteArray("format= mp3 \nbitrate=0x40\nsampleRate= 8000\n") << "MP3"
                                                << "64 kbit/s" << "8000 Hz" << false;
        QTest::newRow("bad values: defaults")
            << QByteArray("format=aiff\nbitrate=129\nsampleRate=fast\nchannels=3\n") << "MP3" << "128 kbit/s"
            << "44100 Hz" << false;
        QTest::newRow("empty values: defaults") << QByteArray("format=\nbitrate=\nsampleRate=\nchannels=\n") << "MP3"
                                                << "128 kbit/s" << "44100 Hz" << false;
        QTest::newRow("FLAC") << QByteArray("format=flac\n") << "flac" << "128 kbit/s" << "44100 Hz" << false;
        QTest::newRow("Opus") << QByteArray("format=Opus\n") << "opus" << "128 kbit/s" << "44100 Hz" << false;
        QTest::newRow("original audio") << QByteArray("format=copy\n") << "copy" << "128 kbit/s" << "44100 Hz" << false;
    }

    void outputChoicesAreRestored()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, format);
        QFETCH(QString, bitrate);
        QFETCH(QString, sampleRate);
        QFETCH(bool, mono);
        const QByteArray config = "[setting]\noutputFolder=C:\\\n" + stored;
        start(config);
        const QString button = format == "WAV"   ? "radioButtonFormatWAV"
                               : format == "MP3" ? "radioButtonFormatMP3"
                                                 : "radioButtonFormatOther";
        QVERIFY(FindControl<QRadioButton>(frmMain, button.toLatin1().constData())->isChecked());
        QCOMPARE(frmMain->GetOutputExt(), format.toLower());
        // Settings the format ignores are disabled.
        QCOMPARE(FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate")->isEnabled(), FormatUsesBitrate(format));
        QCOMPARE(FindControl<QComboBox>(frmMain, "comboBoxSampleRate")->isEnabled(), format != "copy");
        QCOMPARE(FindControl<QRadioButton>(frmMain, "radioButtonChannelMono")->isEnabled(), format != "copy");
        QCOMPARE(FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate")->currentText(), bitrate);
        QCOMPARE(FindControl<QComboBox>(frmMain, "comboBoxSampleRate")->currentText(), sampleRate);
        QCOMPARE(FindControl<QRadioButton>(frmMain, "radioButtonChannelMono")->isChecked(), mono);
        QCOMPARE(FindControl<QRadioButton>(frmMain, "radioButtonChannelStereo")->isChecked(), !mono);
        // Restoring writes nothing.
        QCOMPARE(m_program.folder().read("config.ini"), config);
    }

    void changedOutputChoicesAreKept()
    {
        const QByteArray config = "; hand-written\n[setting]\noutputFolder=C:\\\n[other]\nkey=1\n";
        start(config);
        FindControl<QRadioButton>(frmMain, "radioButtonFormatWAV")->click();
        FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate")->setCurrentIndex(16);
        FindControl<QComboBox>(frmMain, "comboBoxSampleRate")->setCurrentIndex(9);
        FindControl<QRadioButton>(frmMain, "radioButtonChannelMono")->click();
        QCOMPARE(m_program.folder().read("config.ini"),
                 "; hand-written\n[setting]\noutputFolder=C:\\\nformat=wav\nbitrate=320\nsampleRate=48000\n"
                 "channels=1\n[other]\nkey=1\n");

        // A second start shows them again.
        m_program.stop();
        start("[setting]\nformat=wav\nbitrate=320\nsampleRate=48000\nchannels=1\n");
        FindControl<QRadioButton>(frmMain, "radioButtonFormatMP3")->click();
        FindControl<QRadioButton>(frmMain, "radioButtonChannelStereo")->click();
        const TIniFile ini(m_program.folder().configFile());
        QCOMPARE(ini.ReadString("setting", "format", QString()), QStringLiteral("mp3"));
        QCOMPARE(ini.ReadString("setting", "channels", QString()), QStringLiteral("2"));
        QCOMPARE(FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate")->currentText(), QStringLiteral("320 kbit/s"));
        QCOMPARE(frmMain->GetOutputExt(), QStringLiteral("mp3"));

        // A format of the combo box checks the radio button beside it.
        auto *other = FindControl<QComboBox>(frmMain, "comboBoxFormatOther");
        other->setCurrentIndex(2);
        emit other->activated(2);
        QVERIFY(FindControl<QRadioButton>(frmMain, "radioButtonFormatOther")->isChecked());
        QCOMPARE(TIniFile(m_program.folder().configFile()).ReadString("setting", "format", QString()),
                 QStringLiteral("m4a"));
        FindControl<QRadioButton>(frmMain, "radioButtonFormatWAV")->click();
        QCOMPARE(TIniFile(m_program.folder().configFile()).ReadString("setting", "format", QString()),
                 QStringLiteral("wav"));
        QCOMPARE(other->currentIndex(), 0);
        QVERIFY(!FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate")->isEnabled());
    }

    // A config.ini the user may not write is said once, when the window is
    // up; the settings then change in memory for as long as the program runs.
    void unwritableConfigIsReportedOnce_data()
    {
        QTest::addColumn<bool>("readOnlyFile");
        QTest::newRow("read-only file") << true;
        QTest::newRow("folder in its place") << false;
    }

    void unwritableConfigIsReportedOnce()
    {
        QFETCH(bool, readOnlyFile);
        const QString config = m_program.folder().configFile();
        const QByteArray content = "[setting]\nformat=mp3\n";
        if (readOnlyFile) {
            m_program.folder().writeConfig(content);
            QFile::setPermissions(config, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
        } else {
            QDir(m_program.folder().path()).mkdir(QStringLiteral("config.ini"));
        }
        start();
        const QString notice = QStringLiteral("Settings cannot be saved to %1: the file is read-only. Changes apply "
                                              "until Tolvane is closed; make the file writable to keep them.")
                                   .arg(config);
        QTRY_COMPARE_WITH_TIMEOUT(m_program.errors, QStringList{notice}, 120000);
        FindControl<QRadioButton>(frmMain, "radioButtonFormatWAV")->click();
        FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate")->setCurrentIndex(16);
        QCoreApplication::processEvents();
        QCOMPARE(m_program.errors, QStringList{notice});
        QCOMPARE(TIniFile(config).ReadString("setting", "format", QString()), QStringLiteral("wav"));
        QCOMPARE(TIniFile(config).ReadInteger("setting", "bitrate", 0), 320);
        QCOMPARE(FindControl<QLineEdit>(frmMain, "editOutputFolder")->text(),
                 QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
        if (readOnlyFile) {
            QFile::setPermissions(config, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QCOMPARE(m_program.folder().read("config.ini"), content);
        }
    }

    void temporaryScriptDeletedAtClose_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("present") << true;
        QTest::newRow("absent") << false;
    }

    void temporaryScriptDeletedAtClose()
    {
        QFETCH(bool, present);
        start();
        if (present) {
            QFile f(TemporaryScriptPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        FindControl<QAction>(frmMain, "ActionExit")->trigger();
        QVERIFY(!frmMain->isVisible());
        QVERIFY(!QFileInfo::exists(TemporaryScriptPath()));
        QVERIFY(m_program.errors.isEmpty());
    }

    void helpMenu_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("target");
        QTest::newRow("local help, english") << 2 << "N_LocalHelp" << "file";
        QTest::newRow("local help, chinese") << 1 << "N_LocalHelp" << "file";
        QTest::newRow("local help, japanese") << 3 << "N_LocalHelp" << "file";
        QTest::newRow("F1 key") << 2 << "F1" << "file";
        QTest::newRow("home page") << 2 << "N_HomePage" << "https://tolvane.example/en/";
        QTest::newRow("update") << 1 << "N_Update" << "https://tolvane.example/zh/";
        QTest::newRow("support") << 2 << "N_Support" << "mailto:support@tolvane.example";
        QTest::newRow("feedback") << 2 << "N_FeedBack" << "https://tolvane.example/en/feedback/";
    }

    void helpMenu()
    {
        QFETCH(int, language);
        QFETCH(QString, item);
        QFETCH(QString, target);
        const bool key = item == QLatin1String("F1");
        start("[common]\nlanguage=" + QByteArray::number(language) + "\n", key);
        UrlRecorder urls;
        if (key) {
            frmMain->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(frmMain));
            QTest::keyClick(frmMain, Qt::Key_F1);
        } else {
            FindControl<QAction>(frmMain, item.toLatin1().constData())->trigger();
        }
        QCOMPARE(urls.opened.size(), 1);
        if (target == QLatin1String("file"))
            QCOMPARE(urls.opened[0], QUrl::fromLocalFile(frmCommon->HelpFile));
        else
            QCOMPARE(urls.opened[0].toString(), target);
    }

    void programIconHasEveryRender()
    {
        const QIcon icon = ProgramIcon();
        QCOMPARE(icon.availableSizes().size(), 8);
        for (const QSize &size : icon.availableSizes())
            QCOMPARE(icon.pixmap(size).size(), size);
    }

    void exceptionInHandlerIsReportedAndProgramGoesOn()
    {
        start(QByteArray(), false);
        QPushButton button;
        connect(&button, &QPushButton::clicked,
                [] { throw TolvaneError(QStringLiteral("'x' is not a valid integer value")); });
        QTest::mouseClick(&button, Qt::LeftButton);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(m_program.errors,
                 (QStringList{"'x' is not a valid integer value.", "'x' is not a valid integer value."}));
    }
};

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "support/moc_UrlRecorder.cpp"
#include "tst_mainwindow.moc"
