#pragma once
// Drives the modal dialogs of a window slot from a test: the file dialogs,
// the message boxes and the generation's progress dialog. Each step answers
// the next modal widget of the expected kind and records what it showed. A
// progress dialog that no step waits for is recorded and left alone (it
// closes by itself when its run ends); any other modal widget that no step
// expects is recorded and rejected, so that a test never hangs.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "tests/support/modal.h"

#include <functional>

using testsupport::SeenModal;

class ModalSteps : public testsupport::ModalWatcher {
public:
    enum Kind { FileDialog, MessageBox, ProgressDialog };
    struct Step {
        Kind kind;
        std::function<void(QWidget*)> answer;
    };

    explicit ModalSteps(QList<Step> steps)
        : ModalWatcher(5)
        , steps(std::move(steps))
    { }

    QList<SeenModal> seen;      // every modal widget, answered or not
    QList<SeenModal> answered;  // those answered by a step, in order
    bool done() const { return next == steps.size(); }
    // The modal widgets that no step expected, progress dialogs left aside.
    int unexpected() const
    {
        int n = 0;
        for (const SeenModal& s : seen)
            n += !s.expected && s.className != QLatin1String("QProgressDialog");
        return n;
    }

    // ---- answers
    static Step chooseFile(const QString& path)
    {
        return {FileDialog, [path](QWidget* modal) {
                    auto* dialog = qobject_cast<QFileDialog*>(modal);
                    dialog->selectFile(path);
                    // The name typed in the dialog is what it returns: the whole path.
                    if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                        edit->setText(path);
                    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept through the public base
                }};
    }
    static Step cancelFile()
    {
        return {FileDialog, [](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); }};
    }
    static Step click(QMessageBox::StandardButton which)
    {
        return {MessageBox, [which](QWidget* modal) {
                    auto* box = qobject_cast<QMessageBox*>(modal);
                    if (QAbstractButton* b = box->button(which))
                        b->click();
                    else
                        box->reject();
                }};
    }
    static Step close() { return click(QMessageBox::Close); }
    // Runs `action` on the progress dialog once it is shown.
    static Step progress(std::function<void(QProgressDialog*)> action)
    {
        return {ProgressDialog, [action](QWidget* modal) { action(qobject_cast<QProgressDialog*>(modal)); }};
    }
    // Clicks the progress dialog's cancel button.
    static void clickCancel(QProgressDialog* dialog)
    {
        const QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
        if (!buttons.isEmpty())
            buttons.first()->click();
    }

private:
    static Kind kindOf(QWidget* modal)
    {
        if (qobject_cast<QFileDialog*>(modal))
            return FileDialog;
        if (qobject_cast<QProgressDialog*>(modal))
            return ProgressDialog;
        return MessageBox;
    }

    void onModal(QWidget* modal) override
    {
        // A dialog active again once a box it opened has closed is not a new one.
        for (const QPointer<QWidget>& h : std::as_const(handled)) {
            if (h == modal)
                return;
        }
        handled.append(modal);
        SeenModal d = testsupport::describeModal(modal);
        const Kind kind = kindOf(modal);
        if (!done() && steps.at(next).kind == kind) {
            seen.append(d);
            answered.append(d);
            // Answered from a queued call: an answer may open further modal
            // widgets, and a timer is not run again while its own timeout runs.
            const Step step = steps.at(next++);
            QPointer<QWidget> target(modal);
            QTimer::singleShot(0, this, [step, target]() {
                if (target)
                    step.answer(target);
            });
            return;
        }
        d.expected = false;
        seen.append(d);
        if (kind != ProgressDialog)
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
    }

    QList<Step> steps;
    qsizetype next = 0;
    QList<QPointer<QWidget>> handled;
};
