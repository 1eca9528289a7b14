// The serial link setup as the main window starts it: defaults, the scan, the dialog's list.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>

#include "Quarvel1/form1.h"
#include "ZComm/zcomm.h"
#include "config_serial/form4.h"
#include "config_serial/serial_settings.h"
#include "platform/port_map.h"
#include "platform/serial_termios2.h"
#include "temp_tree.h"

namespace {

using config_serial::committedSettings;

// The main window's server listens on a port of its own while a test runs: 4099 belongs
// to the end-to-end test named for it.
class OwnServerPort {
  public:
    OwnServerPort() { server_port = 0; }
    ~OwnServerPort() { server_port = 4099; }
    OwnServerPort(const OwnServerPort&) = delete;
    OwnServerPort& operator=(const OwnServerPort&) = delete;
};

QStringList items_in(const QListWidget* list) {
    return items_of(list)();
}

TEST(Form1Wiring, StartsWithDefaultsAndTheScannedPorts) {
    config_test::TempTree tree;
    config_test::Pty pty;
    ASSERT_FALSE(pty.slave_path().empty());
    auto dir = tree.dir("ports");
    tree.link("ports/com12", pty.slave_path());
    tree.link("ports/COM2", pty.slave_path());
    tree.link("ports/COM300", pty.slave_path());
    tree.link("ports/COM4", tree.root() / "nothing");
    ::setenv("QUARVEL_SERIALCOMM", dir.c_str(), 1);
    committedSettings = config_serial::SerialSettings{3, 1200, 2, 1, 2};

    OwnServerPort own_port;
    TForm1 form;
    ::unsetenv("QUARVEL_SERIALCOMM");

    EXPECT_EQ(committedSettings, config_serial::kDefaultSettings);
    // The machine's own serial devices may come first; ours follow in candidate order.
    const QStringList avail = items_in(form.ListBox_Avail);
    ASSERT_FALSE(avail.isEmpty());
    EXPECT_EQ(avail.front(), "Fechar");
    EXPECT_TRUE(avail.contains("COM2"));
    EXPECT_TRUE(avail.contains("COM12"));
    EXPECT_LT(avail.indexOf("COM2"), avail.indexOf("COM12"));
    EXPECT_FALSE(avail.contains("COM4"));
    EXPECT_EQ(platform::device_path_for("\\\\.\\COM12"), (dir / "com12").string());
    EXPECT_EQ(form.ListBox_Ports->count(), 256);

    // The dialog shows exactly the main window's list.
    TForm4 dialog(items_of(form.ListBox_Avail), &form);
    dialog.show();
    QStringList offered;
    for (int i = 0; i < dialog.ComboBox1->count(); ++i) {
        offered << dialog.ComboBox1->itemText(i);
    }
    EXPECT_EQ(offered, avail);
    EXPECT_EQ(dialog.ComboBox1->currentText(), "Fechar");
    dialog.close();
}

}  // namespace

namespace {

// A modal box found as the active modal window, recorded, then dismissed with its OK.
class BoxCatcher {
  public:
    explicit BoxCatcher(std::function<int()> connected) : connected_(std::move(connected)) {
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            seen.push_back({box->windowTitle(), box->text(), box->icon(), connected_()});
            box->button(QMessageBox::Ok)->click();
        });
        poll_.start(5);
    }
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        int connected;
    };
    std::vector<Seen> seen;

  private:
    std::function<int()> connected_;
    QTimer poll_;
};

enum class Before { Nothing, HoldPickedPort, UnplugOpenPort };

struct Step {
    const char* label;
    const char* port;        // port to pick in the dialog; nullptr: none
    int baud_item;           // baud rate to pick; -1: none
    Before before;           // what happens to the ports before "Config."
    const char* open_on;     // the port the telegram must reach; nullptr: closed
    bool reopened;           // a new opening (a new watcher) happened
    std::uint32_t speed;     // the line's rate when open
    const char* box;         // warning shown; nullptr: none
    const char* shown_next;  // what the next showing selects in the port list
};

// "Config." on the real main window and dialog, with two pseudo-terminals offered as
// COM5 and COM9, one operator session after another.
TEST(ConfigButton, OperatorSessionsDriveThePort) {
    config_test::TempTree tree;
    std::map<std::string, std::unique_ptr<config_test::Pty>> ptys;
    auto dir = tree.dir("ports");
    for (const char* name : {"COM5", "COM9"}) {
        auto& pty = ptys[name] = std::make_unique<config_test::Pty>();
        ASSERT_FALSE(pty->slave_path().empty());
        tree.link(std::string("ports/") + name, pty->slave_path());
    }
    ::setenv("QUARVEL_SERIALCOMM", dir.c_str(), 1);
    OwnServerPort own_port;
    auto form = std::make_unique<TForm1>();
    ::unsetenv("QUARVEL_SERIALCOMM");
    Form4 = new TForm4(items_of(form->ListBox_Avail), form.get());
    BoxCatcher boxes([&] { return form->ZComm1->Connected(); });

    using enum Before;
    const Step steps[] = {
        {"open_from_closed", "COM5", -1, Nothing, "COM5", true, 9600, nullptr, "COM5"},
        {"switch_ports", "COM9", -1, Nothing, "COM9", true, 9600, nullptr, "COM9"},
        {"line_change_while_open", nullptr, 7, Nothing, "COM9", false, 115200, nullptr, "COM9"},
        {"close_with_fechar", "Fechar", -1, Nothing, nullptr, false, 0, nullptr, "Fechar"},
        {"line_change_while_closed", nullptr, 1, Nothing, nullptr, false, 0, nullptr, "Fechar"},
        {"opening_uses_the_kept_line", "COM9", -1, Nothing, "COM9", true, 2400, nullptr, "COM9"},
        {"held_port_fails", "COM5", -1, HoldPickedPort, nullptr, false, 0,
         "Não foi possível abrir conexão", "Fechar"},
        {"nothing_picked", nullptr, -1, Nothing, nullptr, false, 0, nullptr, "Fechar"},
        {"open_again", "COM9", -1, Nothing, "COM9", true, 2400, nullptr, "COM9"},
        {"unplugged_port_left_for_another", "COM5", -1, UnplugOpenPort, "COM5", true, 2400, nullptr,
         "COM5"},
    };
    std::string open_port;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.label);
        int holder = -1;
        if (step.before == HoldPickedPort) {
            holder =
                ::open(ptys.at(step.port)->slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            ASSERT_GE(holder, 0);
            ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        }
        // Bytes waiting in the open port's input show whether it was closed since: a
        // close discards them.
        const bool was_open = form->ZComm1->Connected() != 0;
        if (step.before == UnplugOpenPort) {
            ASSERT_TRUE(was_open);
            ptys.at(open_port).reset();
        } else if (was_open) {
            const std::uint32_t queued = form->ZComm1->GetQCountIn();
            ASSERT_EQ(::write(ptys.at(open_port)->master(), "probe", 5), 5);
            ASSERT_TRUE(QTest::qWaitFor([&] { return form->ZComm1->GetQCountIn() >= queued + 5; }));
        }
        boxes.seen.clear();

        QTimer::singleShot(0, Form4, [&] {
            if (step.port != nullptr) {
                const int item = Form4->ComboBox1->findText(step.port);
                ASSERT_GE(item, 0);
                QTest::keyClick(Form4->ComboBox1, Qt::Key_Home);
                for (int i = 0; i < item; ++i) {
                    QTest::keyClick(Form4->ComboBox1, Qt::Key_Down);
                }
            }
            if (step.baud_item >= 0) {
                QTest::keyClick(Form4->ComboBox2, Qt::Key_Home);
                for (int i = 0; i < step.baud_item; ++i) {
                    QTest::keyClick(Form4->ComboBox2, Qt::Key_Down);
                }
            }
            QTest::mouseClick(Form4->Button1, Qt::LeftButton);
        });
        QTest::mouseClick(form->Button3, Qt::LeftButton);
        EXPECT_FALSE(Form4->isVisible());

        if (step.box != nullptr) {
            ASSERT_EQ(boxes.seen.size(), 1u);
            EXPECT_EQ(boxes.seen[0].title, "ERRO");
            EXPECT_EQ(boxes.seen[0].text, QString::fromUtf8(step.box));
            EXPECT_EQ(boxes.seen[0].icon, QMessageBox::Warning);
            EXPECT_EQ(boxes.seen[0].connected, 0);
        } else {
            EXPECT_TRUE(boxes.seen.empty());
        }
        EXPECT_EQ(form->ZComm1->Connected(), step.open_on != nullptr ? 1 : 0);
        if (step.open_on != nullptr) {
            EXPECT_EQ(form->ZComm1->Port, std::string("\\\\.\\") + step.open_on);
            if (was_open && step.before != UnplugOpenPort) {
                EXPECT_EQ(form->ZComm1->GetQCountIn() == 0, step.reopened);
            }
            platform::TermiosImage line;
            ASSERT_EQ(platform::read_termios2(ptys.at(step.open_on)->slave(), line), 0);
            EXPECT_EQ(line.speed, step.speed);
        }

        // "Single": the telegram reaches the open port, byte for byte, and no other.
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        for (auto& [name, pty] : ptys) {
            SCOPED_TRACE(name);
            if (!pty) {
                continue;
            }
            const bool open_here = step.open_on != nullptr && name == step.open_on;
            EXPECT_EQ(pty->read_line(open_here ? 5000 : 50), open_here ? telegramBuffer : "");
        }

        open_port = step.open_on != nullptr ? step.open_on : "";

        Form4->show();
        EXPECT_EQ(Form4->ComboBox1->currentText(), step.shown_next);
        Form4->close();
        if (holder >= 0) {
            ::close(holder);
        }
    }
}

}  // namespace
