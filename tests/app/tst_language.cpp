#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/ProductLinks.h"
#include "common/IniFile.h"
#include "common/LanguageFile.h"
#include "conversion/AudioTracks.h"
#include "dialogs/BatchAddDialog.h"
#include "dialogs/DirectoryChooser.h"
#include "dialogs/FileExistsDialog.h"
#include "dialogs/FolderPlaces.h"
#include "dialogs/PowerOffCountdown.h"
#include "dialogs/SearchProgress.h"
#include "dialogs/SettingsDialog.h"
#include "gui/CommonServices.h"
#include "support/CaptionFit.h"
#include "support/FindControl.h"
#include "support/ProgramFixture.h"
#include "support/UrlRecorder.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QMap>
#include <QMenu>
#include <QSet>
#include <QStringDecoder>
#include <QTableView>
#include <QTest>

namespace {
// The stored texts with English of their own: the run's and the queue's.
std::vector<TRunTextKey> TextKeys()
{
    std::vector<TRunTextKey> keys = RunTextKeys();
    keys.insert(keys.end(), QueueTextKeys().begin(), QueueTextKeys().end());
    return keys;
}

// Every key of the language files, section by section, as the program's
// language tables list them.
const QList<QPair<QString, QStringList>> &LanguageKeys()
{
    static const QList<QPair<QString, QStringList>> keys = [] {
        QStringList main{"caption",
                         "ActionFileAdd",
                         "ActionFileBatchAdd",
                         "ActionConvertNow",
                         "ActionFileDelete",
                         "ActionFileClearAll",
                         "ActionFileMoveUp",
                         "ActionFileMoveDown",
                         "ActionExit",
                         "ActionSetDirectory",
                         "buttonAdd",
                         "ListViewItem0",
                         "ListViewItem1",
                         "ListViewItem2",
                         "groupBoxStatus",
                         "groupBoxSettings",
                         "groupBoxSettingsAudio",
                         "groupBoxOutput",
                         "labelCurrentDecrption",
                         "labelCurrentProgress",
                         "labelOutput",
                         "labelAudioBitrate",
                         "comboBoxAudioBitrate",
                         "labelSampleRate",
                         "labelChannel",
                         "StringStartCaption",
                         "StringStopCaption",
                         "msgStatusReady",
                         "msgStatusRun",
                         "msgClearAll",
                         "msgFolderView",
                         "msgFinishInfo",
                         "msgNoOutputFolder",
                         "msgFailedFiles",
                         "msgStateWaiting",
                         "msgStateConverting",
                         "msgStateDone",
                         "msgStateSkipped",
                         "msgStateFailed",
                         "msgStateStopped",
                         "msgTimeLeft",
                         "msgStatusRunFiles",
                         "msgRunSummary",
                         "msgMoreFailed",
                         "msgSpanSeconds",
                         "msgSpanMinutes",
                         "msgSpanMinutesSeconds",
                         "msgSpanHours",
                         "msgSpanHoursMinutes",
                         "msgStateIncomplete",
                         "msgStateChapter",
                         "msgSourceEndsEarly",
                         "msgOldFileKept",
                         "msgIncompleteFiles",
                         "msgFailNoSound",
                         "msgFailUnreadable",
                         "msgFailAccess",
                         "msgFailDiskFull",
                         "msgFailCannotKeep",
                         "msgFailCheck",
                         "msgFailOther",
                         "msgFailFolderAccess",
                         "msgFailFolderNotMade",
                         "msgFailNotAFile",
                         "msgFailSourceGone",
                         "msgFailNameTooLong",
                         "msgOutputBesideSource",
                         "msgPartKept",
                         "msgStoppedPartNote",
                         "msgRunStopped",
                         "msgRunSkipped",
                         "msgRunFailed",
                         "msgRunStoppedFiles",
                         "msgRunChapters",
                         "msgStatusAudioLeft",
                         "msgCloseDuringRun",
                         "msgStopAndQuit",
                         "msgKeepConverting",
                         "msgShowInFolder",
                         "msgOutputTip",
                         "msgRunWide",
                         "msgRunWideLoudness",
                         "msgRunWideChapters",
                         "msgRunWideKeepFolders",
                         "msgLoudnessNotForCopy",
                         "radioButtonChannelMono",
                         "radioButtonChannelStereo",
                         "N_1",
                         "N_Language",
                         "N_Skin"};
        for (int i = 1; i <= 18; ++i)
            main << QStringLiteral("N_Skin%1").arg(i);
        main << QStringList{"N_Help",   "N_LocalHelp", "N_HomePage", "N_Support", "N_FeedBack",
                            "N_Update", "N_Options",   "N_Setting",  "N_Tools",   "N_OtherProducts"};
        for (int i = 1; i <= 10; ++i)
            main << QStringLiteral("N_Product%1").arg(i);
        for (int i = 0; i <= 5; ++i)
            main << QStringLiteral("comboBoxFormatOther%1").arg(i);
        main << QStringList{"popMenuAudioTrack",  "popMenuAudioTrackAutomatic",
                            "msgNoAudioTracks",   "msgTrackMono",
                            "msgTrackStereo",     "msgTrack51",
                            "msgTrack71",         "msgTrackChannels",
                            "msgTrackKHz",        "msgCannotOpenPage",
                            "msgCannotOpenMail",  "msgCannotOpenFile",
                            "msgSettingsInMemory"};
        for (const TRunTextKey &text : QueueTextKeys())
            main << text.key;
        return QList<QPair<QString, QStringList>>{
            {"App", {"Title"}},
            {"frmMain", main},
            {"OpenDialog", {"caption", "filterMedia", "filterVideo", "filterSound", "filterAll"}},
            {"frmDirectory", {"caption", "labelDiretroy", "buttonOK", "buttonCancel"}},
            {"frmBatchAdd",
             {"caption", "labelDirectory", "checkBoxIsSubDirectorie", "labelFileNameExt", "labelNoticeFileNameExt",
              "buttonOK", "buttonCancel"}},
            {"frmSearchProgress", {"caption", "labelSearching", "labelFound", "buttonCancel"}},
            {"Places", {"Home", "Desktop", "Music", "Videos", "FileSystem"}},
            {"frmOverWrite",
             {"caption", "labelDes", "buttonOverWrite", "buttonIgnore", "buttonAutoName", "checkBoxNotice"}},
            {"frmPowerOffWindows", {"caption", "labelNotice", "buttonYes", "buttonNo"}},
            {"frmSetting",
             {"caption", "checkBoxAutoPowerOff", "labelWaitTime", "LabelSecond", "labelParallelFiles",
              "labelPreferredLanguage", "labelLoudness", "comboLoudness0", "comboLoudness1", "comboLoudness2",
              "comboLoudness3", "comboLoudness4", "checkBoxSplitChapters", "checkBoxKeepFolders", "ButtonOK",
              "ButtonCancel"}},
        };
    }();
    return keys;
}

// The text a test language file gives each key: its own name.
QString Marker(const QString &section, const QString &key) { return section + QLatin1Char('.') + key; }

// The English a key added after the first language files gives when it is missing.
const QMap<QString, QString> &Fallbacks()
{
    static const QMap<QString, QString> fallbacks{
        {"frmMain.comboBoxAudioBitrate", "kbit/s"},
        {"frmMain.ListViewItem1", "Length"},
        {"frmMain.ListViewItem2", "State"},
        {"frmSetting.LabelSecond", "seconds"},
        {"frmMain.buttonAdd", "frmMain.ActionFileAdd"}, // the button falls back to its action's caption
        {"OpenDialog.caption", "Open Video and Sound Files"},
        {"OpenDialog.filterMedia", "Video and sound files"},
        {"OpenDialog.filterVideo", "Video files"},
        {"frmMain.N_Language", "&Language"},
        {"OpenDialog.filterSound", "Sound files"},
        {"OpenDialog.filterAll", "All files"},
        {"frmMain.comboBoxFormatOther0", "WAV / MP3"},
        {"frmMain.comboBoxFormatOther5", "Original audio (no re-encoding)"},
        {"frmMain.popMenuAudioTrack", "Audio track"},
        {"frmMain.popMenuAudioTrackAutomatic", "Automatic"},
        {"frmMain.msgNoAudioTracks", "No audio tracks found"},
        {"frmSetting.labelPreferredLanguage", "Preferred audio language:"},
        {"frmMain.msgTrackMono", "mono"},
        {"frmMain.msgTrackKHz", "kHz"},
        {"frmMain.msgSettingsInMemory", "Settings cannot be saved to %s: the file is read-only. Changes apply until "
                                        "Tolvane is closed; make the file writable to keep them."},
        {"frmSetting.labelLoudness", "Loudness:"},
        {"frmSetting.comboLoudness0", "Off"},
        {"frmSetting.comboLoudness1", "-23 LUFS (broadcast)"},
        {"frmSetting.comboLoudness2", "-16 LUFS (podcasts)"},
        {"frmSetting.comboLoudness3", "-14 LUFS (streaming)"},
        {"frmSetting.comboLoudness4", "ReplayGain tags only"},
        {"frmSetting.checkBoxSplitChapters", "One file per chapter"},
        {"frmSetting.checkBoxKeepFolders", "Keep the folder structure of added folders"},
        {"frmMain.msgStateChapter", "chapter %s of %s"}};

    return fallbacks;
}

// What a key gives: its marker, or when left out its fallback (mostly none).
QString Given(const QString &section, const QString &key, const QStringList &leftOut)
{
    const QString marker = Marker(section, key);
    return leftOut.contains(marker) ? Fallbacks().value(marker) : marker;
}

// A language file with every key, section names in capitals and key names in
// small letters, so that only a match without regard to case finds them.
QByteArray MarkerFile(const QStringList &leaveOut = {})
{
    QByteArray text;
    for (const auto &[section, keys] : LanguageKeys()) {
        text += '[' + section.toUpper().toUtf8() + "]\r\n";
        for (const QString &key : keys)
            if (!leaveOut.contains(Marker(section, key)))
                text += key.toLower().toUtf8() + '=' + Marker(section, key).toUtf8() + "\r\n";
        text += "\r\n";
    }
    return text;
}

struct TWindow
{
    QString section;
    QWidget *window;
};

QList<TWindow> Windows()
{
    return {{"frmMain", frmMain},           {"frmDirectory", FrmDirectory},
            {"frmBatchAdd", FrmBatchAdd},   {"frmSearchProgress", frmSearchProgress},
            {"frmOverWrite", frmOverWrite}, {"frmPowerOffWindows", frmPowerOffWindows},
            {"frmSetting", frmSetting}};
}

// The program's window an object belongs to: the dialogs are children of the
// main window, but their controls are theirs.
QWidget *OwningWindow(QObject *o)
{
    const QList<TWindow> windows = Windows();
    for (QObject *p = o->parent(); p; p = p->parent())
        for (const TWindow &w : windows)
            if (w.window == p)
                return w.window;
    return nullptr;
}

// Every caption the user can see, by "section/object": window titles, labels,
// buttons, group boxes, menus, menu entries and the queue's column header.
QMap<QString, QString> Captions()
{
    QMap<QString, QString> captions;
    for (const TWindow &w : Windows()) {
        const QString prefix = w.section + QLatin1Char('/');
        captions[prefix + "#title"] = w.window->windowTitle();
        for (QObject *o : w.window->findChildren<QObject *>()) {
            const QString name = o->objectName();
            if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) || OwningWindow(o) != w.window)
                continue;
            if (auto *label = qobject_cast<QLabel *>(o))
                captions[prefix + name] = label->text();
            else if (auto *button = qobject_cast<QAbstractButton *>(o))
                captions[prefix + name] = button->text();
            else if (auto *group = qobject_cast<QGroupBox *>(o))
                captions[prefix + name] = group->title();
            else if (auto *menu = qobject_cast<QMenu *>(o))
                captions[prefix + name] = menu->title();
            else if (auto *action = qobject_cast<QAction *>(o); action && !action->isSeparator())
                captions[prefix + name] = action->text();
        }
    }
    auto *list = frmMain->findChild<QTableView *>("listViewFiles");
    for (int column = 0; column < 3; ++column)
        captions[QStringLiteral("frmMain/#header%1").arg(column)] =
            list->model()->headerData(column, Qt::Horizontal).toString();
    return captions;
}

// The key that captions an object whose name is not the key itself; an empty
// key for the few captions that the form keeps.
const QMap<QString, QString> &KeyOfObject()
{
    static const QMap<QString, QString> keys{
        {"frmMain/#title", "caption"},
        {"frmMain/#header0", "ListViewItem0"},
        {"frmMain/#header1", "ListViewItem1"},
        {"frmMain/#header2", "ListViewItem2"},
        {"frmMain/buttonDelete", "ActionFileDelete"},
        {"frmMain/buttonClearAll", "ActionFileClearAll"},
        {"frmMain/buttonMoveUp", "ActionFileMoveUp"},
        {"frmMain/buttonMoveDown", "ActionFileMoveDown"},
        {"frmMain/BitBtnOutput", "ActionSetDirectory"},
        {"frmMain/buttonConvert", "ActionConvertNow"},
        {"frmMain/N1_1", "ActionFileAdd"},
        {"frmMain/N1_11", "ActionFileBatchAdd"},
        {"frmMain/N1_2", "ActionFileDelete"},
        {"frmMain/N1_3", "ActionFileClearAll"},
        {"frmMain/N1_5", "ActionFileMoveUp"},
        {"frmMain/N1_6", "ActionFileMoveDown"},
        {"frmMain/N1_8", "ActionConvertNow"},
        {"frmMain/N1_10", "ActionExit"},
        {"frmMain/popMenu1", "ActionFileAdd"},
        {"frmMain/popMenu2", "ActionFileBatchAdd"},
        {"frmMain/popMenu3", "ActionFileDelete"},
        {"frmMain/popMenu4", "ActionFileClearAll"},
        {"frmMain/popMenu6", "ActionFileMoveUp"},
        {"frmMain/popMenu7", "ActionFileMoveDown"},
        {"frmMain/groupBoxChannel", "labelChannel"},
        {"frmMain/labelCurrentInfo", "msgStatusReady"},
        {"frmMain/groupBoxButtons", ""},
        {"frmMain/PopupMenu", ""},
        {"frmMain/radioButtonFormatWAV", ""},
        {"frmMain/radioButtonFormatMP3", ""},
        {"frmMain/radioButtonFormatOther", ""},
        {"frmDirectory/LabelDirectory", "labelDiretroy"},
        {"frmSearchProgress/labelFoundCount", ""},
        {"frmOverWrite/labelFileName", ""}, // the file asked about
        {"frmMain/popMenuShowInFolder", "msgShowInFolder"},
        {"frmMain/labelRunWide", ""}, // made of the run's texts when a setting is on
        // Each language by its own name, whatever the language in use.
        {"frmMain/N_Language1", ""},
        {"frmMain/N_Language2", ""},
        {"frmMain/N_Language3", ""},
    };
    return keys;
}

// The canonical spelling of a key named in any capitals; empty when no section has it.
QString CanonicalKey(const QString &section, const QString &key)
{
    for (const auto &[s, keys] : LanguageKeys())
        if (s == section)
            for (const QString &k : keys)
                if (k.compare(key, Qt::CaseInsensitive) == 0)
                    return k;
    return QString();
}

// What each caption shows when the language file holds the markers; the form
// keeps "WAV", "MP3" and the caption-less button group. leftOut keys give "" or their fallback.
QMap<QString, QString> ExpectedMarkers(const QMap<QString, QString> &captions, const QStringList &leftOut = {})
{
    QMap<QString, QString> expected;
    for (auto it = captions.cbegin(); it != captions.cend(); ++it) {
        const QString section = it.key().section('/', 0, 0);
        const QString object = it.key().section('/', 1);
        QString key = KeyOfObject().value(it.key(), object == "#title" ? "caption" : object);
        if (KeyOfObject().contains(it.key()) && key.isEmpty()) {
            expected[it.key()] = it.value(); // a form text, checked elsewhere
            continue;
        }
        key = CanonicalKey(section, key);
        if (key.isEmpty()) {
            expected[it.key()] = QStringLiteral("<no key captions this>");
            continue;
        }
        expected[it.key()] = Given(section, key, leftOut);
    }
    return expected;
}

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

private:
    ProgramFixture m_program;

    // Starts the program with the given language; anything else the folder
    // needs must be there first.
    void start(int language, const QByteArray &languageFile = QByteArray(), const QString &fileName = "en.ini")
    {
        if (!languageFile.isNull())
            m_program.folder().write("language/" + fileName, languageFile);
        // A stored folder equal to the form's text keeps the start from writing.
        m_program.start("[common]\nlanguage=" + QByteArray::number(language) + "\n[setting]\noutputFolder=C:\\\n");
    }

    static QStringList StoredTexts()
    {
        return {
            frmMain->Texts().StringStartCaption, frmMain->Texts().StringStopCaption, frmMain->Texts().msgStatusReady,
            frmMain->Texts().msgStatusRun,       frmMain->Texts().msgClearAll,       frmMain->Texts().msgFolderView,
            frmMain->Texts().msgFinishInfo,      frmMain->Texts().msgNoOutputFolder, frmMain->Texts().msgFailedFiles};
    }

    // A text of the run: stored, with English when it is missing.
    static bool RunTextOf(const QString &marker)
    {
        for (const TRunTextKey &text : TextKeys())
            if (marker == Marker("frmMain", text.key))
                return true;
        return false;
    }

    static QStringList StoredMarkers()
    {
        QStringList markers;
        for (const char *key : {"StringStartCaption", "StringStopCaption", "msgStatusReady", "msgStatusRun",
                                "msgClearAll", "msgFolderView", "msgFinishInfo", "msgNoOutputFolder", "msgFailedFiles"})
            markers << Marker("frmMain", key);
        return markers;
    }

private slots:
    void cleanup()
    {
        const QStringList errors = m_program.stop();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    }

    void everyCaptionComesFromItsKey_data()
    {
        QTest::addColumn<QStringList>("leftOut");
        QTest::newRow("complete file") << QStringList();
        QTest::newRow("no msgStatusReady") << QStringList{"frmMain.msgStatusReady"};
        QTest::newRow("no run texts") << QStringList{"frmMain.msgStateDone", "frmMain.msgTimeLeft"};
        QTest::newRow("no labelChannel") << QStringList{"frmMain.labelChannel"};
        QTest::newRow("no App Title") << QStringList{"App.Title"};
        QTest::newRow("no directory label, no setting OK")
            << QStringList{"frmDirectory.labelDiretroy", "frmSetting.ButtonOK"};
        QTest::newRow("no action caption") << QStringList{"frmMain.ActionFileClearAll"};
        QTest::newRow("no units, no open-dialog title and filter")
            << QStringList{"frmMain.comboBoxAudioBitrate", "frmSetting.LabelSecond", "frmMain.buttonAdd",
                           "OpenDialog.caption", "OpenDialog.filterAVI"};
        QTest::newRow("no format item, track texts or language label") << QStringList{
            "frmMain.comboBoxFormatOther5", "frmMain.popMenuAudioTrack",         "frmMain.popMenuAudioTrackAutomatic",
            "frmMain.msgNoAudioTracks",     "frmSetting.labelPreferredLanguage", "frmSetting.labelLoudness",
            "frmSetting.comboLoudness4"};
        QTest::newRow("no track words or settings notice")
            << QStringList{"frmMain.msgTrackMono", "frmMain.msgTrackKHz", "frmMain.msgSettingsInMemory"};
    }

    void everyCaptionComesFromItsKey()
    {
        QFETCH(QStringList, leftOut);
        start(2, MarkerFile(leftOut));

        const QMap<QString, QString> captions = Captions();
        const QMap<QString, QString> expected = ExpectedMarkers(captions, leftOut);
        for (auto it = captions.cbegin(); it != captions.cend(); ++it)
            QVERIFY2(it.value() == expected[it.key()],
                     qPrintable(it.key() + ": \"" + it.value() + "\", expected \"" + expected[it.key()] + '"'));
        // Every key that captions something reached a control.
        for (const auto &[section, keys] : LanguageKeys())
            for (const QString &key : keys) {
                const QString marker = Marker(section, key);
                const bool elsewhere =
                    section == "App" || section == "Places" || section == "OpenDialog"
                    || StoredMarkers().contains(marker) || RunTextOf(marker) || marker == "frmMain.comboBoxAudioBitrate"
                    || marker == "frmPowerOffWindows.buttonYes" || leftOut.contains(marker)
                    || marker.startsWith("frmMain.comboBoxFormatOther") || marker == "frmMain.msgNoAudioTracks"
                    || marker.startsWith("frmMain.msgTrack") || marker.startsWith("frmMain.msgCannotOpen")
                    || marker == "frmMain.msgSettingsInMemory" || marker.startsWith("frmSetting.comboLoudness");
                QVERIFY2(elsewhere || captions.values().contains(marker), qPrintable(marker + " captions nothing"));
            }

        QCOMPARE(FindControl<QAbstractButton>(frmMain, "radioButtonFormatWAV")->text(), QStringLiteral("WAV"));
        QCOMPARE(FindControl<QAbstractButton>(frmMain, "radioButtonFormatMP3")->text(), QStringLiteral("MP3"));
        auto *bitrate = FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate");
        QCOMPARE(bitrate->itemText(0), "8 " + Given("frmMain", "comboBoxAudioBitrate", leftOut));
        QCOMPARE(bitrate->itemText(17), "350 " + Given("frmMain", "comboBoxAudioBitrate", leftOut));
        auto *formats = FindControl<QComboBox>(frmMain, "comboBoxFormatOther");
        for (int i = 0; i < formats->count(); ++i)
            QCOMPARE(formats->itemText(i), Given("frmMain", QStringLiteral("comboBoxFormatOther%1").arg(i), leftOut));
        auto *loudness = FindControl<QComboBox>(frmSetting, "comboLoudness");
        for (int i = 0; i < loudness->count(); ++i)
            QCOMPARE(loudness->itemText(i), Given("frmSetting", QStringLiteral("comboLoudness%1").arg(i), leftOut));
        QCOMPARE(frmMain->Texts().msgNoAudioTracks, Given("frmMain", "msgNoAudioTracks", leftOut));
        QCOMPARE(frmMain->Texts().msgSettingsInMemory, Given("frmMain", "msgSettingsInMemory", leftOut));
        TAudioTrack mono{0, "mp3", 1, 44100, QString(), QString(), false, "mono"};
        QCOMPARE(TrackCaption(mono), "1: MP3 " + Given("frmMain", "msgTrackMono", leftOut) + ", 44.1 "
                                         + Given("frmMain", "msgTrackKHz", leftOut));
        QCOMPARE(frmMain->Texts().OpenDialogCaption, Given("OpenDialog", "caption", leftOut));
        QStringList filters;
        for (const QString &key : LanguageKeys().at(2).second.mid(1))
            filters << Given("OpenDialog", key, leftOut);
        QCOMPARE(frmMain->Texts().OpenDialogFilterTexts, filters);

        QStringList stored = StoredMarkers();
        for (QString &marker : stored)
            if (leftOut.contains(marker))
                marker.clear();
        QCOMPARE(StoredTexts(), stored);
        for (const TRunTextKey &text : TextKeys()) {
            const QString marker = Marker("frmMain", text.key);
            QCOMPARE(frmMain->Texts().*text.text, leftOut.contains(marker) ? QString(text.english) : marker);
        }
        auto *status = FindControl<QLabel>(frmMain, "labelCurrentInfo");
        QCOMPARE(status->text(), frmMain->Texts().msgStatusReady);
        QCOMPARE(status->toolTip(), frmMain->Texts().msgStatusReady);
        QCOMPARE(frmPowerOffWindows->yesCaption, Marker("frmPowerOffWindows", "buttonYes"));
        const QString title = leftOut.contains("App.Title") ? QString() : Marker("App", "Title");
        QCOMPARE(ApplicationTitle(), title);
        QCOMPARE(QGuiApplication::applicationDisplayName(), title);
        const TPlaceCaptions &places = PlaceCaptions();
        QCOMPARE(QStringList({places.home, places.desktop, places.music, places.videos, places.fileSystem}),
                 QStringList({Marker("Places", "Home"), Marker("Places", "Desktop"), Marker("Places", "Music"),
                              Marker("Places", "Videos"), Marker("Places", "FileSystem")}));
    }

    void missingOrUnreadableFileEmptiesEveryCaption_data()
    {
        QTest::addColumn<bool>("folderInItsPlace");
        QTest::newRow("missing") << false;
        QTest::newRow("folder named en.ini") << true;
    }

    void missingOrUnreadableFileEmptiesEveryCaption()
    {
        QFETCH(bool, folderInItsPlace);
        if (folderInItsPlace)
            QVERIFY(QDir(m_program.folder().path()).mkpath("language/en.ini"));
        start(2);

        const QMap<QString, QString> kept{
            {"frmMain/radioButtonFormatWAV", "WAV"},
            {"frmMain/radioButtonFormatMP3", "MP3"},
            {"frmSetting/LabelSecond", "seconds"},
            {"frmSetting/labelPreferredLanguage", "Preferred audio language:"},
            {"frmSetting/labelLoudness", "Loudness:"},
            {"frmSetting/checkBoxSplitChapters", "One file per chapter"},
            {"frmSetting/checkBoxKeepFolders", "Keep the folder structure of added folders"},
            {"frmMain/popMenuAudioTrack", "Audio track"},
            {"frmMain/popMenuAudioTrackAutomatic", "Automatic"},
            {"frmSearchProgress/labelFoundCount", "0"},
            {"frmMain/#header1", "Length"},
            {"frmMain/#header2", "State"},
            {"frmMain/N_Language", "&Language"},
            {"frmMain/N_Language1", "\u4E2D\u6587\uFF08\u7B80\u4F53\uFF09"},
            {"frmMain/N_Language2", "English"},
            {"frmMain/N_Language3", "\u65E5\u672C\u8A9E"},
            {"frmMain/popMenuShowInFolder", "Show in Folder"}};
        const QMap<QString, QString> captions = Captions();
        for (auto it = captions.cbegin(); it != captions.cend(); ++it)
            QVERIFY2(it.value() == kept.value(it.key()), qPrintable(it.key() + ": " + it.value()));
        QCOMPARE(StoredTexts(), QStringList(9, QString()));
        for (const TRunTextKey &text : TextKeys())
            QCOMPARE(frmMain->Texts().*text.text, QString(text.english));
        QCOMPARE(frmPowerOffWindows->yesCaption, QString());
        QCOMPARE(ApplicationTitle(), QString());
        // Texts the first language files lacked fall back to English.
        QCOMPARE(FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate")->currentText(), QStringLiteral("128 kbit/s"));
        QCOMPARE(frmMain->Texts().OpenDialogCaption, QStringLiteral("Open Video and Sound Files"));
        QCOMPARE(frmMain->Texts().OpenDialogFilterTexts.first(), QStringLiteral("Video and sound files"));
        QCOMPARE(FindControl<QComboBox>(frmMain, "comboBoxFormatOther")->itemText(5),
                 QStringLiteral("Original audio (no re-encoding)"));
        // The menus still hold their entries, only without captions; products without a name stay out.
        QVERIFY(FindControl<QMenu>(frmMain, "N_Tools")->menuAction()->isVisible());
        QVERIFY(!FindControl<QAction>(frmMain, "N_Product1")->isVisible());
    }

    void shippedFilesHaveEveryKey_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("gb") << "gb.ini";
        QTest::newRow("en") << "en.ini";
        QTest::newRow("jp") << "jp.ini";
    }

    void shippedFilesHaveEveryKey()
    {
        QFETCH(QString, file);
        const QString path = QStringLiteral(TOLVANE_SOURCE_DIR "/data/language/") + file;
        QFile raw(path);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QStringDecoder utf8(QStringDecoder::Utf8);
        utf8.decode(raw.readAll());
        QVERIFY2(!utf8.hasError(), "shipped language files are UTF-8");

        const TLanguageFile language(path);
        const QString missing = QStringLiteral("\x01missing");
        for (const auto &[section, keys] : LanguageKeys())
            for (const QString &key : keys) {
                const QString value = language.ReadString(section, key, missing);
                QVERIFY2(value != missing, qPrintable(Marker(section, key) + " is missing"));
                // Only the product list may end early.
                if (!key.startsWith("N_Product"))
                    QVERIFY2(!value.trimmed().isEmpty(), qPrintable(Marker(section, key) + " is empty"));
            }
        // The status line is built from this pattern with one string: the file's position.
        const QString run = language.ReadString("frmMain", "msgStatusRun");
        QCOMPARE(run.count("%s"), 1);
        QCOMPARE(run.count('%'), 1);
        // The run's texts take as many numbers as the English ones.
        for (const TRunTextKey &text : TextKeys())
            QVERIFY2(language.ReadString("frmMain", text.key).count('%') == QString(text.english).count("%s"),
                     text.key);
        // Texts that name a path or an address take it once.
        for (const char *key :
             {"msgTrackChannels", "msgCannotOpenPage", "msgCannotOpenMail", "msgCannotOpenFile", "msgSettingsInMemory"})
            QVERIFY2(language.ReadString("frmMain", key).count("%s") == 1, key);
        // The countdown appends "(29)" to the Yes caption, which ends in a blank to keep them apart.
        const QString yes = language.ReadString("frmPowerOffWindows", "buttonYes");
        QVERIFY(!yes.contains('('));
        QVERIFY(yes.endsWith(' ') && !yes.trimmed().isEmpty());
    }

    void shippedFileIsShown_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("switchTo"); // then chosen in Options -> Language
        QTest::addColumn<QString>("switchedFile");
        QTest::newRow("chinese, then japanese") << 1 << "gb.ini" << 3 << "jp.ini";
        QTest::newRow("english, then chinese") << 2 << "en.ini" << 1 << "gb.ini";
        QTest::newRow("japanese, then english") << 3 << "jp.ini" << 2 << "en.ini";
    }

    void shippedFileIsShown()
    {
        QFETCH(int, language);
        QFETCH(QString, file);
        QFETCH(int, switchTo);
        QFETCH(QString, switchedFile);
        m_program.folder().installData();
        const QByteArray config =
            "[common]\nlanguage=" + QByteArray::number(language) + "\n[setting]\noutputFolder=C:\\\n";
        start(language);
        const TLanguageFile shipped(m_program.folder().file("language/" + file));
        QCOMPARE(frmMain->windowTitle(), shipped.ReadString("frmMain", "caption"));
        QCOMPARE(FindControl<QAbstractButton>(frmMain, "buttonConvert")->text(),
                 shipped.ReadString("frmMain", "ActionConvertNow"));
        QCOMPARE(FindControl<QLabel>(frmMain, "labelCurrentInfo")->text(),
                 shipped.ReadString("frmMain", "msgStatusReady"));
        QCOMPARE(FrmBatchAdd->windowTitle(), shipped.ReadString("frmBatchAdd", "caption"));
        QCOMPARE(frmPowerOffWindows->yesCaption, shipped.ReadString("frmPowerOffWindows", "buttonYes"));
        QCOMPARE(ApplicationTitle(), shipped.ReadString("App", "Title"));
        // Loading the language writes nothing.
        QCOMPARE(m_program.folder().read("config.ini"), config);

        // Every entry of the File menu has a key of its own in every language.
        QSet<QChar> mnemonics;
        for (QAction *entry : FindControl<QMenu>(frmMain, "N_1")->actions())
            if (!entry->isSeparator()) {
                const qsizetype amp = entry->text().indexOf('&');
                QVERIFY2(amp >= 0 && amp + 1 < entry->text().size(), qPrintable(entry->text()));
                mnemonics.insert(entry->text().at(amp + 1).toUpper());
            }
        QCOMPARE(mnemonics.size(), 8);

        // Another language applies at once to every window, and is kept for the next start.
        QVERIFY(FindControl<QAction>(frmMain, "N_Language" + QByteArray::number(language))->isChecked());
        FindControl<QAction>(frmMain, "N_Language" + QByteArray::number(switchTo))->trigger();
        const TLanguageFile other(m_program.folder().file("language/" + switchedFile));
        QCOMPARE(frmMain->windowTitle(), other.ReadString("frmMain", "caption"));
        QCOMPARE(FindControl<QAbstractButton>(frmMain, "buttonConvert")->text(),
                 other.ReadString("frmMain", "ActionConvertNow"));
        QCOMPARE(FrmBatchAdd->windowTitle(), other.ReadString("frmBatchAdd", "caption"));
        QCOMPARE(frmMain->Texts().msgStatusAudioLeft, other.ReadString("frmMain", "msgStatusAudioLeft"));
        QCOMPARE(FindControl<QMenu>(frmMain, "N_Tools")->menuAction()->isVisible(), switchTo != 3);
        QCOMPARE(TIniFile(m_program.folder().configFile()).ReadInteger("common", "language", 0), switchTo);
        QCOMPARE(frmCommon->LanguageCode, switchTo);
        QVERIFY(frmCommon->HelpFile.endsWith(switchTo == 2   ? "Tolvane.html"
                                             : switchTo == 1 ? "Tolvane_gb.html"
                                                             : "Tolvane_jp.html"));
    }

    void shippedTextsFitEveryWindowAndSkin_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("skin");
        for (const auto &[language, name] : {std::pair{1, "gb"}, std::pair{2, "en"}, std::pair{3, "jp"}})
            for (int skin = 1; skin <= 18; ++skin)
                QTest::addRow("%s, skin %d", name, skin) << language << skin;
    }

    void shippedTextsFitEveryWindowAndSkin()
    {
        QFETCH(int, language);
        QFETCH(int, skin);
        m_program.folder().installData();
        m_program.start("[common]\nlanguage=" + QByteArray::number(language)
                        + "\n[skin]\nskin=" + QByteArray::number(skin) + "\n[setting]\noutputFolder=C:\\\n");
        QCoreApplication::processEvents(); // the layouts take the new captions in
        QStringList clipped = ClippedCaptions(frmMain);
        // While a run goes the convert button carries the stop caption.
        frmMain->SetControlsEnabled(false);
        QCoreApplication::processEvents();
        clipped << ClippedCaptions(frmMain);
        frmMain->SetControlsEnabled(true);
        for (const TWindow &w : Windows().mid(1)) {
            w.window->show();
            if (w.window == frmPowerOffWindows)
                frmPowerOffWindows->TimerTimer(); // the Yes caption with its countdown
            QCoreApplication::processEvents();
            clipped << ClippedCaptions(w.window);
            w.window->hide();
        }
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join('\n')));
        qApp->setStyleSheet(QString());
    }

    void legacyEncodedFiles_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("caption");
        QTest::addColumn<QString>("shown");
        QTest::newRow("gbk") << 1 << "gb.ini" << QByteArray::fromHex("cec4bcfec1d0b1ed") << QStringLiteral("文件列表");
        QTest::newRow("shift-jis") << 3 << "jp.ini" << QByteArray::fromHex("8f8094f58aae97b9")
                                   << QStringLiteral("準備完了");
        QTest::newRow("windows-1252") << 2 << "en.ini" << QByteArray::fromHex("436166e920932294")
                                      << QStringLiteral("Café “\"”");
    }

    void legacyEncodedFiles()
    {
        QFETCH(int, language);
        QFETCH(QString, file);
        QFETCH(QByteArray, caption);
        QFETCH(QString, shown);
        start(language, "[frmMain]\r\ncaption=" + caption + "\r\nmsgStatusReady=" + caption + "\r\n", file);
        QCOMPARE(frmMain->windowTitle(), shown);
        QCOMPARE(frmMain->Texts().msgStatusReady, shown);
    }

    void japaneseFonts_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("chinese") << 1;
        QTest::newRow("english") << 2;
        QTest::newRow("japanese") << 3;
    }

    void japaneseFonts()
    {
        QFETCH(int, language);
        start(language, MarkerFile(), language == 1 ? "gb.ini" : language == 3 ? "jp.ini" : "en.ini");
        const QString japanese = QStringLiteral("Noto Sans CJK JP");
        const QString plain = QApplication::font().family();
        const QString changed = language == 3 ? japanese : plain;

        const QList<QPair<QWidget *, QStringList>> switched{
            {frmMain,
             {"groupBoxButtons", "groupBoxStatus", "groupBoxSettings", "GroupBoxSettingsAudio", "groupBoxOutput",
              "groupBoxChannel", "labelCurrentDecrption", "labelCurrentProgress", "labelCurrentInfo",
              "labelAudioBitrate", "labelSampleRate", "radioButtonChannelMono", "radioButtonChannelStereo",
              "labelOutput", "buttonAdd", "buttonDelete", "buttonClearAll", "buttonMoveUp", "buttonMoveDown",
              "buttonConvert", "comboBoxFormatOther", "listViewFiles",
              // inside the listed group boxes: they follow their parents
              "radioButtonFormatWAV", "radioButtonFormatMP3", "comboBoxAudioBitrate", "comboBoxSampleRate",
              "editOutputFolder", "BitBtnOutput", "progressBarCurrent"}},
            {FrmBatchAdd,
             {"labelDirectory", "labelFileNameExt", "labelNoticeFileNameExt", "buttonCancel", "buttonOK",
              "checkBoxIsSubDirectorie"}},
            {FrmDirectory, {"LabelDirectory", "ButtonCancel", "ButtonOK"}},
            {frmSearchProgress, {"labelSearching", "labelFound", "labelFoundCount", "buttonCancel"}},
            {frmOverWrite, {"labelDes", "buttonOverWrite", "buttonIgnore", "buttonAutoName", "checkBoxNotice"}},
            {frmSetting,
             {"labelWaitTime", "LabelSecond", "labelParallelFiles", "labelPreferredLanguage", "labelLoudness",
              "comboLoudness", "checkBoxAutoPowerOff", "ButtonOK", "ButtonCancel"}},
            {frmPowerOffWindows, {"labelNotice", "buttonYes", "buttonNo"}},
        };
        for (const auto &[window, names] : switched)
            for (const QString &name : names) {
                QWidget *w = window->findChild<QWidget *>(name);
                QVERIFY2(w, qPrintable(name));
                QVERIFY2(w->font().family() == changed, qPrintable(name + ": " + w->font().family()));
            }
        // Edit fields, folder trees, window titles and menus keep the default font.
        const QList<QPair<QWidget *, const char *>> kept{
            {frmSetting, "editWaitTime"},     {FrmBatchAdd, "editExt"}, {FrmBatchAdd, "ShellTreeView"},
            {FrmDirectory, "ShellTreeView1"}, {frmMain, "N_1"},         {frmMain, "MainMenu"}};
        for (const auto &[window, name] : kept)
            QCOMPARE(FindControl<QWidget>(window, name)->font().family(), plain);
        QCOMPARE(frmMain->font().family(), plain);

        QCOMPARE(FindControl<QMenu>(frmMain, "N_Tools")->menuAction()->isVisible(), language != 3);

        if (language == 3) {
            if (!QFontDatabase::families().contains(japanese))
                QSKIP("Noto Sans CJK JP is not installed (fonts-noto-cjk)");
            QCOMPARE(QFontInfo(FindControl<QWidget>(frmMain, "buttonAdd")->font()).family(), japanese);
        }
    }

    void productLinks()
    {
        QByteArray file = MarkerFile();
        for (int i = 3; i <= 10; ++i)
            file.replace(QStringLiteral("n_product%1=frmMain.N_Product%1\r\n").arg(i).toUtf8(),
                         QStringLiteral("n_product%1=\r\n").arg(i).toUtf8());
        start(2, file);
        for (int i = 1; i <= 10; ++i) {
            auto *item = FindControl<QAction>(frmMain, qPrintable(QStringLiteral("N_Product%1").arg(i)));
            QCOMPARE(item->isVisible(), i <= 2);
        }
        UrlRecorder urls({"https"});
        FindControl<QAction>(frmMain, "N_Product2")->trigger();
        QCOMPARE(urls.opened, QList<QUrl>{QUrl("https://tolvane.example/en/products/2/")});
        QCOMPARE(ProductPage("https://tolvane.example/ja", 10),
                 QStringLiteral("https://tolvane.example/ja/products/10/"));
    }

    void standardButtonsSpeakTheLanguage_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("qtFile");
        QTest::addColumn<QString>("cancel");
        QTest::newRow("chinese") << 1 << "gb.ini" << "qtbase_zh_CN" << QStringLiteral("取消");
        QTest::newRow("english") << 2 << "en.ini" << "" << QStringLiteral("Cancel");
        QTest::newRow("japanese") << 3 << "jp.ini" << "qtbase_ja" << QStringLiteral("キャンセル");
    }

    void standardButtonsSpeakTheLanguage()
    {
        QFETCH(int, language);
        QFETCH(QString, file);
        QFETCH(QString, qtFile);
        QFETCH(QString, cancel);
        const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        if (!qtFile.isEmpty() && !QFile::exists(translations + '/' + qtFile + ".qm"))
            QSKIP("Qt's translations are not installed (qt6-translations-l10n)");
        start(language, MarkerFile(), file);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), cancel);
    }
};

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TestLanguage test;
    return QTest::qExec(&test, argc, argv);
}

#include "support/moc_UrlRecorder.cpp"
#include "tst_language.moc"
