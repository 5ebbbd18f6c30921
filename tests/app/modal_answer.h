#pragma once
// Answers the modal boxes and dialogs that a window slot opens during a test:
// polls QApplication::activeModalWidget() from the event loop, records what
// the modal widget shows, then lets the test's answer close it.

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "tests/support/modal.h"

#include <functional>

using testsupport::SeenModal;

// What the last modal widget showed, and in `count` how many were answered.
class ModalAnswer : public testsupport::ModalWatcher, public SeenModal {
public:
    // `answer` closes the modal widget (accept, reject, click a button).
    explicit ModalAnswer(std::function<void(QWidget*)> answer)
        : ModalWatcher(5, false)
        , answer(std::move(answer))
    { }

    // Closes a message box with its Close button.
    static void close(QWidget* modal)
    {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (QAbstractButton* button = box->button(QMessageBox::Close)) {
                button->click();
                return;
            }
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }

    // Enters `value` in an input dialog and confirms it.
    static std::function<void(QWidget*)> enter(const QString& value)
    {
        return [value](QWidget* modal) {
            if (auto* dialog = qobject_cast<QInputDialog*>(modal)) {
                dialog->setTextValue(value);
                dialog->accept();
            } else {
                close(modal);
            }
        };
    }

private:
    void onModal(QWidget* modal) override
    {
        ++count;
        testsupport::describeModal(*this, modal);
        answer(modal);
    }

    std::function<void(QWidget*)> answer;
};
