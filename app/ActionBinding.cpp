#include "ActionBinding.h"

#include <QAbstractButton>
#include <QAction>

void BindButtonToAction(QAbstractButton *button, QAction *action)
{
    const auto sync = [button, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
        button->setVisible(action->isVisible());
    };
    sync();
    QObject::connect(action, &QAction::changed, button, sync);
    QObject::connect(button, &QAbstractButton::clicked, action, &QAction::trigger);
}

void BindProxyToAction(QAction *proxy, QAction *action)
{
    const auto sync = [proxy, action] {
        proxy->setText(action->text());
        proxy->setEnabled(action->isEnabled());
        proxy->setVisible(action->isVisible());
    };
    sync();
    QObject::connect(action, &QAction::changed, proxy, sync);
    QObject::connect(proxy, &QAction::triggered, action, &QAction::trigger);
}
