#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

// Answers the next modal window of type T from inside its own nested loop:
// polls until one is visible, then hands it to answer. Call before the code
// that opens it. Returns a flag that turns true once the window was answered.
template <typename T>
std::shared_ptr<bool> AnswerModal(std::function<void(T *)> answer, int timeoutMs = 5000)
{
    auto answered = std::make_shared<bool>(false);
    auto *timer = new QTimer;
    auto waited = std::make_shared<int>(0);
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, answered, waited, timeoutMs] {
        T *modal = qobject_cast<T *>(QApplication::activeModalWidget());
        if (modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            *answered = true;
            answer(modal);
            return;
        }
        if (++*waited > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
    return answered;
}
