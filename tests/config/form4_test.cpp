#include "config_serial/form4.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "config_serial/serial_settings.h"

namespace {

using config_serial::committedSettings;
using config_serial::LineChanged;
using config_serial::PortChanged;
using config_serial::SerialSettings;
using config_serial::SettingsChange;

constexpr std::uint32_t kUnwritten = 0xdeadu;

QStringList items_of(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) {
        items << box->itemText(i);
    }
    return items;
}

class Form4Test : public testing::Test {
  protected:
    void SetUp() override {
        committedSettings = config_serial::kDefaultSettings;
        config_serial::pendingSettings = SerialSettings{};
        SettingsChange = kUnwritten;
    }

    QComboBox* list(int n) const {
        QComboBox* boxes[] = {form.ComboBox1, form.ComboBox2, form.ComboBox3, form.ComboBox4,
                              form.ComboBox5};
        return boxes[n - 1];
    }

    // Picks as the operator does, with the keyboard: each step is a real selection change.
    void pick(int n, int item) const {
        QComboBox* box = list(n);
        QTest::keyClick(box, Qt::Key_Home);
        for (int i = 0; i < item; ++i) {
            QTest::keyClick(box, Qt::Key_Down);
        }
        ASSERT_EQ(box->currentIndex(), item);
    }

    QStringList shown() const {
        QStringList texts;
        for (int n = 1; n <= 5; ++n) {
            texts << list(n)->currentText();
        }
        return texts;
    }

    QStringList avail{"Fechar", "COM1", "COM3", "COM12"};
    TForm4 form{[this] { return avail; }};
};

TEST_F(Form4Test, FirstShowingShowsTheDefaults) {
    form.show();
    EXPECT_EQ(shown(), (QStringList{"Fechar", "9600", "Nenhuma", "8", "1"}));
    EXPECT_EQ(items_of(form.ComboBox1), avail);
    EXPECT_EQ(config_serial::pendingSettings, config_serial::kDefaultSettings);
}

TEST_F(Form4Test, CaptionsAndItemsStandAsDesigned) {
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Configuração"));
    const QLabel* labels[] = {form.Label1, form.Label2, form.Label3, form.Label4, form.Label5};
    const char* captions[] = {"Porta serial", "Baud rate", "Paridade", "Data bits", "Stop bits"};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(captions[i]);
        EXPECT_EQ(labels[i]->text(), QString::fromUtf8(captions[i]));
        EXPECT_TRUE(labels[i]->font().bold());
        EXPECT_FALSE(list(i + 1)->isEditable());
    }
    EXPECT_EQ(items_of(form.ComboBox2),
              (QStringList{"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200",
                           "128000", "256000"}));
    EXPECT_EQ(items_of(form.ComboBox3),
              (QStringList{"Nenhuma", QString::fromUtf8("Ímpar"), "Par", "Mark", "Space"}));
    EXPECT_EQ(items_of(form.ComboBox4), (QStringList{"8", "7", "6", "5", "4"}));
    EXPECT_EQ(items_of(form.ComboBox5), (QStringList{"1", QString::fromUtf8("1½"), "2"}));
    EXPECT_EQ(form.Button1->text(), "OK");
    EXPECT_EQ(form.Button2->text(), "Cancel");
    for (const QPushButton* b : {form.Button1, form.Button2}) {
        EXPECT_FALSE(b->isDefault());
        EXPECT_FALSE(b->autoDefault());
    }
}

TEST_F(Form4Test, FrameIsFixedWithACloseBox) {
    form.show();
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    const auto flags = form.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
}

enum class Close { Ok, Cancel, CloseBox, Escape };

struct OutcomeCase {
    const char* label;
    std::vector<std::pair<int, int>> picks;  // (list number, item)
    Close close;
    std::uint32_t change;
    SerialSettings committed;
    QStringList shown_next;
};

void PrintTo(const OutcomeCase& row, std::ostream* os) {
    *os << row.label;
}

class Form4Outcome : public Form4Test, public testing::WithParamInterface<OutcomeCase> {};

TEST_P(Form4Outcome, CommitsOnlyOnOkAndOnlyWhatChanged) {
    const auto& row = GetParam();
    form.show();
    for (auto [n, item] : row.picks) {
        pick(n, item);
    }
    switch (row.close) {
        case Close::Ok:
            QTest::mouseClick(form.Button1, Qt::LeftButton);
            break;
        case Close::Cancel:
            QTest::mouseClick(form.Button2, Qt::LeftButton);
            break;
        case Close::CloseBox:
            form.close();
            break;
        case Close::Escape:
            QTest::keyClick(&form, Qt::Key_Escape);
            break;
    }
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(SettingsChange, row.change);
    EXPECT_EQ(committedSettings, row.committed);

    // The next showing shows what is in force, whatever was picked before.
    form.show();
    EXPECT_EQ(shown(), row.shown_next);
    EXPECT_EQ(config_serial::pendingSettings, row.committed);
}

constexpr SerialSettings kDefaults = config_serial::kDefaultSettings;
const QStringList kDefaultsShown{"Fechar", "9600", "Nenhuma", "8", "1"};

INSTANTIATE_TEST_SUITE_P(
    Closes, Form4Outcome,
    testing::Values(
        OutcomeCase{"ok_without_picks", {}, Close::Ok, 0, kDefaults, kDefaultsShown},
        OutcomeCase{
            "port_picked_and_set_back", {{1, 2}, {1, 0}}, Close::Ok, 0, kDefaults, kDefaultsShown},
        OutcomeCase{"baud_only",
                    {{2, 4}},
                    Close::Ok,
                    LineChanged,
                    {0, 19200, 0, 4, 0},
                    {"Fechar", "19200", "Nenhuma", "8", "1"}},
        OutcomeCase{"port_and_stop_bits",
                    {{1, 3}, {5, 1}},
                    Close::Ok,
                    PortChanged | LineChanged,
                    {3, 9600, 0, 4, 1},
                    {"COM12", "9600", "Nenhuma", "8", QString::fromUtf8("1½")}},
        OutcomeCase{"port_only",
                    {{1, 1}},
                    Close::Ok,
                    PortChanged,
                    {1, 9600, 0, 4, 0},
                    {"COM1", "9600", "Nenhuma", "8", "1"}},
        OutcomeCase{"mark_parity_seven_bits",
                    {{3, 3}, {4, 1}},
                    Close::Ok,
                    LineChanged,
                    {0, 9600, 3, 3, 0},
                    {"Fechar", "9600", "Mark", "7", "1"}},
        OutcomeCase{"baud_set_back_parity_kept",
                    {{2, 9}, {2, 3}, {3, 4}},
                    Close::Ok,
                    LineChanged,
                    {0, 9600, 4, 4, 0},
                    {"Fechar", "9600", "Space", "8", "1"}},
        OutcomeCase{
            "picks_then_cancel", {{1, 1}, {2, 0}}, Close::Cancel, 0, kDefaults, kDefaultsShown},
        OutcomeCase{"picks_then_close_box",
                    {{1, 1}, {4, 4}},
                    Close::CloseBox,
                    0,
                    kDefaults,
                    kDefaultsShown},
        OutcomeCase{"picks_then_escape", {{5, 2}}, Close::Escape, 0, kDefaults, kDefaultsShown}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(Form4Test, ActivationSelectsWithoutCountingAsPicks) {
    committedSettings = SerialSettings{2, 115200, 3, 1, 2};
    form.show();
    EXPECT_EQ(shown(), (QStringList{"COM3", "115200", "Mark", "5", "2"}));
    EXPECT_EQ(config_serial::pendingSettings, committedSettings);
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_EQ(SettingsChange, 0u);
    EXPECT_EQ(committedSettings, (SerialSettings{2, 115200, 3, 1, 2}));
}

TEST_F(Form4Test, AfterAFailedOpenFechaIsSelectedWithTheLineKept) {
    committedSettings = SerialSettings{0, 38400, 2, 2, 0};
    form.show();
    EXPECT_EQ(shown(), (QStringList{"Fechar", "38400", "Par", "6", "1"}));
}

TEST_F(Form4Test, PortListIsRefilledAtEachShowing) {
    form.show();
    form.close();
    avail = QStringList{"Fechar"};
    form.show();
    EXPECT_EQ(items_of(form.ComboBox1), QStringList{"Fechar"});
    EXPECT_EQ(form.ComboBox1->currentText(), "Fechar");
}

// Restoring a minimised dialog (it goes down with the main window) is no new showing.
TEST_F(Form4Test, PicksSurviveMinimiseAndRestore) {
    form.show();
    pick(2, 7);
    pick(1, 2);
    form.setWindowState(Qt::WindowMinimized);
    form.setWindowState(Qt::WindowNoState);
    EXPECT_EQ(shown(), (QStringList{"COM3", "115200", "Nenhuma", "8", "1"}));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_EQ(SettingsChange, PortChanged | LineChanged);
    EXPECT_EQ(committedSettings, (SerialSettings{2, 115200, 0, 4, 0}));
}

TEST_F(Form4Test, EnterDoesNotCommit) {
    form.show();
    pick(2, 7);
    QTest::keyClick(form.ComboBox2, Qt::Key_Return);
    QTest::keyClick(form.ComboBox2, Qt::Key_Enter);
    QTest::keyClick(form.Button1, Qt::Key_Return);
    QTest::keyClick(&form, Qt::Key_Enter);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(SettingsChange, kUnwritten);
    EXPECT_EQ(committedSettings, config_serial::kDefaultSettings);
    EXPECT_EQ(config_serial::pendingSettings.baudRate, 115200);
}

// The way the main window shows it: a modal exec() with its own event loop.
TEST_F(Form4Test, ModalShowingEndsWithTheOutcome) {
    QTimer::singleShot(0, &form, [this] {
        pick(2, 0);
        QTest::mouseClick(form.Button1, Qt::LeftButton);
    });
    form.exec();
    EXPECT_EQ(SettingsChange, LineChanged);
    EXPECT_EQ(committedSettings.baudRate, 1200);

    QTimer::singleShot(0, &form, [this] {
        pick(2, 9);
        form.close();
    });
    form.exec();
    EXPECT_EQ(SettingsChange, 0u);
    EXPECT_EQ(committedSettings.baudRate, 1200);
}

}  // namespace
