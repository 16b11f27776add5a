#pragma once

#include "libm9s/EncoderContract.h"

#include <QString>
#include <QStringList>

class TFFMpeg;

// What starts the encoder for one file: the program, its arguments (each one
// element, so paths with blanks stay whole) and, for display and tests, the
// same command as one text with the program folder in front.
struct TEncoderCommand
{
    QString Program;
    QStringList Arguments;
    QString CommandLine;
};

// Values of the positions of the main window's lists. A position outside a
// list gives its default (128 kbit/s, 44100 Hz).
int BitrateOfIndex(int position);
int SampleRateOfIndex(int position);

// "wav" when WAV is chosen, "mp3" when MP3 is (MP3 wins, and is the default).
QString OutputExtOf(bool wavChecked, bool mp3Checked);

// An output format; what each one is comes from the table libm9s reads too.
using TOutputFormat = EncoderContract::Format;

// The output formats' names, as config.ini and the encoder's -f name them;
// "copy" writes the source's audio as it is. The order is the window's.
const QStringList &OutputFormats();
// The format of a name in any case and with blanks around; mp3 for any other text.
TOutputFormat FormatOfName(const QString &name);
QString FormatName(TOutputFormat format);
// format when it is one of OutputFormats (any case), else "mp3".
QString KnownOutputFormat(const QString &format);
// Which of the window's settings a format uses.
bool FormatUsesBitrate(const QString &format);
bool FormatUsesRateAndChannels(const QString &format);

// One conversion asked of the encoder: everything its command depends on,
// fixed when the file is taken.
struct TEncoderRequest
{
    QString Source; // full paths
    QString Target;
    TOutputFormat Format = EncoderContract::DefaultFormat;
    int Bitrate = 128; // kbit/s
    int SampleRate = 44100;
    int Channels = 2;
    int AudioTrack = -1;       // counted from 0 among the audio tracks; -1 leaves the choice to the encoder
    bool VerifyOutput = false; // the encoder checks what it wrote before it ends well
    QString Loudness{};        // [setting] loudness: "off", "-23", "-16", "-14" or "replaygain" (a copy only tags)
    int Threads = 0;           // threads the encoder may use; 0 leaves it to the encoder
    int Chapter = 0;           // counted from 1: that chapter alone; 0 for the whole source

    // Sets the options of this conversion on ffmpeg and leaves every other one as it is.
    void ApplyTo(TFFMpeg &ffmpeg) const;
};

// The threads each encoder of a run may use: the cores shared among the
// files that run at once, at least one. Only the files left count, so the
// last file of a run, or a run of one file, gets every core.
int EncoderThreads(int cores, int parallelFiles, int filesLeft);

// Fills ffmpeg from request and returns the command for the encoder in
// programFolder. A copy takes the audio as it is, with no format, rate, bit
// rate or channels. The encoder's existence is not checked: a missing one
// fails when it is started.
TEncoderCommand BuildEncoderCommand(TFFMpeg &ffmpeg, const QString &programFolder, const TEncoderRequest &request);
