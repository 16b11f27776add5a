#pragma once

class QAbstractButton;
class QAction;

// A button or menu entry that stands for an action: it shows the action's
// caption, is enabled and visible with it, and triggers it when used. A
// button with a caption of its own (a short one where the menu's is too long
// for it) keeps that caption. A menu entry shows the action's keys too.
enum class TButtonCaption { FollowAction, OwnCaption };
void BindButtonToAction(QAbstractButton *button, QAction *action,
                        TButtonCaption caption = TButtonCaption::FollowAction);
void BindProxyToAction(QAction *proxy, QAction *action);
