#pragma once

#include "conversion/MediaFacts.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class TMediaProbe;

// How a queued file fares in the run, kept as a value: the window turns it
// into the language's word, nothing reads the word back.
// Incomplete: all the source held was converted, and it ends well before
// the length it declares.
// Checking: a file outside the known types, kept only if its probe finds sound.
enum class TItemState : quint8 { Idle, Waiting, Converting, Done, Failed, Stopped, Skipped, Incomplete, Checking };

// One file of the queue. Id stays with the file when rows move or go.
struct TQueueItem
{
    quint64 Id = 0;
    QString Source;
    QString Shown;       // the path as the user knows it, when Source is a stand-in for it; else empty
    int AudioTrack = -1; // chosen by the user; -1: Automatic
    QString AudioTrackCaption;
    TItemState State = TItemState::Idle;
    int Percent = -1;    // of a file being converted; -1 while no share can be told
    int Chapter = 0;     // of a file converted one chapter per output: the chapter being converted, from 1
    int Chapters = 0;    // ... of this many
    QString Reason;      // why a file failed, stopped short or is incomplete, in the user's words
    QStringList Outputs; // what the run wrote for it
    TMediaFacts Facts;
    QString Root; // the folder the user added that this file was found in; empty for a file added by itself
};

// The files to convert, in order. Every change is announced before and after
// it is made, as a view's model needs; a source's facts are asked of the
// probe when it comes in and whenever its path changes.
class TFileQueue : public QObject
{
    Q_OBJECT
public:
    explicit TFileQueue(QObject *parent = nullptr);

    // The probe that learns each source's facts; none leaves them unknown.
    void SetProbe(TMediaProbe *probe);

    int Count() const { return int(m_items.size()); }
    const TQueueItem &At(int row) const { return m_items.at(row); }
    // The row of the item with id; -1 once it is gone.
    int RowOf(quint64 id) const;

    // A file taken as Checking leaves again, with NoSound, when its probe finds no audio track.
    void Append(const QString &source, const QString &shown = QString(), TItemState state = TItemState::Idle);
    // True when source names a file of the queue, however it was written.
    bool Holds(const QString &source) const { return m_keys.value(KeyOf(source)) > 0; }
    // Rows out of range are passed over.
    void Remove(QList<int> rows);
    void Clear();
    // Swaps the rows from and to.
    void Swap(int from, int to);
    // A new path is a new file: its chosen track and outputs go and its facts
    // are asked again; a row in Checking whose facts are known already is
    // settled at once.
    void SetSource(int row, const QString &source);
    void SetAudioTrack(int row, int track, const QString &caption);
    // The output of a file found in root may keep its place below root.
    void SetRoot(int row, const QString &root);
    // Any state but Converting ends the chapters of a file converted in chapters.
    void SetState(int row, TItemState state, int percent = -1, const QString &reason = QString());
    // A file converted one chapter per output works on chapter of chapters now.
    void SetChapter(int row, int chapter, int chapters);
    void AddOutput(int row, const QString &path);
    // A new run of the file forgets what the last one wrote.
    void ClearOutputs(int row);
    // Every row in state from goes to state to.
    void ReplaceStates(TItemState from, TItemState to);
    // What a probe found of source goes to every row of that path still waiting for it.
    void TakeFacts(const QString &source, const TMediaFacts &facts);

signals:
    void AboutToInsert(int first, int last);
    void Inserted();
    void AboutToRemove(int first, int last);
    void Removed();
    void AboutToSwap(int from, int to);
    void Swapped();
    void AboutToClear();
    void Cleared();
    void Changed(int row);
    // A file taken as Checking turned out to have no sound (or to be no video
    // or sound file at all: not readable); it is taken out next.
    void NoSound(quint64 id, const QString &shown, bool readable);

private:
    void AskFacts(TQueueItem &item);
    // A Checking row whose facts are known stays (Idle) or goes.
    void SettleCheck(int row);
    static QByteArray KeyOf(const QString &source);
    void Tally(const QString &source, int change);

    QList<TQueueItem> m_items;
    quint64 m_nextId = 1;
    TMediaProbe *m_probe = nullptr;
    QHash<QByteArray, int> m_keys; // how many rows hold each file
};
