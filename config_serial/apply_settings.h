// Brings the serial port in line with the dialog's outcome: close it, open another,
// or re-apply the line settings, and tell the operator when that fails.
#pragma once

#include <QString>
#include <functional>

class QListWidget;
class TZComm;

namespace config_serial {

// Shows a warning to the operator and returns once it is dismissed.
using WarnFunction = std::function<void(const QString& text, const QString& detail)>;

// A modal message box with no owner, caption "ERRO", the warning icon and one OK button;
// `detail`, when not empty, is its detailed text.
void show_warning_box(const QString& text, const QString& detail);

// The warning used by apply_settings_outcome; show_warning_box unless a test replaces it.
extern WarnFunction warn_operator;

// Acts on SettingsChange and committedSettings after the dialog has closed: with
// PortChanged, closes the open port (then pauses 100 ms, blocking) and opens the entry
// `portIndex` of `avail` as "\\.\" + its text; otherwise, with LineChanged and the port
// open, re-applies the line settings. A failure closes the port, warns, and then sets
// committedSettings.portIndex to 0. UI thread only.
void apply_settings_outcome(TZComm& comm, const QListWidget& avail);

}  // namespace config_serial
