#pragma once
// Answers the modal boxes and dialogs that a window slot opens during a test:
// polls QApplication::activeModalWidget() from the event loop, records what
// the modal widget shows, then lets the test's answer close it.

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

struct SeenModal {
    int count = 0;  // modal widgets answered so far
    QString className;
    QString title;
    QString text;  // message box text, or input dialog label
    QWidget* parentWidget = nullptr;
    // Message boxes
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    // Input dialogs
    QInputDialog::InputMode inputMode = QInputDialog::TextInput;
    QStringList items;
    bool itemsEditable = false;
    QLineEdit::EchoMode echoMode = QLineEdit::Normal;
    QString initialText;
};

class ModalAnswer : public QObject, public SeenModal {
public:
    // `answer` closes the modal widget (accept, reject, click a button).
    explicit ModalAnswer(std::function<void(QWidget*)> answer)
        : answer(std::move(answer))
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, this, [this]() { poll(); });
        timer.start();
    }

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
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == last)
            return;
        last = modal;
        ++count;
        className = QString::fromLatin1(modal->metaObject()->className());
        title = modal->windowTitle();
        parentWidget = modal->parentWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
        } else if (auto* dialog = qobject_cast<QInputDialog*>(modal)) {
            text = dialog->labelText();
            inputMode = dialog->inputMode();
            items = dialog->comboBoxItems();
            itemsEditable = dialog->isComboBoxEditable();
            echoMode = dialog->textEchoMode();
            initialText = dialog->textValue();
        }
        answer(modal);
    }

    std::function<void(QWidget*)> answer;
    QPointer<QWidget> last;
    QTimer timer;
};
