#include "common/IniFile.h"
#include "common/TolvaneError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class TestIniFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString writeFile(const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("config.ini"));
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(content);
        return path;
    }

    QByteArray readFile(const QString &path)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

    // The bytes Windows' Notepad saves as "Unicode": mark FF FE, then UTF-16LE.
    static QByteArray utf16(const QString &text)
    {
        return QByteArray("\xff\xfe", 2) + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    }

private slots:
    void readString_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QByteArray plain = "[setting]\noutputFolder=/music\n";
        QTest::newRow("plain") << plain << "setting" << "outputFolder" << "/music";
        QTest::newRow("section case") << plain << "SETTING" << "outputFolder" << "/music";
        QTest::newRow("key case") << plain << "setting" << "OUTPUTFOLDER" << "/music";
        QTest::newRow("blanks around") << QByteArray("  [ setting ]  \n  outputFolder  =  /a b  \n") << "setting"
                                       << "outputFolder" << "/a b";
        QTest::newRow("double quotes") << QByteArray("[s]\nk=\"  quoted  \"\n") << "s" << "k" << "  quoted  ";
        QTest::newRow("single quotes") << QByteArray("[s]\nk='x'\n") << "s" << "k" << "x";
        QTest::newRow("unbalanced quote kept") << QByteArray("[s]\nk=\"x\n") << "s" << "k" << "\"x";
        QTest::newRow("mixed quotes kept") << QByteArray("[s]\nk=\"x'\n") << "s" << "k" << "\"x'";
        QTest::newRow("missing key") << plain << "setting" << "other" << "default";
        QTest::newRow("missing section") << plain << "skin" << "outputFolder" << "default";
        QTest::newRow("key of another section") << QByteArray("[a]\nk=1\n[b]\n") << "b" << "k" << "default";
        QTest::newRow("empty value is a value") << QByteArray("[s]\nk=\n") << "s" << "k" << "";
        QTest::newRow("CRLF lines") << QByteArray("[s]\r\nk=v\r\n") << "s" << "k" << "v";
        QTest::newRow("first of two sections") << QByteArray("[s]\nk=1\n[S]\nk=2\n") << "s" << "k" << "1";
        QTest::newRow("comment line") << QByteArray("[s]\n;k=1\nk=2\n") << "s" << "k" << "2";
        QTest::newRow("equals in value") << QByteArray("[s]\nk=a=b\n") << "s" << "k" << "a=b";
        QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbf[s]\nk=v\n") << "s" << "k" << "v";
        QTest::newRow("UTF-8 value") << QByteArray("[s]\nk=/home/z\xc3\xbc/\xe9\x9f\xb3\xe4\xb9\x90\n") << "s" << "k"
                                     << QString::fromUtf8("/home/z\xc3\xbc/\xe9\x9f\xb3\xe4\xb9\x90");
        QTest::newRow("UTF-16LE with its mark")
            << utf16(QStringLiteral("[s]\r\nk=/home/音乐\r\n")) << "s" << "k" << QStringLiteral("/home/音乐");
        QTest::newRow("UTF-16LE, second section") << utf16(QStringLiteral("[a]\r\nk=1\r\n[s]\r\nk=2\r\n")) << "s"
                                                  << "k" << "2";
        QTest::newRow("section without closing bracket") << QByteArray("[s\nk=v\n[t]\nk=w\n") << "s" << "k" << "v";
        QTest::newRow("unclosed section ends at the next") << QByteArray("[s\nk=v\n[t]\nk=w\n") << "t" << "k" << "w";
        QTest::newRow("CR-only lines") << QByteArray("[a]\rk=1\r[s]\rk=2\r") << "s" << "k" << "2";
        QTest::newRow("mixed line ends") << QByteArray("[a]\r\nk=1\n[s]\rk=2") << "s" << "k" << "2";
    }

    void readString()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const TIniFile ini(writeFile(content));
        QCOMPARE(ini.ReadString(section, key, QStringLiteral("default")), expected);
    }

    void missingFileGivesDefaults()
    {
        const TIniFile ini(m_dir.filePath(QStringLiteral("nowhere/none.ini")));
        QCOMPARE(ini.ReadString("setting", "outputFolder", "d"), QStringLiteral("d"));
        QCOMPARE(ini.ReadInteger("setting", "autoPowerOff", 30), 30);
    }

    void longValueIsCut()
    {
        const QString longValue(5000, QLatin1Char('x'));
        const TIniFile ini(writeFile("[s]\nk=" + longValue.toLatin1() + "\n"));
        QCOMPARE(ini.ReadString("s", "k", QString()).size(), TIniFile::MaxValueLength);
    }

    void readInteger_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("decimal") << "3" << 3;
        QTest::newRow("negative") << "-12" << -12;
        QTest::newRow("plus sign") << "+7" << 7;
        QTest::newRow("blanks") << "  42  " << 42;
        QTest::newRow("hex 0x") << "0x3" << 3;
        QTest::newRow("hex 0X") << "0X1F" << 31;
        QTest::newRow("hex dollar") << "$ff" << 255;
        QTest::newRow("quoted number") << "\"5\"" << 5;
        QTest::newRow("not a number") << "abc" << -1;
        QTest::newRow("trailing junk") << "12abc" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("bare 0x") << "0x" << -1;
        QTest::newRow("hex letters in decimal") << "1f" << -1;
        QTest::newRow("fraction") << "1.5" << -1;
        QTest::newRow("overflow") << "99999999999" << -1;
        QTest::newRow("int max") << "2147483647" << 2147483647;
    }

    void readInteger()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const TIniFile ini(writeFile("[s]\nk=" + text.toUtf8() + "\n"));
        QCOMPARE(ini.ReadInteger("s", "k", -1), expected);
    }

    void write_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("creates file") << QByteArray() << "setting" << "outputFolder"
                                      << QByteArray("[setting]\noutputFolder=V\n");
        QTest::newRow("replaces value, keeps the rest")
            << QByteArray("; my notes\n[common]\nlanguage=1\n\n[setting]\noutputFolder=old\nautoPowerOff=1\n")
            << "setting" << "outputFolder"
            << QByteArray("; my notes\n[common]\nlanguage=1\n\n[setting]\noutputFolder=V\nautoPowerOff=1\n");
        QTest::newRow("other capitals match") << QByteArray("[Setting]\nOUTPUTFOLDER=old\n") << "setting"
                                              << "outputFolder" << QByteArray("[Setting]\noutputFolder=V\n");
        QTest::newRow("adds key to its section")
            << QByteArray("[setting]\na=1\n\n[skin]\nskin=3\n") << "setting" << "outputFolder"
            << QByteArray("[setting]\na=1\noutputFolder=V\n\n[skin]\nskin=3\n");
        QTest::newRow("appends section") << QByteArray("[skin]\nskin=3\n") << "setting" << "outputFolder"
                                         << QByteArray("[skin]\nskin=3\n\n[setting]\noutputFolder=V\n");
        QTest::newRow("keeps CRLF") << QByteArray("[setting]\r\noutputFolder=old\r\n") << "setting"
                                    << "outputFolder" << QByteArray("[setting]\r\noutputFolder=V\r\n");
        QTest::newRow("no final newline") << QByteArray("[setting]\nx=1") << "setting" << "outputFolder"
                                          << QByteArray("[setting]\nx=1\noutputFolder=V\n");
        // Lines the write does not touch keep their bytes, even when they are no UTF-8.
        QTest::newRow("other lines byte for byte")
            << QByteArray("; caf\xe9\r\n[setting]\noutputFolder=/m\xfcsik\r\nx=1\n") << "setting" << "x"
            << QByteArray("; caf\xe9\r\n[setting]\noutputFolder=/m\xfcsik\r\nx=V\n");
        QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbf[setting]\noutputFolder=old\n") << "setting"
                                         << "outputFolder" << QByteArray("\xef\xbb\xbf[setting]\noutputFolder=V\n");
        // A UTF-16 file stays UTF-16, every line of it.
        QTest::newRow("UTF-16 value replaced")
            << utf16(QStringLiteral("; 设置\r\n[setting]\r\noutputFolder=old\r\n")) << "setting" << "outputFolder"
            << utf16(QStringLiteral("; 设置\r\n[setting]\r\noutputFolder=V\r\n"));
        QTest::newRow("UTF-16 section appended")
            << utf16(QStringLiteral("[skin]\r\nskin=3\r\n")) << "setting"
            << "outputFolder" << utf16(QStringLiteral("[skin]\r\nskin=3\r\n\r\n[setting]\r\noutputFolder=V\r\n"));
        QTest::newRow("section without closing bracket")
            << QByteArray("[setting\noutputFolder=old\n[skin]\nskin=3\n") << "setting" << "outputFolder"
            << QByteArray("[setting\noutputFolder=V\n[skin]\nskin=3\n");
        QTest::newRow("key added under unclosed section")
            << QByteArray("[setting\nx=1\n") << "setting" << "outputFolder"
            << QByteArray("[setting\nx=1\noutputFolder=V\n");
        QTest::newRow("keeps CR-only lines")
            << QByteArray("[setting]\routputFolder=old\r[skin]\rskin=3\r") << "setting"
            << "outputFolder" << QByteArray("[setting]\routputFolder=V\r[skin]\rskin=3\r");
        QTest::newRow("CR-only, section appended") << QByteArray("[skin]\rskin=3\r") << "setting" << "outputFolder"
                                                   << QByteArray("[skin]\rskin=3\r\r[setting]\routputFolder=V\r");
    }

    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QByteArray, after);
        QString path = m_dir.filePath(QStringLiteral("config.ini"));
        QFile::remove(path);
        if (!before.isEmpty())
            path = writeFile(before);
        TIniFile(path).WriteString(section, key, QStringLiteral("V"));
        QCOMPARE(readFile(path), after);
    }

    void writeThenRead()
    {
        const QString path = m_dir.filePath(QStringLiteral("roundtrip.ini"));
        const TIniFile ini(path);
        ini.WriteInteger("setting", "autoPowerOff_WaitTime", 45);
        ini.WriteString("setting", "outputFolder", QString::fromUtf8("/tmp/M\xc3\xbcsik & \"Co\""));
        QCOMPARE(ini.ReadInteger("setting", "autoPowerOff_WaitTime", 0), 45);
        QCOMPARE(ini.ReadString("setting", "outputFolder", QString()), QString::fromUtf8("/tmp/M\xc3\xbcsik & \"Co\""));
    }

    void valueReadsBackAsWritten_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << "/music" << QByteArray("k=/music");
        QTest::newRow("blank at the end") << "/music " << QByteArray("k=\"/music \"");
        QTest::newRow("blank at the start") << " /music" << QByteArray("k=\" /music\"");
        QTest::newRow("tab at the end") << "/music\t" << QByteArray("k=\"/music\t\"");
        QTest::newRow("in double quotes") << "\"x\"" << QByteArray("k=\"\"x\"\"");
        QTest::newRow("in single quotes") << "'x'" << QByteArray("k=\"'x'\"");
        QTest::newRow("one quote only") << "\"x" << QByteArray("k=\"x");
        QTest::newRow("quotes inside") << "a \"b\" c" << QByteArray("k=a \"b\" c");
        QTest::newRow("empty") << "" << QByteArray("k=");
    }

    void valueReadsBackAsWritten()
    {
        QFETCH(QString, value);
        QFETCH(QByteArray, line);
        QTemporaryDir dir;
        const TIniFile ini(dir.filePath(QStringLiteral("config.ini")));
        ini.WriteString("s", "k", value);
        QCOMPARE(ini.ReadString("s", "k", QStringLiteral("default")), value);
        QCOMPARE(readFile(ini.FileName()), "[s]\n" + line + "\n");
    }

    void writeKeepsPermissions()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        const TIniFile ini(path);
        ini.WriteInteger("skin", "skin", 1);
        const auto permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
        QVERIFY(QFile::setPermissions(path, permissions));
        ini.WriteInteger("skin", "skin", 2);
        QCOMPARE(QFile::permissions(path) & 0x7077, permissions);
    }

    void writeThroughSymbolicLink_data()
    {
        QTest::addColumn<bool>("targetExists");
        QTest::newRow("to a file") << true;
        QTest::newRow("to a file not made yet") << false;
    }

    void writeThroughSymbolicLink()
    {
        // A config.ini that links to a file kept elsewhere stays a link.
        QFETCH(bool, targetExists);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("kept/tolvane.ini"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("kept")));
        if (targetExists)
            QVERIFY(QFile(target).open(QIODevice::WriteOnly));
        const QString link = dir.filePath(QStringLiteral("config.ini"));
        QVERIFY(QFile::link(QStringLiteral("kept/tolvane.ini"), link));
        TIniFile(link).WriteInteger("skin", "skin", 3);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readFile(target), QByteArray("[skin]\nskin=3\n"));
    }

    void writeLeavesNoTemporaryFiles()
    {
        QTemporaryDir dir;
        const TIniFile ini(dir.filePath(QStringLiteral("config.ini")));
        for (int i = 0; i < 5; ++i)
            ini.WriteInteger("skin", "skin", i);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("config.ini")});
    }

    // A write that cannot reach the file raises once; the settings then live
    // on in memory, where later writes go without a word.
    void failedWrite_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("raises");
        QTest::addColumn<bool>("inMemory");
        QTest::newRow("read-only file") << "readonly" << false << true << true;
        QTest::newRow("missing folder") << "missingfolder" << false << true << true;
        QTest::newRow("path is a folder") << "folder" << false << true << true;
        QTest::newRow("unreadable file") << "unreadable" << true << true << true;
        QTest::newRow("line break in the value") << "linebreak" << true << true << false;
        QTest::newRow("kept in memory from the start") << "memory" << false << false << true;
    }

    void failedWrite()
    {
        QFETCH(QString, kind);
        QFETCH(bool, writable);
        QFETCH(bool, raises);
        QFETCH(bool, inMemory);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("config.ini"));
        QByteArray original = "[setting]\noutputFolder=old\n";
        QString value = QStringLiteral("new");
        const bool keepsFile = kind == QLatin1String("readonly") || kind == QLatin1String("linebreak")
                               || kind == QLatin1String("unreadable") || kind == QLatin1String("memory");
        if (keepsFile) {
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write(original);
        }
        if (kind == QLatin1String("readonly")) {
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        } else if (kind == QLatin1String("unreadable")) {
            QFile::setPermissions(path, QFileDevice::WriteOwner);
            if (QFile(path).open(QIODevice::ReadOnly))
                QSKIP("the file can be read all the same (running as root)");
        } else if (kind == QLatin1String("linebreak")) {
            value = QStringLiteral("/music\n[common]\nlanguage=3");
        } else if (kind == QLatin1String("missingfolder")) {
            path = dir.filePath(QStringLiteral("gone/config.ini"));
        } else if (kind == QLatin1String("memory")) {
            TIniFile(path).KeepInMemory();
        } else {
            QDir(dir.path()).mkdir(QStringLiteral("config.ini"));
        }
        const TIniFile ini(path);
        QCOMPARE(ini.IsWritable(), writable);
        QString error;
        try {
            ini.WriteString("setting", "outputFolder", value);
        } catch (const TolvaneError &e) {
            error = e.text();
        }
        QCOMPARE(error, raises ? QStringLiteral("Unable to write to %1").arg(path) : QString());
        QCOMPARE(ini.IsKeptInMemory(), inMemory);
        if (inMemory) {
            ini.WriteInteger("skin", "skin", 4);
            QCOMPARE(ini.ReadString("setting", "outputFolder", QString()), value);
            QCOMPARE(TIniFile(path).ReadInteger("skin", "skin", 0), 4);
            QVERIFY(!ini.IsWritable());
        }
        if (keepsFile) {
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QCOMPARE(readFile(path), original);
        }
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
