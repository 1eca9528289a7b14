#include "Quarvel1/error_report.h"

#include <QApplication>
#include <QMessageBox>

namespace quarvel {

void show_error_report(const QString& message) {
    QMessageBox::critical(QApplication::activeWindow(), QCoreApplication::applicationName(),
                          message);
}

void report_current_exception() {
    try {
        throw;
    } catch (const std::exception& error) {
        show_error_report(QString::fromUtf8(error.what()));
    } catch (...) {
        show_error_report(QStringLiteral("Unknown exception"));
    }
}

void run_guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        report_current_exception();
    }
}

}  // namespace quarvel
