#include "app/Application.h"
#include "app/MainWindow.h"
#include "common/IniFile.h"
#include "gui/CommonServices.h"
#include "gui/Skins.h"
#include "support/ProgramFixture.h"

#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

namespace {
const QStringList SkinNames{"Calmness",  "DiamondBlue", "DiamondGreen", "GlassGreen", "Longhorn",    "MacOS",
                            "MP10",      "MSN",         "OneBlue",      "Silver",     "SportsBlack", "SportsBlue",
                            "Midsummer", "Emerald",     "Warm",         "XPBlue",     "XPGreen",     "XPSilver"};

// A stand-in skin that says which file it came from.
QByteArray FakeSkin(const QString &name) { return "/* " + name.toUtf8() + " */ QWidget { }"; }
}

// Skin selection: which file an index stands for, what start-up and the Skin
// menu apply and store, and what a missing or unreadable file does.
class TestSkins : public QObject
{
    Q_OBJECT

private:
    ProgramFixture m_program;

    // A program folder with stand-in skins and config; output folder as in the
    // form, so that only the skin could make the start write.
    void prepare(const QByteArray &skinLines = QByteArray(), bool withSkins = true)
    {
        if (withSkins)
            for (const QString &name : SkinNames)
                folder().write("skins/" + name + ".ssk", FakeSkin(name));
        folder().writeConfig("[setting]\noutputFolder=C:\\\n" + skinLines);
    }

    void start() { m_program.start(); }
    TestProgramFolder &folder() { return m_program.folder(); }

    // Chooses skin item n as a click does: through the event loop, where the
    // application's handler catches what the handler raises.
    void chooseSkin(int n)
    {
        QAction *item = frmMain->findChild<QAction *>(QStringLiteral("N_Skin%1").arg(n));
        QVERIFY(item);
        QMetaObject::invokeMethod(item, &QAction::trigger, Qt::QueuedConnection);
        QCoreApplication::processEvents();
    }

    QString storedSkin() { return TIniFile(folder().configFile()).ReadString("skin", "skin", "<none>"); }

private slots:
    void cleanup()
    {
        m_program.stop();
        qApp->setStyleSheet(QString());
    }

    void fileOfIndex_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("file");
        for (int i = 1; i <= 18; ++i)
            QTest::addRow("%d", i) << i << SkinNames[i - 1] + ".ssk";
        QTest::newRow("0") << 0 << "Silver.ssk";
        QTest::newRow("19") << 19 << "Silver.ssk";
        QTest::newRow("-1") << -1 << "Silver.ssk";
        QTest::newRow("largest") << INT_MAX << "Silver.ssk";
    }

    void fileOfIndex()
    {
        QFETCH(int, index);
        QFETCH(QString, file);
        QCOMPARE(SkinFileName(index), file);
    }

    void startUpAppliesStoredSkinAndWritesNothing_data()
    {
        QTest::addColumn<QByteArray>("skinLines");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no key") << QByteArray() << "Silver";
        QTest::newRow("5") << QByteArray("[skin]\nskin=5\n") << "Longhorn";
        QTest::newRow("other capitals, hexadecimal") << QByteArray("[SKIN]\nSkin=0x0C\n") << "SportsBlue";
        QTest::newRow("0") << QByteArray("[skin]\nskin=0\n") << "Silver";
        QTest::newRow("19") << QByteArray("[skin]\nskin=19\n") << "Silver";
        QTest::newRow("not a number") << QByteArray("[skin]\nskin=blue\n") << "Silver";
    }

    void startUpAppliesStoredSkinAndWritesNothing()
    {
        QFETCH(QByteArray, skinLines);
        QFETCH(QString, shown);
        prepare(skinLines);
        const QByteArray config = folder().read("config.ini");
        start();
        QCOMPARE(qApp->styleSheet().toUtf8(), FakeSkin(shown));
        QCOMPARE(folder().read("config.ini"), config);
        QVERIFY(m_program.errors.isEmpty());
    }

    void menuChoiceAppliesAndStores_data()
    {
        QTest::addColumn<QByteArray>("skinLines");
        QTest::addColumn<int>("choice");
        QTest::newRow("first") << QByteArray() << 1;
        QTest::newRow("last") << QByteArray() << 18;
        QTest::newRow("over an index out of range") << QByteArray("[skin]\nskin=42\n") << 7;
        QTest::newRow("the skin in use again") << QByteArray("[skin]\nskin=0x3\n") << 3;
    }

    void menuChoiceAppliesAndStores()
    {
        QFETCH(QByteArray, skinLines);
        QFETCH(int, choice);
        prepare(skinLines);
        start();
        // A changed file shows that choosing reloads it, even when it is already in use.
        const QString name = SkinNames[choice - 1];
        folder().write("skins/" + name + ".ssk", FakeSkin(name + " again"));
        chooseSkin(choice);
        QCOMPARE(qApp->styleSheet().toUtf8(), FakeSkin(name + " again"));
        QCOMPARE(storedSkin(), QString::number(choice));
        QVERIFY(m_program.errors.isEmpty());
    }

    void missingFileKeepsTheLookAndStillStores_data()
    {
        QTest::addColumn<bool>("skinsFolder");
        QTest::newRow("no skins folder") << false;
        QTest::newRow("file missing") << true;
    }

    void missingFileKeepsTheLookAndStillStores()
    {
        QFETCH(bool, skinsFolder);
        prepare(QByteArray(), skinsFolder);
        start();
        qApp->setStyleSheet(QStringLiteral("/* in use */"));
        if (skinsFolder)
            QVERIFY(QFile::remove(folder().file("skins/MSN.ssk")));
        chooseSkin(8);
        QCOMPARE(qApp->styleSheet(), QStringLiteral("/* in use */"));
        QCOMPARE(storedSkin(), QStringLiteral("8"));
        QVERIFY(m_program.errors.isEmpty());
    }

    void unreadableFileFromTheMenuIsReportedAndNotStored()
    {
        prepare("[skin]\nskin=2\n");
        start();
        QVERIFY(QFile::remove(folder().file("skins/Warm.ssk")));
        QVERIFY(QDir(folder().path()).mkpath("skins/Warm.ssk")); // exists, but cannot be read, even by root
        const QByteArray config = folder().read("config.ini");
        chooseSkin(15);
        QCOMPARE(m_program.errors.size(), 1);
        QVERIFY2(m_program.errors[0].startsWith(
                     QStringLiteral("Cannot open file \"%1\".").arg(folder().file("skins/Warm.ssk"))),
                 qPrintable(m_program.errors[0]));
        // The skin in use is forgotten, the choice not stored.
        QCOMPARE(qApp->styleSheet(), QString());
        QCOMPARE(folder().read("config.ini"), config);
    }

    void unreadableFileAtStartUpSkipsTheRestOfTheShow()
    {
        prepare("[skin]\nskin=4\n");
        QVERIFY(QFile::remove(folder().file("skins/GlassGreen.ssk")));
        QVERIFY(QDir(folder().path()).mkpath("skins/GlassGreen.ssk"));
        folder().writeConfig("[skin]\nskin=4\n"); // no output folder: a finished show would store one
        folder().write("language/en.ini", "[frmMain]\ncaption=Loaded\n");
        start();
        QCOMPARE(m_program.errors.size(), 1);
        QVERIFY(m_program.errors[0].startsWith(QStringLiteral("Cannot open file")));
        // The language came first; the output folder never got loaded.
        QCOMPARE(frmMain->windowTitle(), QStringLiteral("Loaded"));
        QCOMPARE(frmMain->findChild<QLineEdit *>("editOutputFolder")->text(), QStringLiteral("C:\\"));
        QCOMPARE(folder().read("config.ini"), QByteArray("[skin]\nskin=4\n"));
    }

    void failedWriteKeepsTheAppliedSkin()
    {
        prepare();
        start();
        QVERIFY(QFile::remove(folder().configFile()));
        QVERIFY(QDir(folder().path()).mkdir("config.ini")); // cannot be written as a file
        chooseSkin(6);
        QCOMPARE(qApp->styleSheet().toUtf8(), FakeSkin("MacOS"));
        QCOMPARE(m_program.errors, QStringList{QStringLiteral("Unable to write to %1.").arg(folder().configFile())});
    }

    // Every shipped skin is a style sheet Qt can read, applied to every window.
    void shippedSkinsParse_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 1; i <= 18; ++i)
            QTest::addRow("%s", qPrintable(SkinNames[i - 1])) << i;
    }

    void shippedSkinsParse()
    {
        QFETCH(int, index);
        QTest::failOnWarning(QRegularExpression(QStringLiteral("[Ss]tyle ?[Ss]heet")));
        folder().installData();
        folder().writeConfig("[skin]\nskin=" + QByteArray::number(index) + "\n[setting]\noutputFolder=C:\\\n");
        QVERIFY(QFileInfo(folder().file("skins/" + SkinFileName(index))).isFile());
        start();
        QVERIFY(qApp->styleSheet().size() > 1000);
        // Polishing each dialog parses the rules that apply to it.
        for (QDialog *dialog : frmMain->findChildren<QDialog *>(Qt::FindDirectChildrenOnly)) {
            dialog->show();
            QCoreApplication::processEvents();
            dialog->hide();
        }
        QVERIFY(m_program.errors.isEmpty());
    }
};

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TestSkins test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_skins.moc"
