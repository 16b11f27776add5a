#include "gui/DialogPlacement.h"

#include <QScreen>
#include <QWidget>

void FixClientSize(QWidget *dialog, int width, int height)
{
    dialog->setFixedSize(width, height);
    dialog->setWindowFlags(
        (dialog->windowFlags() | Qt::MSWindowsFixedSizeDialogHint)
        & ~(Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowContextHelpButtonHint));
}

void CentreOnOwner(QWidget *dialog)
{
    const QWidget *owner = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
    QRect area;
    if (owner && owner->isVisible())
        area = owner->frameGeometry();
    else if (const QScreen *screen = dialog->screen())
        area = screen->availableGeometry();
    else
        return;
    dialog->move(area.center() - dialog->rect().center());
}
