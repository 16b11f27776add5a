#include "conversion/FileQueue.h"

#include "conversion/MediaProbe.h"
#include "conversion/SourcePaths.h"

#include <QFile>

#include <algorithm>

TFileQueue::TFileQueue(QObject *parent) : QObject(parent) {}

void TFileQueue::SetProbe(TMediaProbe *probe)
{
    if (m_probe)
        disconnect(m_probe, nullptr, this, nullptr);
    m_probe = probe;
    if (m_probe)
        connect(m_probe, &TMediaProbe::Probed, this, &TFileQueue::TakeFacts);
}

int TFileQueue::RowOf(quint64 id) const
{
    for (int row = 0; row < Count(); ++row)
        if (m_items[row].Id == id)
            return row;
    return -1;
}

QByteArray TFileQueue::KeyOf(const QString &source) { return SameFileKey(QFile::encodeName(source)); }

void TFileQueue::Tally(const QString &source, int change)
{
    int &rows = m_keys[KeyOf(source)];
    rows += change;
    if (rows <= 0)
        m_keys.remove(KeyOf(source));
}

void TFileQueue::Append(const QString &source, const QString &shown, TItemState state)
{
    const int row = Count();
    emit AboutToInsert(row, row);
    TQueueItem item;
    item.Id = m_nextId++;
    item.Source = source;
    item.Shown = shown;
    item.State = state;
    m_items.append(item);
    Tally(source, 1);
    emit Inserted();
    AskFacts(m_items.last());
    if (m_items.last().Facts.Known)
        SettleCheck(row);
    else if (state == TItemState::Checking && m_probe)
        m_probe->Hurry(source); // the user waits to see whether it stays
}

void TFileQueue::SetRoot(int row, const QString &root)
{
    if (row >= 0 && row < Count())
        m_items[row].Root = root;
}

void TFileQueue::Remove(QList<int> rows)
{
    // From the bottom up, so the rows still to go keep their numbers.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows) {
        if (row < 0 || row >= Count())
            continue;
        emit AboutToRemove(row, row);
        Tally(m_items[row].Source, -1);
        m_items.removeAt(row);
        emit Removed();
    }
}

void TFileQueue::Clear()
{
    emit AboutToClear();
    m_items.clear();
    m_keys.clear();
    emit Cleared();
}

void TFileQueue::Swap(int from, int to)
{
    if (from == to || from < 0 || to < 0 || from >= Count() || to >= Count())
        return;
    emit AboutToSwap(from, to);
    m_items.swapItemsAt(from, to);
    emit Swapped();
}

void TFileQueue::SetSource(int row, const QString &source)
{
    TQueueItem &item = m_items[row];
    if (item.Source == source)
        return;
    Tally(item.Source, -1);
    Tally(source, 1);
    item.Source = source;
    item.Shown.clear();
    item.AudioTrack = -1;
    item.AudioTrackCaption.clear();
    item.Facts = TMediaFacts{};
    item.Outputs.clear();
    AskFacts(item);
    emit Changed(row);
    if (item.Facts.Known)
        SettleCheck(row);
}

void TFileQueue::SetAudioTrack(int row, int track, const QString &caption)
{
    TQueueItem &item = m_items[row];
    item.AudioTrack = std::max(track, -1);
    item.AudioTrackCaption = track >= 0 ? caption : QString();
    emit Changed(row);
}

void TFileQueue::SetState(int row, TItemState state, int percent, const QString &reason)
{
    if (row < 0 || row >= Count())
        return;
    TQueueItem &item = m_items[row];
    const bool chapters = item.Chapters > 0 && state != TItemState::Converting;
    if (item.State == state && item.Percent == percent && item.Reason == reason && !chapters)
        return;
    item.State = state;
    item.Percent = percent;
    item.Reason = reason;
    if (chapters)
        item.Chapter = item.Chapters = 0;
    emit Changed(row);
}

void TFileQueue::SetChapter(int row, int chapter, int chapters)
{
    if (row < 0 || row >= Count())
        return;
    TQueueItem &item = m_items[row];
    if (item.Chapter == chapter && item.Chapters == chapters)
        return;
    item.Chapter = chapter;
    item.Chapters = chapters;
    emit Changed(row);
}

void TFileQueue::AddOutput(int row, const QString &path)
{
    if (row >= 0 && row < Count()) {
        m_items[row].Outputs.append(path);
        emit Changed(row);
    }
}

void TFileQueue::ClearOutputs(int row)
{
    if (row >= 0 && row < Count() && !m_items[row].Outputs.isEmpty()) {
        m_items[row].Outputs.clear();
        emit Changed(row);
    }
}

void TFileQueue::ReplaceStates(TItemState from, TItemState to)
{
    for (int row = 0; row < Count(); ++row)
        if (m_items[row].State == from)
            SetState(row, to);
}

void TFileQueue::AskFacts(TQueueItem &item)
{
    if (!m_probe)
        return;
    item.Facts = m_probe->Facts(item.Source);
    if (!item.Facts.Known)
        m_probe->Request(item.Source);
}

void TFileQueue::TakeFacts(const QString &source, const TMediaFacts &facts)
{
    // From the bottom up: a row without sound may leave.
    for (int row = Count() - 1; row >= 0; --row)
        if (m_items[row].Source == source && !m_items[row].Facts.Known) {
            m_items[row].Facts = facts;
            emit Changed(row);
            SettleCheck(row);
        }
}

void TFileQueue::SettleCheck(int row)
{
    const TQueueItem &item = m_items[row];
    if (item.State != TItemState::Checking)
        return;
    if (!item.Facts.Tracks.isEmpty())
        return SetState(row, TItemState::Idle);
    emit NoSound(item.Id, item.Shown.isEmpty() ? item.Source : item.Shown, item.Facts.Readable);
    Remove({row});
}
