#include "app/FileQueueModel.h"

#include "conversion/EncoderOutput.h"
#include "conversion/FileQueue.h"

#include <QTextDocument>

QString PlainToolTip(const QString &text)
{
    // Tool tips render anything that looks like markup as rich text; a file
    // named "<b>x</b>.avi" must still show its name as it is.
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

QString LengthText(qint64 seconds)
{
    if (seconds <= 0)
        return QString();
    const auto twoDigits = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    const QString minutesSeconds = twoDigits(seconds / 60 % 60) + QLatin1Char(':') + twoDigits(seconds % 60);
    if (seconds < 3600)
        return QString::number(seconds / 60) + QLatin1Char(':') + twoDigits(seconds % 60);
    return QString::number(seconds / 3600) + QLatin1Char(':') + minutesSeconds;
}

namespace {
// The states a file ends in for a reason worth telling.
bool ShowsReason(TItemState state)
{
    return state == TItemState::Failed || state == TItemState::Stopped || state == TItemState::Incomplete;
}
}

TFileQueueModel::TFileQueueModel(TFileQueue &queue, QObject *parent) : QAbstractTableModel(parent), m_queue(queue)
{
    connect(&queue, &TFileQueue::AboutToInsert, this,
            [this](int first, int last) { beginInsertRows(QModelIndex(), first, last); });
    connect(&queue, &TFileQueue::Inserted, this, [this] { endInsertRows(); });
    connect(&queue, &TFileQueue::AboutToRemove, this,
            [this](int first, int last) { beginRemoveRows(QModelIndex(), first, last); });
    connect(&queue, &TFileQueue::Removed, this, [this] { endRemoveRows(); });
    connect(&queue, &TFileQueue::AboutToSwap, this, [this](int from, int to) {
        // One row moves past the other: to its place, or just after it going down.
        beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
    });
    connect(&queue, &TFileQueue::Swapped, this, [this] { endMoveRows(); });
    connect(&queue, &TFileQueue::AboutToClear, this, [this] { beginResetModel(); });
    connect(&queue, &TFileQueue::Cleared, this, [this] { endResetModel(); });
    connect(&queue, &TFileQueue::Changed, this,
            [this](int row) { emit dataChanged(index(row, 0), index(row, ColumnCount - 1)); });
}

void TFileQueueModel::SetTexts(const TQueueTexts &texts)
{
    m_texts = texts;
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

int TFileQueueModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_queue.Count(); }

int TFileQueueModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TFileQueueModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const TQueueItem &item = m_queue.At(index.row());
    switch (index.column()) {
    case FileColumn:
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return ShownPath(item);
        if (role == Qt::ToolTipRole)
            return FileToolTip(index.row());
        break;
    case LengthColumn:
        if (role == Qt::DisplayRole)
            return LengthText(item.Facts.Duration);
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case StateColumn:
        if (role == Qt::DisplayRole)
            return StateText(index.row());
        if (role == Qt::ToolTipRole && ShowsReason(item.State))
            return PlainToolTip(item.Reason);
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignCenter);
        break;
    default:
        break;
    }
    return QVariant();
}

void TFileQueueModel::SetCheckingText(const QString &text)
{
    m_checking = text;
    if (rowCount() > 0)
        emit dataChanged(index(0, StateColumn), index(rowCount() - 1, StateColumn));
}

QString TFileQueueModel::ShownPath(const TQueueItem &item) { return item.Shown.isEmpty() ? item.Source : item.Shown; }

QString TFileQueueModel::StateText(int row) const
{
    const TQueueItem &item = m_queue.At(row);
    switch (item.State) {
    case TItemState::Idle:
        return QString();
    case TItemState::Waiting:
        return m_texts.Waiting;
    case TItemState::Converting: {
        const QString share = item.Percent >= 0 ? QStringLiteral("%1%").arg(item.Percent) : m_texts.Converting;
        if (item.Chapter <= 0)
            return share;
        // The language's text was checked when it was loaded.
        return FormatText(m_texts.Chapter, {QString::number(item.Chapter), QString::number(item.Chapters)})
               + QStringLiteral(" \u00B7 ") + share;
    }
    case TItemState::Done:
        return m_texts.Done;
    case TItemState::Skipped:
        return m_texts.Skipped;
    case TItemState::Failed:
        return m_texts.Failed;
    case TItemState::Stopped:
        return m_texts.Stopped;
    case TItemState::Incomplete:
        return m_texts.Incomplete;
    case TItemState::Checking:
        return m_checking;
    }
    return QString();
}

// The path, the chosen track when there is one (Automatic shows none) and
// what the last run wrote for it; a file per chapter lists the first few.
QString TFileQueueModel::FileToolTip(int row) const
{
    constexpr int OutputsListed = 3;
    const TQueueItem &item = m_queue.At(row);
    if (item.AudioTrack < 0 && item.Outputs.isEmpty())
        return QString();
    QStringList lines{ShownPath(item)};
    if (item.AudioTrack >= 0)
        lines << m_texts.TrackTitle + QLatin1Char(' ') + item.AudioTrackCaption;
    for (qsizetype i = 0; i < item.Outputs.size() && i < OutputsListed; ++i)
        lines << FormatText(m_texts.OutputTip, {item.Outputs[i]});
    if (item.Outputs.size() > OutputsListed)
        lines << QStringLiteral("\u2026");
    return PlainToolTip(lines.join(QLatin1Char('\n')));
}

QVariant TFileQueueModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case FileColumn:
        return m_texts.FileHeader;
    case LengthColumn:
        return m_texts.LengthHeader;
    case StateColumn:
        return m_texts.StateHeader;
    default:
        return QVariant();
    }
}

Qt::ItemFlags TFileQueueModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == FileColumn)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool TFileQueueModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || index.column() != FileColumn
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    // Left as shown, a stand-in path stays what it was.
    if (value.toString() == ShownPath(m_queue.At(index.row())))
        return true;
    if (m_editCheck)
        return m_editCheck(index.row(), value.toString());
    m_queue.SetSource(index.row(), value.toString());
    return true;
}
