#pragma once

class QAbstractButton;
class QAction;

// A button or menu entry that stands for an action: it shows the action's
// caption, is enabled and visible with it, and triggers it when used.
void BindButtonToAction(QAbstractButton *button, QAction *action);
void BindProxyToAction(QAction *proxy, QAction *action);
