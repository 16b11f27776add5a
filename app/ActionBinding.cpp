#include "app/ActionBinding.h"

#include <QAbstractButton>
#include <QAction>

namespace {
// Copies the action's caption and state to the stand-in now and whenever
// the action changes. Buttons and actions share the setters, not a base.
template <typename StandIn> void FollowAction(StandIn *standIn, QAction *action, bool followText = true)
{
    const auto sync = [standIn, action, followText] {
        if (followText)
            standIn->setText(action->text());
        standIn->setEnabled(action->isEnabled());
        standIn->setVisible(action->isVisible());
    };
    sync();
    QObject::connect(action, &QAction::changed, standIn, sync);
}
}

void BindButtonToAction(QAbstractButton *button, QAction *action, TButtonCaption caption)
{
    FollowAction(button, action, caption == TButtonCaption::FollowAction);
    QObject::connect(button, &QAbstractButton::clicked, action, &QAction::trigger);
}

void BindProxyToAction(QAction *proxy, QAction *action)
{
    FollowAction(proxy, action);
    // A menu shows the keys of its entries: the stand-in carries the action's,
    // bound to the open menu alone so that the window's own stay unambiguous.
    // A stand-in with keys of its own (Quit) keeps them.
    const auto keys = [proxy, action] {
        if (action->shortcuts().isEmpty() || proxy->shortcuts() == action->shortcuts())
            return;
        proxy->setShortcutContext(Qt::WidgetShortcut);
        proxy->setShortcuts(action->shortcuts());
    };
    keys();
    QObject::connect(action, &QAction::changed, proxy, keys);
    QObject::connect(proxy, &QAction::triggered, action, &QAction::trigger);
}
