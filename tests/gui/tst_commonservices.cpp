#include "common/ConfigLocation.h"
#include "common/ErrorReport.h"
#include "common/IniFile.h"
#include "common/PowerOff.h"
#include "gui/CommonServices.h"
#include "gui/ErrorBox.h"
#include "support/ErrorOf.h"
#include "support/ModalAnswerer.h"
#include "support/UrlRecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <unistd.h>

class TestCommon : public QObject
{
    Q_OBJECT

private:
    static void writeConfig(const QString &folder, const QByteArray &content)
    {
        QFile file(folder + QStringLiteral("/config.ini"));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(content);
    }

    // The style sheets a help page links, as the browser finds them beside the page.
    static QStringList missingStyleSheets(const QString &page)
    {
        QFile file(page);
        if (!file.open(QIODevice::ReadOnly))
            return {page};
        const QString html = QString::fromUtf8(file.readAll());
        const QString folder = QFileInfo(page).absolutePath() + QLatin1Char('/');
        static const QRegularExpression link(QStringLiteral("<link\\s+rel=\"stylesheet\"\\s+href=\"([^\"]+)\""));
        QStringList missing;
        int linked = 0;
        for (const QRegularExpressionMatch &match : link.globalMatch(html)) {
            ++linked;
            if (!QFile::exists(folder + match.captured(1)))
                missing << match.captured(1);
        }
        return linked > 0 ? missing : QStringList{QStringLiteral("(no style sheet linked)")};
    }

    UrlRecorder m_urls;

private slots:
    void languageTable_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("languageFile");
        QTest::addColumn<QString>("helpFile");
        QTest::addColumn<QString>("homePage");

        QTest::newRow("no config") << QByteArray() << 2 << "language/en.ini" << "Tolvane.html"
                                   << "https://tolvane.example/en/";
        QTest::newRow("chinese") << QByteArray("[common]\nlanguage=1\n") << 1 << "language/gb.ini" << "Tolvane_gb.html"
                                 << "https://tolvane.example/zh/";
        QTest::newRow("english") << QByteArray("[common]\nlanguage=2\n") << 2 << "language/en.ini" << "Tolvane.html"
                                 << "https://tolvane.example/en/";
        QTest::newRow("japanese hex") << QByteArray("[Common]\nLANGUAGE=0x3\n") << 3 << "language/jp.ini"
                                      << "Tolvane_jp.html" << "https://tolvane.example/ja/";
        QTest::newRow("zero acts as english") << QByteArray("[common]\nlanguage=0\n") << 0 << "language/en.ini"
                                              << "Tolvane.html" << "https://tolvane.example/en/";
        QTest::newRow("seven acts as english") << QByteArray("[common]\nlanguage=7\n") << 7 << "language/en.ini"
                                               << "Tolvane.html" << "https://tolvane.example/en/";
        QTest::newRow("not a number") << QByteArray("[common]\nlanguage=jp\n") << 2 << "language/en.ini"
                                      << "Tolvane.html" << "https://tolvane.example/en/";
    }

    void languageTable()
    {
        QFETCH(QByteArray, config);
        QFETCH(int, code);
        QFETCH(QString, languageFile);
        QFETCH(QString, helpFile);
        QFETCH(QString, homePage);

        QTemporaryDir dir;
        if (!config.isEmpty())
            writeConfig(dir.path(), config);
        TfrmCommon common(dir.path());
        QCOMPARE(common.AppFolder, dir.path() + QLatin1Char('/'));
        QCOMPARE(common.ConfigFile, dir.path() + QStringLiteral("/config.ini"));
        QCOMPARE(common.LanguageCode, code);
        QCOMPARE(common.LanguageFile, common.AppFolder + languageFile);
        QCOMPARE(common.HelpFile, common.AppFolder + helpFile);
        QVERIFY2(QFile::exists(QStringLiteral(TOLVANE_SOURCE_DIR "/data/help/") + helpFile),
                 "every language ships its help page");
        const QString builtPage = QStringLiteral(TOLVANE_PROGRAM_DIR "/") + helpFile;
        QCOMPARE(missingStyleSheets(builtPage), QStringList());
        QCOMPARE(common.HomePage, homePage);
        QVERIFY(common.SupportMail.startsWith(QLatin1String("mailto:")));
        QVERIFY(common.FeedbackPage.startsWith(QLatin1String("https://tolvane.example/")));
    }

    void userConfigFolder_data()
    {
        QTest::addColumn<QByteArray>("xdg");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unset") << QByteArray() << QDir::homePath() + "/.config/Tolvane/";
        QTest::newRow("absolute") << QByteArray("/srv/cfg/") << "/srv/cfg/Tolvane/";
        QTest::newRow("relative is ignored") << QByteArray("cfg") << QDir::homePath() + "/.config/Tolvane/";
    }

    void userConfigFolder()
    {
        QFETCH(QByteArray, xdg);
        QFETCH(QString, expected);
        const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", xdg);
        const QString folder = UserConfigFolder();
        qputenv("XDG_CONFIG_HOME", previous);
        QCOMPARE(folder, expected);
    }

    void folderWritable_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("writable");
        QTest::newRow("folder") << "folder" << true;
        QTest::newRow("missing") << "missing" << false;
        QTest::newRow("plain file") << "file" << false;
        QTest::newRow("read-only folder") << "read-only" << false;
    }

    void folderWritable()
    {
        QFETCH(QString, kind);
        QFETCH(bool, writable);
        if (kind == QLatin1String("read-only") && ::geteuid() == 0)
            QSKIP("root writes to a read-only folder; the settings location tests use the seam instead");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("probe"));
        if (kind == QLatin1String("file")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (kind != QLatin1String("missing")) {
            QDir(dir.path()).mkdir(QStringLiteral("probe"));
        }
        if (kind == QLatin1String("read-only"))
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QCOMPARE(IsFolderWritable(path), writable);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    // A program folder the user cannot write to keeps settings in the user's
    // folder, started from the shipped config.ini; every read and write goes there.
    void configLocation_data()
    {
        QTest::addColumn<bool>("programWritable");
        QTest::addColumn<QByteArray>("shipped");
        QTest::addColumn<QByteArray>("userCopy");
        QTest::addColumn<bool>("inUserFolder");
        QTest::addColumn<QByteArray>("startsWith");

        const QByteArray japanese("[common]\nlanguage=3\n");
        const QByteArray chinese("[common]\nlanguage=1\n");
        QTest::newRow("writable: beside the program") << true << japanese << chinese << false << japanese;
        QTest::newRow("read-only, nothing shipped") << false << QByteArray() << QByteArray() << true << QByteArray();
        QTest::newRow("read-only, first start copies") << false << japanese << QByteArray() << true << japanese;
        QTest::newRow("read-only, user copy kept") << false << japanese << chinese << true << chinese;
    }

    void configLocation()
    {
        QFETCH(bool, programWritable);
        QFETCH(QByteArray, shipped);
        QFETCH(QByteArray, userCopy);
        QFETCH(bool, inUserFolder);
        QFETCH(QByteArray, startsWith);

        QTemporaryDir program;
        QTemporaryDir xdg;
        const QByteArray previousXdg = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdg.path()));
        const FolderWritableCheck previous = SetFolderWritableCheck([&](const QString &folder) {
            return folder == program.path() + QLatin1Char('/') ? programWritable : true;
        });
        const QString userFile = xdg.path() + QStringLiteral("/Tolvane/config.ini");
        if (!shipped.isEmpty())
            writeConfig(program.path(), shipped);
        if (!userCopy.isEmpty()) {
            QDir(xdg.path()).mkdir(QStringLiteral("Tolvane"));
            writeConfig(xdg.path() + QStringLiteral("/Tolvane"), userCopy);
        }

        TfrmCommon common(program.path());
        SetFolderWritableCheck(previous);
        qputenv("XDG_CONFIG_HOME", previousXdg);

        QCOMPARE(common.ConfigFile, inUserFolder ? userFile : program.filePath(QStringLiteral("config.ini")));
        QCOMPARE(common.LanguageCode, startsWith.isEmpty() ? 2 : startsWith.at(startsWith.size() - 2) - '0');
        common.SaveSkinIndex(4);
        QCOMPARE(common.ReadSkinIndex(), 4);
        QFile chosen(common.ConfigFile);
        QVERIFY(chosen.open(QIODevice::ReadOnly));
        QVERIFY(chosen.readAll().startsWith(startsWith));
        // The other file is left as it was.
        QFile other(inUserFolder ? program.filePath(QStringLiteral("config.ini")) : userFile);
        other.open(QIODevice::ReadOnly);
        QCOMPARE(other.readAll(), inUserFolder ? shipped : userCopy);
    }

    void languageIsReadOnce()
    {
        QTemporaryDir dir;
        writeConfig(dir.path(), "[common]\nlanguage=1\n");
        TfrmCommon common(dir.path());
        writeConfig(dir.path(), "[common]\nlanguage=3\n");
        QCOMPARE(common.LanguageCode, 1);
    }

    void defaultsWithoutConfig()
    {
        QTemporaryDir dir;
        TfrmCommon common(dir.path());
        QCOMPARE(common.ReadSkinIndex(), 10);
        QCOMPARE(common.IsAutoPowerOff(), false);
        QCOMPARE(common.AutoPowerOffWaitTime(), 30);
        QVERIFY(!QFile::exists(common.ConfigFile));
    }

    void autoPowerOff_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("on");
        QTest::newRow("1") << QByteArray("1") << true;
        QTest::newRow("hex 1") << QByteArray("0x1") << true;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("2") << QByteArray("2") << false;
        QTest::newRow("yes") << QByteArray("yes") << false;
    }

    void autoPowerOff()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, on);
        QTemporaryDir dir;
        TfrmCommon common(dir.path());
        writeConfig(dir.path(), "[SETTING]\nAUTOPOWEROFF=" + value + "\nautoPowerOff_WaitTime=$10\n");
        QCOMPARE(common.IsAutoPowerOff(), on);
        QCOMPARE(common.AutoPowerOffWaitTime(), 16);
    }

    // Each link opens its target; one no program takes says so with the
    // address or path to copy, in the language's text when it names it.
    void linksOpen_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("pageText");
        QTest::addColumn<QString>("pageError");
        QTest::newRow("english") << 2 << false << "" << "";
        QTest::newRow("japanese") << 3 << false << "" << "";
        QTest::newRow("nothing opens") << 2 << true << ""
                                       << "No web browser opened the page. Its address, to copy into one: "
                                          "https://tolvane.example/en/";
        QTest::newRow("nothing opens, translated") << 3 << true << "Open %s yourself."
                                                   << "Open https://tolvane.example/ja/ yourself.";
        QTest::newRow("translation without the address")
            << 2 << true << "Cannot open."
            << "No web browser opened the page. Its address, to copy into one: "
               "https://tolvane.example/en/";
    }

    void linksOpen()
    {
        QFETCH(int, code);
        QFETCH(bool, refused);
        QFETCH(QString, pageText);
        QFETCH(QString, pageError);
        QTemporaryDir dir;
        writeConfig(dir.path(), "[common]\nlanguage=" + QByteArray::number(code) + "\n");
        TfrmCommon common(dir.path());
        SetCannotOpenText(TOpenTarget::Page, pageText);
        m_urls.opened.clear();
        m_urls.setRefusing(refused);
        QStringList errors;
        for (void (TfrmCommon::*open)() const : {&TfrmCommon::OpenHomePage, &TfrmCommon::OpenSupportMail,
                                                 &TfrmCommon::OpenFeedbackPage, &TfrmCommon::OpenHelpFile})
            errors << ErrorOf([&] { (common.*open)(); });
        m_urls.setRefusing(false);
        SetCannotOpenText(TOpenTarget::Page, QString());
        if (refused) {
            QCOMPARE(errors[0], pageError);
            QVERIFY2(errors[1].endsWith(QLatin1String(": support") + (code == 3 ? "-jp" : "") + "@tolvane.example"),
                     qPrintable(errors[1]));
            QVERIFY2(errors[3].endsWith(QLatin1String(": ") + common.HelpFile), qPrintable(errors[3]));
            QVERIFY(m_urls.opened.isEmpty());
            return;
        }
        QCOMPARE(errors, QStringList(4, QString()));
        QCOMPARE(m_urls.opened.size(), 4);
        QCOMPARE(m_urls.opened[0].toString(), common.HomePage);
        QCOMPARE(m_urls.opened[1].scheme(), QStringLiteral("mailto"));
        QCOMPARE(m_urls.opened[2].toString(), common.FeedbackPage);
        QCOMPARE(m_urls.opened[3], QUrl::fromLocalFile(common.HelpFile));
    }

    void powerOffGoesThroughTheSeam()
    {
        QTemporaryDir dir;
        TfrmCommon common(dir.path());
        int requests = 0;
        const PowerOffHandler previous = SetPowerOffHandler([&requests] { ++requests; });
        common.PowerOff();
        common.PowerOff();
        SetPowerOffHandler(previous);
        QCOMPARE(requests, 2);
    }

    void skinIndexRoundTrip()
    {
        QTemporaryDir dir;
        TfrmCommon common(dir.path());
        common.SaveSkinIndex(4);
        QCOMPARE(common.ReadSkinIndex(), 4);
        QCOMPARE(TIniFile(common.ConfigFile).ReadString("skin", "skin", QString()), QStringLiteral("4"));
    }

    void fullStop_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("adds") << "Unable to write to /x/config.ini" << "Unable to write to /x/config.ini.";
        QTest::newRow("keeps") << "Disk full." << "Disk full.";
        QTest::newRow("multi-line") << "System Error.  Code: 2.\r\nNo such file or directory"
                                    << "System Error.  Code: 2.\r\nNo such file or directory.";
        QTest::newRow("empty") << "" << ".";
        QTest::newRow("question") << "Really?" << "Really?";
        QTest::newRow("exclamation") << "Stop!" << "Stop!";
        QTest::newRow("ideographic full stop") << "请先选择输出目录。" << "请先选择输出目录。";
        QTest::newRow("full-width marks") << "本当？" << "本当？";
        QTest::newRow("full-width exclamation") << "注意！" << "注意！";
        QTest::newRow("comma is no end") << "a," << "a,.";
    }

    void fullStop()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QStringList reported;
        const ErrorReporter previous = SetErrorReporter([&reported](const QString &t) { reported << t; });
        ReportError(text);
        SetErrorReporter(previous);
        QCOMPARE(reported, QStringList{shown});
    }

    void errorBox()
    {
        // Without a recorder the text goes to the real box: the application
        // title, an error icon, OK only; the program goes on once it is closed.
        SetApplicationTitle(QStringLiteral("Tolvane title"));
        InstallErrorBox();
        const ErrorReporter previous = SetErrorReporter({});
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        ModalAnswerer answers;
        answers.expect([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            box->button(QMessageBox::Ok)->click();
        });
        ReportError(QStringLiteral("Unable to write to /x/config.ini"));
        SetErrorReporter(previous);
        SetApplicationTitle(QString());
        QVERIFY(answers.allUsed());
        QCOMPARE(title, QStringLiteral("Tolvane title"));
        QCOMPARE(text, QStringLiteral("Unable to write to /x/config.ini."));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
};

QTEST_MAIN(TestCommon)
#include "support/moc_UrlRecorder.cpp"
#include "tst_commonservices.moc"
