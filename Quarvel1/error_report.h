// The program's standard error report: the one place where an exception that escaped a handler
// or the main window's construction is shown to the operator.
#pragma once

#include <QString>
#include <exception>
#include <functional>

namespace quarvel {

// Shows `message` in a critical message box titled with the application title (the
// application name); returns when the operator has closed it. UI thread only.
void show_error_report(const QString& message);

// Shows the exception in flight (call from a catch block): its what() text for a
// std::exception, a fixed text for anything else.
void report_current_exception();

// Runs `handler`; an exception escaping it is reported and goes no further, so it never
// unwinds through the toolkit's frames.
void run_guarded(const std::function<void()>& handler);

}  // namespace quarvel
