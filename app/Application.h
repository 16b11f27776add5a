#pragma once

#include <QApplication>

// The application object: every exception that leaves an event handler ends
// up here, is shown in the error box, and the program goes on.
class TApplication : public QApplication
{
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};
