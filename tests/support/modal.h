#pragma once
// Answers the modal dialogs a window slot opens in a test: each step the next modal widget of its class; all are
// recorded. A progress dialog no step waits for closes with its run; any other unexpected one is rejected.

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <functional>

namespace testsupport {

struct SeenModal {
    QString title;
    QString text;  // of a message box
    QMessageBox::Icon icon = QMessageBox::NoIcon;
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
        connect(&timer_, &QTimer::timeout, this, &ModalDriver::poll);
        timer_.start(5);
    }

    const QList<SeenModal>& seen() const { return seen_; }
    bool done() const { return next_ == steps_.size(); }
    int unexpected() const { return unexpected_; }  // progress dialogs aside

    // The whole path typed as the file name, returned as typed.
    static Step chooseFile(const QString& path)
    {
        return {"QFileDialog", [path](QWidget* modal) {
                    auto* dialog = static_cast<QFileDialog*>(modal);
                    dialog->setOption(QFileDialog::DontConfirmOverwrite);
                    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
                    static_cast<QDialog*>(dialog)->accept();
                }};
    }
    static Step click(QMessageBox::StandardButton which)
    {
        return {"QMessageBox", [which](QWidget* modal) {
                    auto* box = static_cast<QMessageBox*>(modal);
                    box->button(which) ? box->button(which)->click() : box->reject();  // as Escape without it
                }};
    }
    static Step close() { return click(QMessageBox::Close); }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || handled_.contains(modal))  // or active again after a box it opened
            return;
        handled_.append(modal);
        const auto* box = qobject_cast<QMessageBox*>(modal);
        seen_.append({modal->windowTitle(), box ? box->text() : QString(), box ? box->icon() : QMessageBox::NoIcon});
        if (!done() && modal->inherits(steps_.at(next_).className)) {
            // Answered from a queued call: an answer may open further modal widgets.
            QTimer::singleShot(0, this, [answer = steps_.at(next_++).answer, target = QPointer<QWidget>(modal)]() {
                if (target)
                    answer(target);
            });
        } else if (!qobject_cast<QProgressDialog*>(modal)) {
            ++unexpected_;
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
        }
    }

    QList<Step> steps_;
    qsizetype next_ = 0;
    int unexpected_ = 0;
    QList<SeenModal> seen_;
    QList<QPointer<QWidget>> handled_;
    QTimer timer_;
};

}  // namespace testsupport
