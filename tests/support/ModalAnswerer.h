#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>

// Answers the modal dialogs a test brings up, in order, without ever letting
// the test block: every few milliseconds it looks for a visible modal widget
// and hands it to the next scripted answer. A modal that nobody expected is
// recorded and rejected.
class ModalAnswerer : public QObject
{
public:
    using Answer = std::function<void(QWidget *modal)>;

    struct Seen
    {
        QString objectName;
        QString title;
        QString text;        // a message box's text; empty for other dialogs
        QString detail;      // a message box's detailed text
        QString informative; // a message box's informative text
    };

    QList<Seen> seen;
    QList<Seen> unexpected;

    ModalAnswerer()
    {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::tick);
        m_timer.start();
    }

    void expect(Answer answer) { m_answers.push_back(std::move(answer)); }
    bool allUsed() const { return m_answers.empty(); }
    QStringList seenNames() const
    {
        QStringList names;
        for (const Seen &s : seen)
            names << s.objectName;
        return names;
    }

    // Scripted answers for the usual dialogs.
    static Answer click(const QString &buttonName)
    {
        return [buttonName](QWidget *modal) {
            if (auto *button = modal->findChild<QAbstractButton *>(buttonName))
                button->click();
            else
                modal->close();
        };
    }

    static Answer overwriteAnswer(const QString &buttonName, bool notice)
    {
        return [buttonName, notice](QWidget *modal) {
            if (auto *box = modal->findChild<QCheckBox *>(QStringLiteral("checkBoxNotice")))
                box->setChecked(notice);
            click(buttonName)(modal);
        };
    }

    static Answer closeByTitleBar()
    {
        return [](QWidget *modal) { modal->close(); };
    }

    static Answer messageBox(QMessageBox::StandardButton which)
    {
        return [which](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (box && box->button(which))
                box->button(which)->click();
            else
                modal->close();
        };
    }

private:
    void tick()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == m_handling)
            return;
        Seen s{modal->objectName(), modal->windowTitle(), QString(), QString(), QString()};
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            s.text = box->text();
            s.detail = box->detailedText();
            s.informative = box->informativeText();
        }
        m_handling = modal;
        if (m_answers.empty()) {
            unexpected << s;
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else
                modal->close();
        } else {
            seen << s;
            Answer answer = std::move(m_answers.front());
            m_answers.pop_front();
            answer(modal);
        }
        m_handling = nullptr;
    }

    QTimer m_timer;
    std::deque<Answer> m_answers;
    QPointer<QWidget> m_handling;
};
