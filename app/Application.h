#pragma once

#include <QApplication>
#include <QIcon>

#include <memory>

class TApplicationForms;
class TfrmMain;

// The application object: it owns the program's windows, and every
// exception that leaves an event handler ends up here, is shown in the error
// box, and the program goes on.
class TApplication : public QApplication
{
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    ~TApplication() override;

    // Makes every window, once (appFolder empty: the folder of the running
    // program); they live until the application object goes.
    TfrmMain &CreateForms(const QString &appFolder);

    bool notify(QObject *receiver, QEvent *event) override;

private:
    std::unique_ptr<TApplicationForms> m_forms;
};

// The program's icon in every size it is drawn at, from the renders built into
// the program, so the window shows it whether or not the icon theme has it.
QIcon ProgramIcon();
