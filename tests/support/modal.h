#pragma once
// What a modal widget showed, read from the widget itself, and the watch
// over QApplication::activeModalWidget() on which the tests' dialog drivers
// are built: each new modal widget is handed over once.

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QStringList>
#include <QTimer>
#include <QWidget>

namespace testsupport {

struct SeenModal {
    int count = 0;  // modal widgets seen so far, where a driver counts them
    QString className;
    QString title;
    QWidget* parentWidget = nullptr;
    Qt::WindowModality modality = Qt::NonModal;
    QString text;  // message box text, or input dialog label
    // message boxes
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    // file dialogs
    QString directory;
    QStringList nameFilters;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    QFileDialog::Options options;
    // progress dialogs
    QString label;
    bool autoReset = true;
    bool autoClose = true;
    // input dialogs
    QInputDialog::InputMode inputMode = QInputDialog::TextInput;
    QStringList items;
    bool itemsEditable = false;
    QLineEdit::EchoMode echoMode = QLineEdit::Normal;
    QString initialText;
    bool expected = true;  // false: not answered by a step
};

// Records into `d` what `modal` shows; the fields of the other kinds of
// dialog are left as they were.
inline void describeModal(SeenModal& d, QWidget* modal)
{
    d.className = QString::fromLatin1(modal->metaObject()->className());
    d.title = modal->windowTitle();
    d.parentWidget = modal->parentWidget();
    d.modality = modal->windowModality();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        d.text = box->text();
        d.icon = box->icon();
        d.buttons = box->standardButtons();
        d.defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
    }
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        d.directory = dialog->directory().absolutePath();
        d.nameFilters = dialog->nameFilters();
        d.fileMode = dialog->fileMode();
        d.acceptMode = dialog->acceptMode();
        d.options = dialog->options();
    }
    if (auto* dialog = qobject_cast<QProgressDialog*>(modal)) {
        d.label = dialog->labelText();
        d.autoReset = dialog->autoReset();
        d.autoClose = dialog->autoClose();
    }
    if (auto* dialog = qobject_cast<QInputDialog*>(modal)) {
        d.text = dialog->labelText();
        d.inputMode = dialog->inputMode();
        d.items = dialog->comboBoxItems();
        d.itemsEditable = dialog->isComboBoxEditable();
        d.echoMode = dialog->textEchoMode();
        d.initialText = dialog->textValue();
    }
}

inline SeenModal describeModal(QWidget* modal)
{
    SeenModal d;
    describeModal(d, modal);
    return d;
}

// Polls the active modal widget from the event loop every `intervalMs` and
// hands each new one to onModal() once. Stops when destroyed, so no answer
// outlives the test that asked for it.
class ModalWatcher : public QObject {
protected:
    // `visibleOnly`: a modal widget not shown yet waits for the next poll.
    explicit ModalWatcher(int intervalMs, bool visibleOnly = true)
        : visibleOnly(visibleOnly)
    {
        timer.setInterval(intervalMs);
        QObject::connect(&timer, &QTimer::timeout, this, [this]() { poll(); });
        timer.start();
    }

    virtual void onModal(QWidget* modal) = 0;

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || (visibleOnly && !modal->isVisible()) || modal == last)
            return;
        last = modal;
        onModal(modal);
    }

    bool visibleOnly;
    QPointer<QWidget> last;
    QTimer timer;
};

}  // namespace testsupport
