#pragma once

#include "conversion/AudioTracks.h"

#include <QList>
#include <QtGlobal>

// What a probe of a source found; asked once per path. The queue keeps it
// for each row, the probe learns it and the run reads it: none of them needs
// another to know it.
struct TMediaFacts
{
    bool Known = false;    // the probe has answered (a file it cannot read is known too)
    bool Readable = false; // the encoder could read the file as video or sound
    qint64 Duration = 0;   // seconds of the track the encoder takes; 0 when not told
    QList<TAudioTrack> Tracks;
    QList<TChapter> Chapters;
};

// The facts a probe's listing gives: its tracks, the length of the one the
// encoder takes on its own, and the chapters.
TMediaFacts MediaFactsOf(const QList<TAudioTrack> &tracks, const QList<TChapter> &chapters = {});
