// The serial link setup as the main window starts it: defaults, the scan, the dialog's list.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <cstdlib>

#include "Quarvel1/form1.h"
#include "config_serial/form4.h"
#include "config_serial/serial_settings.h"
#include "platform/port_map.h"
#include "temp_tree.h"

namespace {

using config_serial::committedSettings;

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
