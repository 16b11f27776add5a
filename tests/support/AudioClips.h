#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTest>

// Test clips made by ffmpeg at test time, and what ffprobe says of an output.

// The tools that make and check the test clips.
inline bool haveFfmpegTools()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty()
           && !QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty();
}

// Runs a tool to its end; true when it ended well. Its standard output goes to output.
inline bool runTool(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(QStandardPaths::findExecutable(program), arguments);
    if (!process.waitForFinished(120000))
        return false;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Makes a clip with ffmpeg: options describe the inputs and codecs.
inline void makeClip(const QString &path, const QStringList &options)
{
    QVERIFY2(runTool(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + options + QStringList{path}),
             qPrintable(path));
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

inline AudioInfo probe(const QString &path)
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
