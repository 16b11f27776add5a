#include "common/LanguageFile.h"
#include "common/MoCatalogue.h"
#include "support/ProgramFolder.h"

#include <QTest>
#include <QtEndian>

// Reading the language files: which bytes are taken as UTF-8 and which as the
// language's Windows code page, and the INI rules the lookups follow.
// A gettext catalogue of pairs (original, translation), the header entry
// first, in either byte order.
QByteArray MoFile(const QList<std::pair<QByteArray, QByteArray>> &pairs, bool bigEndian = false)
{
    QList<std::pair<QByteArray, QByteArray>> entries{{"", "Content-Type: text/plain; charset=UTF-8\n"}};
    entries += pairs;
    const auto word = [bigEndian](quint32 value) {
        QByteArray bytes(4, '\0');
        if (bigEndian)
            qToBigEndian(value, bytes.data());
        else
            qToLittleEndian(value, bytes.data());
        return bytes;
    };
    const quint32 count = quint32(entries.size());
    const quint32 originals = 28;
    const quint32 translations = originals + count * 8;
    QByteArray strings;
    QByteArray originalTable, translationTable;
    quint32 offset = translations + count * 8;
    for (const auto &[original, translation] : entries) {
        originalTable += word(quint32(original.size())) + word(offset + quint32(strings.size()));
        strings += original + '\0';
        translationTable += word(quint32(translation.size())) + word(offset + quint32(strings.size()));
        strings += translation + '\0';
    }
    return word(0x950412de) + word(0) + word(count) + word(originals) + word(translations) + word(0) + word(0)
           + originalTable + translationTable + strings;
}

class TestLanguageFile : public QObject
{
    Q_OBJECT

private slots:
    void decoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("legacy");
        QTest::addColumn<QString>("text");

        const QByteArray bom = QByteArray::fromHex("efbbbf");
        QTest::newRow("ascii") << QByteArray("[App]\nTitle=Tolvane") << QByteArray("GBK")
                               << QStringLiteral("[App]\nTitle=Tolvane");
        QTest::newRow("utf-8 chinese, not taken as gbk")
            << QStringLiteral("视频文件").toUtf8() << QByteArray("GBK") << QStringLiteral("视频文件");
        QTest::newRow("utf-8 with byte-order mark") << bom + QStringLiteral("[App]\nTitle=動画").toUtf8()
                                                    << QByteArray("Shift_JIS") << QStringLiteral("[App]\nTitle=動画");
        QTest::newRow("gbk") << QByteArray::fromHex("cec4bcfec1d0b1ed80") << QByteArray("GBK")
                             << QStringLiteral("文件列表€");
        // Windows' Shift-JIS: the full-width tilde and the circled digits of Japanese Windows.
        QTest::newRow("shift-jis") << QByteArray::fromHex("837483408343838b81608740") << QByteArray("Shift_JIS")
                                   << QStringLiteral("ファイル～①");
        QTest::newRow("windows-1252") << QByteArray::fromHex("436166e9209620934f4b9480") << QByteArray("windows-1252")
                                      << QStringLiteral("Café – “OK”€");
        QTest::newRow("one bad byte makes the whole file legacy")
            << QStringLiteral("Größe ").toUtf8() + QByteArray::fromHex("e9") << QByteArray("windows-1252")
            << QStringLiteral("GrÃ¶ÃŸe é");
        const QString unicode = QStringLiteral("[App]\r\nTitle=音声抽出");
        QTest::newRow("utf-16le with byte-order mark, as Notepad saves it")
            << QByteArray("\xff\xfe", 2)
                   + QByteArray(reinterpret_cast<const char *>(unicode.utf16()), unicode.size() * 2)
            << QByteArray("Shift_JIS") << unicode;
        QTest::newRow("empty") << QByteArray() << QByteArray("GBK") << QString();
    }

    void decoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, legacy);
        QFETCH(QString, text);
        QCOMPARE(DecodeLanguageText(bytes, legacy), text);
    }

    void codePageAndQtTranslationByFileName_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QString>("qtTranslation");
        QTest::newRow("gb") << "/opt/tolvane/language/gb.ini" << QByteArray("GBK") << "qtbase_zh_CN";
        QTest::newRow("GB.INI") << "/opt/tolvane/language/GB.INI" << QByteArray("GBK") << "qtbase_zh_CN";
        QTest::newRow("jp") << "/opt/tolvane/language/jp.ini" << QByteArray("Shift_JIS") << "qtbase_ja";
        QTest::newRow("en") << "/opt/tolvane/language/en.ini" << QByteArray("windows-1252") << "";
        QTest::newRow("folder named gb.ini") << "/tmp/gb.ini/en.ini" << QByteArray("windows-1252") << "";
    }

    void codePageAndQtTranslationByFileName()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, encoding);
        QFETCH(QString, qtTranslation);
        QCOMPARE(LegacyEncodingOf(file), encoding);
        QCOMPARE(QtTranslationOf(file), qtTranslation);
    }

    void lookups_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("exact") << "frmMain" << "caption" << "Tolvane";
        QTest::newRow("section in other capitals") << "FRMMAIN" << "caption" << "Tolvane";
        QTest::newRow("key in other capitals") << "frmSetting" << "buttonok" << "OK";
        QTest::newRow("same key in another section") << "frmDirectory" << "ButtonOK" << "&OK";
        QTest::newRow("quotes keep inner blanks") << "frmPowerOffWindows" << "buttonYes" << "Yes ";
        QTest::newRow("equals sign inside the value") << "frmMain" << "msgStatusRun" << "a=b %s";
        QTest::newRow("empty value") << "frmMain" << "N_Product5" << "";
        QTest::newRow("missing key") << "frmMain" << "N_Product6" << "";
        QTest::newRow("missing section") << "frmNone" << "caption" << "";
        QTest::newRow("comment is no key") << "frmMain" << ";hidden" << "";
        QTest::newRow("first section after a byte-order mark") << "App" << "Title" << "Tolvane Audio";
    }

    void lookups()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        TestProgramFolder folder;
        folder.write("language/en.ini", QByteArray::fromHex("efbbbf")
                                            + "[App]\r\nTitle=Tolvane Audio\r\n\r\n"
                                              "[frmMain]\r\ncaption = Tolvane \r\n;hidden=x\r\nmsgStatusRun=a=b %s\r\n"
                                              "N_Product5=\r\n"
                                              "[frmSetting]\r\nButtonOK=OK\r\n"
                                              "[frmDirectory]\r\nbuttonOK=&OK\r\n"
                                              "[frmPowerOffWindows]\r\nbuttonYes=\"Yes \"\r\n");
        const TLanguageFile file(folder.file("language/en.ini"));
        QCOMPARE(file.ReadString(section, key), value);
    }

    void legacyFileOnDisk()
    {
        TestProgramFolder folder;
        folder.write("language/jp.ini", "[frmMain]\r\ncaption=" + QByteArray::fromHex("8f8094f58aae97b9") + "\r\n");
        QCOMPARE(TLanguageFile(folder.file("language/jp.ini")).ReadString("frmMain", "caption"),
                 QStringLiteral("準備完了"));
    }

    void unreadableFileReadsAsEmpty_data()
    {
        QTest::addColumn<bool>("asFolder");
        QTest::newRow("missing") << false;
        QTest::newRow("folder of that name") << true;
    }

    void unreadableFileReadsAsEmpty()
    {
        QFETCH(bool, asFolder);
        TestProgramFolder folder;
        if (asFolder)
            QVERIFY(QDir(folder.path()).mkpath("language/en.ini"));
        const TLanguageFile file(folder.file("language/en.ini"));
        QCOMPARE(file.ReadString("App", "Title"), QString());
        QCOMPARE(file.ReadString("App", "Title", "fallback"), QStringLiteral("fallback"));
    }

    // Translations of other packages' names come from their gettext catalogues.
    void moCatalogue_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("original");
        QTest::addColumn<QString>("translation");
        QTest::addColumn<int>("count");
        const QList<std::pair<QByteArray, QByteArray>> pairs{
            {"French", "\xe6\xb3\x95\xe8\xaf\xad"},
            {QByteArray("file\0files", 10), QByteArray("Datei\0Dateien", 13)},
            {"Zulu", ""}};
        const QByteArray little = MoFile(pairs);
        QTest::newRow("little-endian") << little << "French" << QStringLiteral("法语") << 2;
        QTest::newRow("big-endian") << MoFile(pairs, true) << "French" << QStringLiteral("法语") << 2;
        QTest::newRow("plural: the first forms") << little << "file" << "Datei" << 2;
        QTest::newRow("untranslated entry") << little << "Zulu" << "" << 2;
        QTest::newRow("cut short: what came before stays")
            << little.left(little.size() - 12) << "French" << QStringLiteral("法语") << 1;
        QTest::newRow("not a catalogue") << QByteArray("[frmMain]\r\ncaption=x\r\n") << "French" << "" << 0;
        QTest::newRow("missing") << QByteArray() << "French" << "" << 0;
    }

    void moCatalogue()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, original);
        QFETCH(QString, translation);
        QFETCH(int, count);
        TestProgramFolder folder;
        if (!bytes.isEmpty())
            folder.write("names.mo", bytes);
        const TMoCatalogue catalogue(folder.file("names.mo"));
        QCOMPARE(catalogue.Translate(original), translation);
        QCOMPARE(catalogue.Count(), count);
    }
};

QTEST_GUILESS_MAIN(TestLanguageFile)
#include "tst_languagefile.moc"
