#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <functional>

class TFileQueue;
struct TQueueItem;

// The words the queue's view shows, from the language file.
struct TQueueTexts
{
    QString FileHeader;
    QString LengthHeader;
    QString StateHeader;
    QString Waiting;
    QString Converting; // a file whose length the encoder cannot tell
    QString Done;
    QString Skipped;
    QString Failed;
    QString Stopped;
    QString Incomplete; // the source ends before its declared length
    QString TrackTitle; // the audio-track menu's title, before a chosen track's caption
    QString Chapter = QStringLiteral("chapter %s of %s"); // a source converted one file per chapter
    QString OutputTip = QStringLiteral("Output: %s");     // a line of a row's tool tip for each file written
};

// The queue as a table: the file, its length once probed and how it fares.
// It holds nothing of its own; the queue tells every change.
class TFileQueueModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { FileColumn, LengthColumn, StateColumn, ColumnCount };

    explicit TFileQueueModel(TFileQueue &queue, QObject *parent = nullptr);

    void SetTexts(const TQueueTexts &texts);
    const TQueueTexts &Texts() const { return m_texts; }
    // The state of a file of no known type while its probe looks for sound.
    void SetCheckingText(const QString &text);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // The file's path is edited in place; the check decides whether the
    // typed path is taken, and takes it itself (false: the row keeps its path).
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    using TEditCheck = std::function<bool(int row, const QString &path)>;
    void SetEditCheck(TEditCheck check) { m_editCheck = std::move(check); }

private:
    QString StateText(int row) const;
    static QString ShownPath(const TQueueItem &item);
    QString FileToolTip(int row) const;

    TFileQueue &m_queue;
    TQueueTexts m_texts;
    QString m_checking;
    TEditCheck m_editCheck;
};

// A tool tip that shows text as it is, even when it looks like markup.
QString PlainToolTip(const QString &text);

// A length for the queue's column: "4:05", "1:02:03"; empty for none.
QString LengthText(qint64 seconds);
