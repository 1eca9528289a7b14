// The main window's serial component: its design values, "Single" delivering the telegram to the
// open port, and closing the window closing the port.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <memory>
#include <string>

#include "Quarvel1/form1.h"
#include "ZComm/zcomm.h"
#include "tests/zcomm/pty.h"

namespace {

using namespace std::chrono_literals;
using zcomm_test::Pty;

class PanelSerialTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        telegramBuffer.clear();
        server_port = 0;  // 4099 belongs to the end-to-end test named for it
        form = std::make_unique<TForm1>();
    }
    void TearDown() override {
        form.reset();
        server_port = 4099;
    }

    Pty pty;
    std::unique_ptr<TForm1> form;
};

TEST_F(PanelSerialTest, ZComm1HoldsTheWindowDesignValues) {
    const TZComm& c = *form->ZComm1;
    struct Row {
        const char* name;
        std::int64_t actual, expected;
    };
    const Row rows[] = {
        {"Connected", c.Connected(), 0},
        {"BaudRate", c.BaudRate, 9600},
        {"MaxReadLength", c.MaxReadLength, 1024},
        {"InputQueueSize", c.InputQueueSize, 1024},
        {"OutputQueueSize", c.OutputQueueSize, 1024},
        {"EnableParity", c.EnableParity, 0},
        {"XOuputFlowCtl", c.XOuputFlowCtl, 0},
        {"XInputFlowCtl", c.XInputFlowCtl, 0},
        {"ErrorReplace", c.ErrorReplace, 1},
        {"AbortOnError", c.AbortOnError, 0},
        {"ErrorChar", c.ErrorChar, 126},
        {"TimeoutReadInterval", c.TimeoutReadInterval, 65535},
        {"TimeoutReadMultiplier", c.TimeoutReadMultiplier, 1},
        {"TimeoutReadConstant", c.TimeoutReadConstant, 5000},
        {"TimeoutWriteMultiplier", c.TimeoutWriteMultiplier, 1},
        {"TimeoutWriteConstant", c.TimeoutWriteConstant, 5000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.actual, row.expected);
    }
    EXPECT_EQ(c.Version(), "1.0.8");
    EXPECT_TRUE(c.Port.empty());
}

TEST_F(PanelSerialTest, SingleDeliversTheTelegramToTheOpenPort) {
    form->ZComm1->Port = pty.path();
    ASSERT_NE(form->ZComm1->OpenConnection(), 0);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        ASSERT_GE(telegramBuffer.size(), 2u);
        EXPECT_EQ(telegramBuffer.substr(telegramBuffer.size() - 2), "\r\n");
        EXPECT_EQ(pty.receive(telegramBuffer.size()), telegramBuffer);
    }
}

TEST_F(PanelSerialTest, SingleWithTheSerialPortClosedWritesNothing) {
    form->ZComm1->Port = pty.path();
    ASSERT_NE(form->ZComm1->OpenConnection(), 0);
    form->ZComm1->CloseConnection();
    QTest::mouseClick(form->Button4, Qt::LeftButton);
    EXPECT_FALSE(telegramBuffer.empty());
    EXPECT_EQ(pty.receive(1, 100ms), "");
}

TEST_F(PanelSerialTest, ClosingTheWindowClosesThePort) {
    form->ZComm1->Port = pty.path();
    ASSERT_NE(form->ZComm1->OpenConnection(), 0);
    form->close();
    EXPECT_EQ(form->ZComm1->Connected(), 0);
    TZComm other(nullptr);
    other.Port = pty.path();
    EXPECT_NE(other.OpenConnection(), 0) << "the port is free again";
}

}  // namespace
