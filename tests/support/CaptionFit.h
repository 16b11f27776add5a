#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <QWidget>

// The captioned controls of a window whose text does not fit the room they
// have: a button, label, group box title or drop-down list narrower (or, for a
// wrapping label, lower) than its text needs. Each entry reads
// "window/control: needs WxH, has wxh". The window must have been shown once
// so that layouts and style sheets are in effect.
inline QStringList ClippedCaptions(QWidget *window)
{
    QStringList clipped;
    const auto report = [&clipped, window](QWidget *w, QSize needs) {
        clipped << QStringLiteral("%1/%2: needs %3x%4, has %5x%6")
                       .arg(window->objectName(), w->objectName())
                       .arg(needs.width())
                       .arg(needs.height())
                       .arg(w->width())
                       .arg(w->height());
    };
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window) || w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (auto *label = qobject_cast<QLabel *>(w)) {
            // A label with a tooltip shows its whole text there (the status line).
            if (label->text().isEmpty() || !label->toolTip().isEmpty())
                continue;
            if (label->wordWrap()) {
                const int needed = label->heightForWidth(label->contentsRect().width()) + label->height()
                                   - label->contentsRect().height();
                if (needed > label->height())
                    report(label, QSize(label->width(), needed));
            } else if (label->sizeHint().width() > label->width()) {
                report(label, label->sizeHint());
            }
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            if (!button->text().isEmpty() && button->sizeHint().width() > button->width())
                report(button, button->sizeHint());
        } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
            if (!group->title().isEmpty() && group->minimumSizeHint().width() > group->width())
                report(group, group->minimumSizeHint());
        } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
            if (combo->sizeHint().width() > combo->width())
                report(combo, combo->sizeHint());
        }
    }
    return clipped;
}
