#pragma once

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

// The output formats, as config.ini and the encoder's -f name them; "copy"
// writes the source's audio as it is. The order is the window's.
const QStringList &OutputFormats();
// format when it is one of OutputFormats (any case), else "mp3".
QString KnownOutputFormat(const QString &format);
// Which of the window's settings a format uses.
bool FormatUsesBitrate(const QString &format);
bool FormatUsesRateAndChannels(const QString &format);

// Fills ffmpeg with the options for converting source into target (full
// paths) and returns the command for the encoder in programFolder. extension
// is the format ("copy" takes the audio as it is, with no rate, bit rate or
// channels); audioTrack >= 0 asks for that audio track (-map 0:a:N);
// verifyOutput has the encoder check what it wrote before it ends well;
// loudness is the [setting] loudness choice (a copy only takes "replaygain",
// its audio cannot change). Only the
// options of a conversion are set; every other one is left as it is. The
// encoder's existence is not checked: a missing one fails when it is started.
TEncoderCommand BuildEncoderCommand(TFFMpeg &ffmpeg, const QString &programFolder, const QString &source,
                                    const QString &target, const QString &extension, int bitrate, int sampleRate,
                                    int channels, int audioTrack = -1, bool verifyOutput = false,
                                    const QString &loudness = QString());
