#pragma once

class QWidget;

// Fixes a dialog's client area to width x height pixels and centres it on
// its owner window (or on the screen when it has none).
void FixClientSize(QWidget *dialog, int width, int height);
void CentreOnOwner(QWidget *dialog);
