#pragma once

class QWidget;

// The error box: every error the program reports shows in a message box with
// the application title, an error icon and an OK button, in front of the
// active window, else in front of owner (the main window). Its text can be
// selected and copied.
void InstallErrorBox(QWidget *owner = nullptr);
