// The application object and the entry point's guarded run, apart from main() so that tests
// can drive them.
#pragma once

#include <QApplication>
#include <functional>
#include <memory>

namespace app {

// The application whose event delivery is the standard error report: an exception that escapes
// the handling of any event is shown (critical message box, titled with the application title)
// and the program goes on with the next event.
class Application : public QApplication {
    Q_OBJECT

  public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// Builds the windows with `make_windows`, then runs the event loop until the main window has
// closed. An exception from building them (or one that leaves the loop) is shown by the standard
// error report and ends the run. Always returns 0, the program's exit code.
int run_windows(QApplication& application,
                const std::function<std::unique_ptr<QWidget>()>& make_windows);

}  // namespace app
