// Shared by the window tests: catching the message box that the standard error report opens.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <QWidget>

namespace panel_test {

// What an error report showed.
struct ShownBox {
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// While alive, closes every modal message box as soon as it opens and records the first one.
class MessageBoxCatcher {
  public:
    MessageBoxCatcher() {
        poll_.setInterval(5);
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            if (!shown_.seen) {
                shown_ = {true, box->windowTitle(), box->text(), box->icon()};
            }
            box->done(0);
        });
        poll_.start();
    }
    const ShownBox& shown() const { return shown_; }

  private:
    QTimer poll_;
    ShownBox shown_;
};

}  // namespace panel_test
