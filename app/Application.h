#pragma once

#include <QApplication>
#include <QIcon>

// The application object: every exception that leaves an event handler ends
// up here, is shown in the error box, and the program goes on.
class TApplication : public QApplication
{
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

// The program's icon in every size it is drawn at, from the renders built into
// the program, so the window shows it whether or not the icon theme has it.
QIcon ProgramIcon();
