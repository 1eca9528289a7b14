#include "config_serial/apply_settings.h"

#include <QListWidget>
#include <QMessageBox>
#include <chrono>
#include <thread>

#include "ZComm/zcomm.h"
#include "config_serial/serial_settings.h"
#include "platform/port_map.h"

namespace config_serial {
namespace {

constexpr auto kSwitchPause = std::chrono::milliseconds(100);
const char* const kOpenFailed = "Não foi possível abrir conexão";
const char* const kSetFailed = "Não foi possível setar parâmetros";

void set_line(TZComm& comm) {
    comm.BaudRate = committedSettings.baudRate;
    comm.DataBits = static_cast<TDataBits>(committedSettings.dataBitsCode);
    comm.StopBits = static_cast<TStopBits>(committedSettings.stopBitsCode);
    comm.Parity = static_cast<TParity>(committedSettings.parity);
}

void fail(const char* text, const std::string& detail) {
    warn_operator(QString::fromUtf8(text), QString::fromStdString(detail));
    committedSettings.portIndex = 0;
}

void open_port(TZComm& comm, const QListWidget& avail) {
    if (comm.Connected() != 0) {
        comm.CloseConnection();
        // Gives the device time to settle before the next opening; blocks the UI thread so
        // no telegram goes out in between.
        std::this_thread::sleep_for(kSwitchPause);
    }
    const int index = committedSettings.portIndex;
    if (index == 0) {
        return;
    }
    const QListWidgetItem* item = avail.item(index);
    if (item == nullptr) {
        fail(kOpenFailed, "no port has index " + std::to_string(index));
        return;
    }
    comm.Port = "\\\\.\\" + item->text().toStdString();
    set_line(comm);
    if (comm.OpenConnection() == 0) {
        fail(kOpenFailed, platform::port_access_problem(comm.Port));
    }
}

void reapply_line(TZComm& comm) {
    set_line(comm);
    if (comm.SetConnection() == 0) {
        comm.CloseConnection();
        fail(kSetFailed, "the port refuses these line settings");
    }
}

}  // namespace

void show_warning_box(const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("ERRO"), text, QMessageBox::Ok);
    if (!detail.isEmpty()) {
        box.setDetailedText(detail);
    }
    box.exec();
}

WarnFunction warn_operator = show_warning_box;

void apply_settings_outcome(TZComm& comm, const QListWidget& avail) {
    if ((SettingsChange & PortChanged) != 0) {
        open_port(comm, avail);
    } else if ((SettingsChange & LineChanged) != 0 && comm.Connected() != 0) {
        reapply_line(comm);
    }
}

}  // namespace config_serial
