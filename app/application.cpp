#include "app/application.h"

#include <QWidget>

#include "Quarvel1/error_report.h"

namespace app {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        quarvel::report_current_exception();
        return false;
    }
}

int run_windows(QApplication& application,
                const std::function<std::unique_ptr<QWidget>()>& make_windows) {
    try {
        const std::unique_ptr<QWidget> main_window = make_windows();
        application.exec();
    } catch (...) {
        quarvel::report_current_exception();
    }
    return 0;
}

}  // namespace app
