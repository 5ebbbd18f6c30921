#pragma once
// Answers the modal dialogs that a window slot opens during a test. Each step
// answers the next modal widget of its class and records what it showed. A
// progress dialog that no step waits for is left to close when its run ends;
// any other modal widget that no step expects is recorded and rejected, so
// that a test never hangs on a box.

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace testsupport {

struct SeenModal {
    QString className;
    QString title;
    QString text;  // a message box's text, an input dialog's label
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool expected = true;
};

class ModalDriver : public QObject {
public:
    struct Step {
        const char* className;
        std::function<void(QWidget*)> answer;
    };

    explicit ModalDriver(QList<Step> steps = {})
        : steps_(std::move(steps))
    {
        connect(&timer_, &QTimer::timeout, this, [this]() { poll(); });
        timer_.start(5);
    }

    const QList<SeenModal>& seen() const { return seen_; }
    bool done() const { return next_ == steps_.size(); }
    // Modal widgets that no step expected, progress dialogs aside.
    int unexpected() const
    {
        return int(std::count_if(seen_.cbegin(), seen_.cend(), [](const SeenModal& s) {
            return !s.expected && s.className != QLatin1String("QProgressDialog");
        }));
    }

    static Step chooseFile(const QString& path)
    {
        return {"QFileDialog", [path](QWidget* modal) {
                    auto* dialog = static_cast<QFileDialog*>(modal);
                    dialog->setOption(QFileDialog::DontConfirmOverwrite);
                    if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                        edit->setText(path);  // the name typed is what the dialog returns
                    static_cast<QDialog*>(dialog)->accept();
                }};
    }
    static Step click(QMessageBox::StandardButton which)
    {
        return {"QMessageBox", [which](QWidget* modal) {
                    auto* box = static_cast<QMessageBox*>(modal);
                    box->button(which) ? box->button(which)->click() : box->reject();
                }};
    }
    static Step close() { return click(QMessageBox::Close); }  // or the box's only button
    static Step enter(const QString& text)
    {
        return {"QInputDialog", [text](QWidget* modal) {
                    auto* dialog = static_cast<QInputDialog*>(modal);
                    dialog->setTextValue(text);
                    dialog->accept();
                }};
    }
    static Step progress(std::function<void(QProgressDialog*)> action)
    {
        return {"QProgressDialog", [action](QWidget* modal) { action(static_cast<QProgressDialog*>(modal)); }};
    }
    static void clickCancel(QProgressDialog* dialog) { dialog->findChild<QPushButton*>()->click(); }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        // A dialog active again once a box it opened has closed is not a new one.
        if (!modal || !modal->isVisible() || handled_.contains(modal))
            return;
        handled_.append(modal);
        const auto* box = qobject_cast<QMessageBox*>(modal);
        const auto* input = qobject_cast<QInputDialog*>(modal);
        seen_.append({QString::fromLatin1(modal->metaObject()->className()), modal->windowTitle(),
                      box         ? box->text()
                          : input ? input->labelText()
                                  : QString(),
                      box ? box->icon() : QMessageBox::NoIcon});
        if (!done() && modal->inherits(steps_.at(next_).className)) {
            // Answered from a queued call: an answer may open further modal widgets.
            const Step step = steps_.at(next_++);
            QTimer::singleShot(0, this, [step, target = QPointer<QWidget>(modal)]() {
                if (target)
                    step.answer(target);
            });
            return;
        }
        seen_.last().expected = false;
        if (!qobject_cast<QProgressDialog*>(modal))
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
    }

    QList<Step> steps_;
    qsizetype next_ = 0;
    QList<SeenModal> seen_;
    QList<QPointer<QWidget>> handled_;
    QTimer timer_;
};

}  // namespace testsupport
