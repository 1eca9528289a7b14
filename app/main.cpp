#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "Quarvel1/form1.h"
#include "Quarvel1/title.h"
#include "app/application.h"
#include "config_serial/form4.h"
#include "platform/instance_guard.h"
#include "platform/open_files_limit.h"

int main(int argc, char** argv) {
    platform::InstanceGuard guard("Quarvel");
    const platform::AcquireResult acquired = guard.acquire();
    if (acquired == platform::AcquireResult::HeldElsewhere) {
        return 0;
    }
    if (acquired == platform::AcquireResult::Failed) {
        // Not knowing whether another instance runs is no reason to refuse the operator a panel.
        std::fprintf(stderr, "quarvel: single-instance check failed: %s\n", guard.error().c_str());
    }

    // A thousand clients need more descriptors than the usual soft limit of 1024; failing to raise
    // it only lowers how many clients fit.
    platform::raise_open_files_limit();

    // The program reads no command-line options, so the toolkit sees only the program's name:
    // it would otherwise take its own (a window title, a geometry, a style sheet file) from them.
    int toolkit_argc = argc > 0 ? 1 : 0;
    app::Application application(toolkit_argc, argv);
    QCoreApplication::setApplicationName(QString::fromStdString(
        quarvel::default_application_title(argc > 0 && argv[0] != nullptr ? argv[0] : "")));

    return app::run_windows(application, [] {
        auto main_window = std::make_unique<TForm1>();
        // Owned by the main window, so that it opens above that stay-on-top window.
        Form4 = new TForm4(items_of(main_window->ListBox_Avail), main_window.get());
        return main_window;
    });
}
