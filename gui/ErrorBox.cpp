#include "gui/ErrorBox.h"

#include "common/ErrorReport.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace {
QPointer<QWidget> &mainOwner()
{
    static QPointer<QWidget> owner;
    return owner;
}

QWidget *ownerWindow()
{
    if (QWidget *active = QApplication::activeModalWidget())
        return active;
    if (QWidget *active = QApplication::activeWindow())
        return active;
    return mainOwner().data();
}

void showErrorBox(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok, ownerWindow());
    // Errors name files, folders and addresses the user may want to copy.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}
}

void InstallErrorBox(QWidget *owner)
{
    mainOwner() = owner;
    SetErrorDisplay(showErrorBox);
}
