#include "config_serial/apply_settings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cerrno>
#include <optional>
#include <system_error>

#include "ZComm/zcomm.h"
#include "config_serial/port_scan.h"
#include "config_serial/serial_settings.h"
#include "platform/port_map.h"
#include "platform/serial_termios2.h"
#include "temp_tree.h"

namespace {

using config_serial::committedSettings;
using config_serial::LineChanged;
using config_serial::PortChanged;
using config_serial::SerialSettings;
using config_serial::SettingsChange;

struct Warning {
    QString text;
    QString detail;
    int connected_while_shown;
    int port_index_while_shown;
};

// Two pseudo-terminals offered as COM3 and COM7 through a link directory, a real
// component, and the warning replaced by a recorder.
class ApplySettings : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(com3.slave_path().empty());
        ASSERT_FALSE(com7->slave_path().empty());
        auto dir = tree.dir("ports");
        tree.link("ports/COM3", com3.slave_path());
        tree.link("ports/com7", com7->slave_path());
        auto map = platform::read_port_directory(dir.string());
        for (const auto& item : config_serial::scan_ports(config_serial::port_candidates(), map)) {
            avail.addItem(QString::fromStdString(item));
        }
        ASSERT_EQ(avail.count(), 3);  // "Fechar", "COM3", "COM7"
        platform::install_port_map(std::move(map));

        committedSettings = config_serial::kDefaultSettings;
        SettingsChange = 0;
        config_serial::warn_operator = [this](const QString& text, const QString& detail) {
            warnings.push_back({text, detail, comm.Connected(), committedSettings.portIndex});
        };
    }
    void TearDown() override {
        config_serial::warn_operator = config_serial::show_warning_box;
        platform::install_port_map({});
    }

    // What the dialog leaves behind when the operator presses OK.
    void outcome(std::uint32_t change, const SerialSettings& settings) {
        committedSettings = settings;
        SettingsChange = change;
        config_serial::apply_settings_outcome(comm, avail);
    }

    // A telegram written now arrives on `pty` and nowhere else.
    void expect_link_to(const config_test::Pty& pty, const config_test::Pty* other) {
        const std::string text = "$PXTQSSB,probe*00\r\n";
        ASSERT_NE(comm.WriteComm(text.data(), static_cast<std::int32_t>(text.size())), 0);
        EXPECT_EQ(pty.read_line(), text);
        if (other != nullptr) {
            EXPECT_EQ(other->read_line(100), "");
        }
    }

    // The line as the kernel holds it; termios2 gives the exact rate.
    static platform::TermiosImage line_of(const config_test::Pty& pty) {
        platform::TermiosImage image;
        EXPECT_EQ(platform::read_termios2(pty.slave(), image), 0);
        return image;
    }
    static std::uint32_t speed_of(const config_test::Pty& pty) { return line_of(pty).speed; }

    config_test::TempTree tree;
    config_test::Pty com3;
    std::optional<config_test::Pty> com7{std::in_place};
    QListWidget avail;
    TZComm comm{nullptr};
    std::vector<Warning> warnings;
};

TEST_F(ApplySettings, OpensSwitchesAndClosesThroughTheMap) {
    outcome(PortChanged | LineChanged, {1, 19200, 0, 4, 0});
    ASSERT_EQ(comm.Connected(), 1);
    EXPECT_EQ(comm.Port, "\\\\.\\COM3");
    EXPECT_EQ(speed_of(com3), 19200u);
    expect_link_to(com3, &*com7);

    outcome(PortChanged, {2, 19200, 0, 4, 0});
    ASSERT_EQ(comm.Connected(), 1);
    EXPECT_EQ(comm.Port, "\\\\.\\COM7");
    EXPECT_EQ(speed_of(*com7), 19200u);
    expect_link_to(*com7, &com3);
    // The first port was given back: another program may take it now.
    const int fd = ::open(com3.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);

    outcome(PortChanged, {0, 19200, 0, 4, 0});
    EXPECT_EQ(comm.Connected(), 0);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(committedSettings.portIndex, 0);
}

TEST_F(ApplySettings, LineChangeWhileOpenIsAppliedWithoutReopening) {
    outcome(PortChanged, {1, 9600, 0, 4, 0});
    ASSERT_EQ(comm.Connected(), 1);
    const auto* watcher = comm.comm_thread();

    outcome(LineChanged, {1, 115200, 0, 4, 2});
    EXPECT_EQ(comm.Connected(), 1);
    EXPECT_EQ(comm.comm_thread(), watcher);  // every opening starts a new watcher
    EXPECT_EQ(comm.Port, "\\\\.\\COM3");
    const auto line = line_of(com3);
    EXPECT_EQ(line.speed, 115200u);
    EXPECT_NE(line.cflag & CSTOPB, 0u);
    expect_link_to(com3, nullptr);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(ApplySettings, LineChangeWhileClosedWaitsForTheNextOpening) {
    outcome(LineChanged, {0, 2400, 0, 4, 0});
    EXPECT_EQ(comm.Connected(), 0);
    EXPECT_EQ(comm.comm_thread(), nullptr);

    outcome(PortChanged, {2, 2400, 0, 4, 0});
    ASSERT_EQ(comm.Connected(), 1);
    EXPECT_EQ(speed_of(*com7), 2400u);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(ApplySettings, MarkAndSpaceParityReachTheComponent) {
    outcome(PortChanged | LineChanged, {1, 9600, 3, 4, 0});
    EXPECT_EQ(comm.Parity, mark_parity);
    outcome(LineChanged, {1, 9600, 4, 3, 1});
    EXPECT_EQ(comm.Parity, space_parity);
    EXPECT_EQ(comm.DataBits, databits7);
    EXPECT_EQ(comm.StopBits, stop1x5);
}

TEST_F(ApplySettings, NoChangeLeavesThePortAlone) {
    outcome(PortChanged, {1, 9600, 0, 4, 0});
    const auto* watcher = comm.comm_thread();
    committedSettings.baudRate = 38400;  // not reported as a change: not applied
    SettingsChange = 0;
    config_serial::apply_settings_outcome(comm, avail);
    EXPECT_EQ(comm.Connected(), 1);
    EXPECT_EQ(comm.comm_thread(), watcher);
    EXPECT_EQ(comm.BaudRate, 9600);
    EXPECT_EQ(speed_of(com3), 9600u);
}

struct FailureCase {
    const char* label;
    bool held_by_another;  // else: the device is gone since the scan
};

void PrintTo(const FailureCase& row, std::ostream* os) {
    *os << row.label;
}

class OpenFailure : public ApplySettings, public testing::WithParamInterface<FailureCase> {};

TEST_P(OpenFailure, WarnsWithThePortClosedThenForgetsThePort) {
    int holder = -1;
    if (GetParam().held_by_another) {
        holder = ::open(com7->slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    } else {
        // As when socat ends: its link goes with the terminal. (The terminal's own number
        // may be handed to another process at once, so the link is what must be gone.)
        com7.reset();
        ::unlink((tree.root() / "ports" / "com7").c_str());
    }
    outcome(PortChanged, {1, 9600, 0, 4, 0});
    ASSERT_EQ(comm.Connected(), 1);

    outcome(PortChanged | LineChanged, {2, 4800, 2, 4, 0});
    EXPECT_EQ(comm.Connected(), 0);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].text, QString::fromUtf8("Não foi possível abrir conexão"));
    EXPECT_EQ(warnings[0].connected_while_shown, 0);
    EXPECT_EQ(warnings[0].port_index_while_shown, 2);  // reset only once dismissed
    EXPECT_EQ(committedSettings, (SerialSettings{0, 4800, 2, 4, 0}));
    if (!GetParam().held_by_another) {
        // The system's reason, in the operator's language.
        EXPECT_TRUE(warnings[0].detail.contains(
            QString::fromStdString(std::generic_category().message(ENOENT))))
            << warnings[0].detail.toStdString();
    }
    if (holder >= 0) {
        ::close(holder);
    }
}

INSTANTIATE_TEST_SUITE_P(Causes, OpenFailure,
                         testing::Values(FailureCase{"held_by_another_program", true},
                                         FailureCase{"device_gone_since_the_scan", false}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ApplySettings, RefusedLineSettingsCloseThePortThenWarn) {
    outcome(PortChanged, {1, 9600, 0, 4, 0});
    ASSERT_EQ(comm.Connected(), 1);

    outcome(LineChanged, {1, 9600, 0, 0, 0});  // 4 data bits: no Linux line does them
    EXPECT_EQ(comm.Connected(), 0);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].text, QString::fromUtf8("Não foi possível setar parâmetros"));
    EXPECT_EQ(warnings[0].connected_while_shown, 0);
    EXPECT_EQ(warnings[0].port_index_while_shown, 1);
    EXPECT_EQ(committedSettings, (SerialSettings{0, 9600, 0, 0, 0}));
}

TEST_F(ApplySettings, RefusedSettingsAtOpeningLeaveThePortClosed) {
    outcome(PortChanged | LineChanged, {2, 9600, 0, 4, 1});  // 1½ stop bits with 8 data bits
    EXPECT_EQ(comm.Connected(), 0);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].text, QString::fromUtf8("Não foi possível abrir conexão"));
    EXPECT_EQ(committedSettings.portIndex, 0);
    // Nothing holds the device afterwards.
    const int fd = ::open(com7->slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

// The real box: found once it is the active modal window, checked, then dismissed.
TEST(WarningBox, IsAnOwnerlessWarningWithOneOkButton) {
    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        seen = true;
        EXPECT_EQ(box->windowTitle(), "ERRO");
        EXPECT_EQ(box->text(), QString::fromUtf8("Não foi possível abrir conexão"));
        EXPECT_EQ(box->detailedText(), "why");
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_EQ(box->parentWidget(), nullptr);
        ASSERT_EQ(box->buttons().size(), 2);  // OK and the details toggle
        EXPECT_NE(box->button(QMessageBox::Ok), nullptr);
        box->button(QMessageBox::Ok)->click();
    });
    poll.start(10);
    config_serial::show_warning_box(QString::fromUtf8("Não foi possível abrir conexão"), "why");
    EXPECT_TRUE(seen);
}

}  // namespace
