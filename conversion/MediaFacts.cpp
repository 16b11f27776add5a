#include "conversion/MediaFacts.h"

#include <QString>

#include <cmath>

TMediaFacts MediaFactsOf(const QList<TAudioTrack> &tracks, const QList<TChapter> &chapters)
{
    TMediaFacts facts;
    facts.Known = true;
    facts.Tracks = tracks;
    facts.Chapters = chapters;
    const int taken = AutomaticTrack(tracks, QString());
    for (const TAudioTrack &track : tracks)
        if (track.Index == taken)
            facts.Duration = std::llround(track.Duration);
    return facts;
}
