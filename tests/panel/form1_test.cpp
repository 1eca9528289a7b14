#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QtTest/QTest>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Quarvel1/form1.h"
#include "Quarvel1/repeat_timer.h"
#include "Quarvel1/title.h"
#include "Quarvel1/up_down.h"
#include "panel_support.h"
#include "tests/support/telegram_check.h"

namespace {

using quarvel::ReferenceFrame;

std::string executable_title() {
    return quarvel::strip_extension(QCoreApplication::applicationFilePath().toStdString());
}

// A panel as the program starts it, with the clock fixed at 14:05:09.123 and INTERVAL set as the
// test asks (unset by default).
class PanelTest : public ::testing::Test {
  protected:
    void make_panel(std::optional<const char*> interval = std::nullopt) {
        if (interval) {
            setenv("INTERVAL", *interval, 1);
        } else {
            unsetenv("INTERVAL");
        }
        form = std::make_unique<TForm1>();
    }

    void SetUp() override {
        activityToggle = true;
        selectedFrame = ReferenceFrame::Bow;
        programTitle.clear();
        telegramBuffer.clear();
        telegram_clock = [] { return quarvel::LocalTime{14, 5, 9, 123}; };
        server_port = 0;  // 4099 belongs to the end-to-end test named for it
    }

    void TearDown() override {
        form.reset();
        unsetenv("INTERVAL");
        telegram_clock = quarvel::local_wall_clock;
        server_port = 4099;
    }

    void activate() {
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        ASSERT_TRUE(QTest::qWaitFor([] { return !programTitle.empty(); }));
    }

    QString caption() const { return form->windowTitle(); }
    QString title_with(const char* mark) const {
        return QString::fromStdString(programTitle) + QString::fromLatin1(mark);
    }

    std::unique_ptr<TForm1> form;
};

TEST_F(PanelTest, ControlsSitAtTheirPlacesWithTheirCaptions) {
    make_panel();
    struct Row {
        const char* name;
        QWidget* widget;
        QRect place;
        QString caption;
    };
    const std::vector<Row> rows = {
        {"Label3", form->Label3, {8, 8, 10, 16}, "X"},
        {"Label4", form->Label4, {8, 32, 11, 16}, "Y"},
        {"Label1", form->Label1, {8, 56, 10, 16}, "Z"},
        {"Edit3", form->Edit3, {48, 4, 105, 21}, "0"},
        {"Edit4", form->Edit4, {48, 28, 105, 21}, "0"},
        {"Edit1", form->Edit1, {48, 52, 105, 21}, "0"},
        {"UpDown1", form->UpDown1, {153, 4, 23, 21}, ""},
        {"UpDown2", form->UpDown2, {153, 28, 23, 21}, ""},
        {"UpDown3", form->UpDown3, {153, 52, 23, 21}, ""},
        {"Button3", form->Button3, {8, 80, 42, 25}, "Config."},
        {"Button4", form->Button4, {50, 80, 42, 25}, "Single"},
        {"Button1", form->Button1, {92, 80, 42, 25}, "Start"},
        {"Button2", form->Button2, {134, 80, 42, 25}, "Stop"},
        {"RadioButton1", form->RadioButton1, {8, 108, 49, 17}, "Proa"},
        {"RadioButton2", form->RadioButton2, {72, 108, 49, 17}, "Norte"},
        {"RadioButton3", form->RadioButton3, {135, 108, 41, 17}, "Este"},
        {"ListBox_Ports", form->ListBox_Ports, {9, 135, 25, 25}, ""},
        {"ListBox_Avail", form->ListBox_Avail, {41, 135, 25, 25}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.widget->geometry(), row.place);
        QString text;
        if (auto* label = qobject_cast<QLabel*>(row.widget)) {
            text = label->text();
        } else if (auto* edit = qobject_cast<QLineEdit*>(row.widget)) {
            text = edit->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(row.widget)) {
            text = button->text();
        }
        EXPECT_EQ(text, row.caption);
        const bool hidden_list = qobject_cast<QListWidget*>(row.widget) != nullptr;
        EXPECT_EQ(row.widget->isVisible(), !hidden_list);
    }
    EXPECT_TRUE(form->RadioButton1->isChecked());
    EXPECT_FALSE(form->RadioButton2->isChecked());
    EXPECT_FALSE(form->RadioButton3->isChecked());
    ASSERT_EQ(form->ListBox_Ports->count(), 256);
    EXPECT_EQ(form->ListBox_Ports->item(0)->text(), "COM1");
    EXPECT_EQ(form->ListBox_Ports->item(255)->text(), "COM256");
    // The port scan at construction fills it; "Fechar" always comes first.
    ASSERT_GE(form->ListBox_Avail->count(), 1);
    EXPECT_EQ(form->ListBox_Avail->item(0)->text(), "Fechar");
}

TEST_F(PanelTest, FontsHaveTheirPixelSizes) {
    make_panel();
    struct Row {
        const char* name;
        QWidget* widget;
        int pixel_size;
        bool bold;
    };
    const std::vector<Row> rows = {
        {"window", form.get(), 11, false},     {"Edit3", form->Edit3, 11, false},
        {"Label3", form->Label3, 13, true},    {"Label4", form->Label4, 13, true},
        {"Label1", form->Label1, 13, true},    {"Button3", form->Button3, 8, false},
        {"Button4", form->Button4, 11, false}, {"RadioButton1", form->RadioButton1, 11, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.widget->font().pixelSize(), row.pixel_size);
        EXPECT_EQ(row.widget->font().bold(), row.bold);
        EXPECT_TRUE(row.widget->font().families().contains("DejaVu Sans"));
    }
}

TEST_F(PanelTest, WindowIsFixedStaysOnTopAndHasNoMaximiseButton) {
    make_panel();
    EXPECT_EQ(form->geometry(), QRect(206, 151, 183, 130));
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    for (const QSize asked : {QSize(300, 200), QSize(10, 10), QSize(183, 500)}) {
        SCOPED_TRACE(asked.width());
        form->resize(asked);
        QCoreApplication::processEvents();
        EXPECT_EQ(form->size(), QSize(183, 130));
        int width = asked.width();
        int height = asked.height();
        bool resize = true;
        form->FormCanResize(form.get(), width, height, resize);
        EXPECT_FALSE(resize);
    }
}

TEST_F(PanelTest, CaptionIsQuarvelUntilTheFirstActivationOnly) {
    make_panel();
    EXPECT_EQ(caption(), "Quarvel");
    EXPECT_TRUE(programTitle.empty());
    activate();
    EXPECT_EQ(programTitle, executable_title());
    EXPECT_EQ(caption().toStdString(), executable_title());
    EXPECT_EQ(QCoreApplication::applicationName().toStdString(), executable_title());

    // A later activation must leave the caption as transmission left it.
    form->Button4->click();
    const QString marked = caption();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    activate();
    EXPECT_EQ(caption(), marked);
}

TEST_F(PanelTest, SingleTurnsTheMarkAndComposesEachTime) {
    make_panel();
    activate();
    for (const char* mark : {" /", " \\", " /"}) {
        SCOPED_TRACE(mark);
        telegramBuffer.clear();
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        EXPECT_EQ(caption(), title_with(mark));
        const auto check = test_support::check_telegram(telegramBuffer);
        EXPECT_TRUE(check.ok) << check.why << " in " << telegramBuffer;
    }
    EXPECT_FALSE(activityToggle);

    // "Stop" while idle only takes the mark away.
    QTest::mouseClick(form->Button2, Qt::LeftButton);
    EXPECT_EQ(caption(), title_with(""));
    EXPECT_TRUE(form->Button4->isEnabled());
}

TEST_F(PanelTest, TelegramFollowsTheEditsAndTheFrameButtons) {
    make_panel();
    form->Edit3->setText("12.5");
    form->Edit4->setText("-3");
    form->Edit1->setText("40");
    struct Row {
        const char* name;
        QRadioButton* button;
        ReferenceFrame frame;
        std::string telegram;
    };
    const std::vector<Row> rows = {
        {"Norte", form->RadioButton2, ReferenceFrame::North,
         "$PXTQSSB,140509.12,B31,A,ExD,C,N,F,-3.00,12.50,40.00,8.42,N,,*34\r\n"},
        {"Este", form->RadioButton3, ReferenceFrame::East,
         "$PXTQSSB,140509.12,B31,A,ExD,C,E,F,12.50,-3.00,40.00,8.42,N,,*3F\r\n"},
        {"Proa", form->RadioButton1, ReferenceFrame::Bow,
         "$PXTQSSB,140509.12,B31,A,ExD,C,H,F,12.50,-3.00,40.00,8.42,N,,*32\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTest::mouseClick(row.button, Qt::LeftButton);
        EXPECT_TRUE(row.button->isChecked());
        EXPECT_EQ(selectedFrame, row.frame);
        form->single_shot();
        EXPECT_EQ(telegramBuffer, row.telegram);
        const auto check = test_support::check_telegram(telegramBuffer);
        EXPECT_TRUE(check.ok) << check.why;
    }
    // The radio buttons form one group.
    EXPECT_FALSE(form->RadioButton2->isChecked());
    EXPECT_FALSE(form->RadioButton3->isChecked());
}

TEST_F(PanelTest, FrameHandlerActsOnlyWhenItsOwnButtonIsChecked) {
    make_panel();
    form->RadioButton2Click(form->RadioButton2);
    form->RadioButton3Click(form->RadioButton3);
    EXPECT_EQ(selectedFrame, ReferenceFrame::Bow);
    form->RadioButton3->setChecked(true);
    EXPECT_EQ(selectedFrame, ReferenceFrame::East);
    form->RadioButton1Click(form->RadioButton1);
    EXPECT_EQ(selectedFrame, ReferenceFrame::East);
}

TEST_F(PanelTest, IntervalComesFromTheEnvironment) {
    struct Row {
        const char* name;
        std::optional<const char*> value;
        std::uint32_t interval;
    };
    const std::vector<Row> rows = {
        {"unset", std::nullopt, 2000},   {"empty", "", 2000}, {"1500", "1500", 3000},
        {"blanks", "  250xyz", 500},     {"zero", "0", 0},    {"letters", "abc", 0},
        {"negative", "-1", 0xFFFFFFFEu},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        make_panel(row.value);
        EXPECT_EQ(form->Timer1->interval(), row.interval);
        EXPECT_FALSE(form->Timer1->hasHandler());
        form.reset();
    }
}

// Records when the caption changes, and whether "Single" was enabled at that moment.
struct CaptionLog {
    explicit CaptionLog(TForm1& form) {
        clock.start();
        QObject::connect(&form, &QWidget::windowTitleChanged, &form, [this, &form] {
            at_ms.push_back(clock.elapsed());
            single_enabled.push_back(form.Button4->isEnabled());
        });
    }
    QElapsedTimer clock;
    std::vector<qint64> at_ms;
    std::vector<bool> single_enabled;
};

TEST_F(PanelTest, StartTicksOneIntervalAfterEachPressUntilStop) {
    make_panel("100");  // 200 ms
    activate();
    const qint64 interval = form->Timer1->interval();
    ASSERT_EQ(interval, 200);
    CaptionLog log(*form);

    QTest::mouseClick(form->Button1, Qt::LeftButton);
    EXPECT_FALSE(form->Button4->isEnabled());
    QTest::qWait(static_cast<int>(interval / 2));
    const qint64 second_press = log.clock.elapsed();
    QTest::mouseClick(form->Button1, Qt::LeftButton);  // restarts the countdown
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.at_ms.size() >= 3; }));
    // Tick n is due n intervals after the second press and never comes earlier; 2 ms allow for
    // the ms rounding of the two clocks. A first tick one interval after the first press would
    // come half an interval too early.
    for (std::size_t n = 0; n < log.at_ms.size(); ++n) {
        EXPECT_GE(log.at_ms[n] - second_press, static_cast<qint64>(n + 1) * interval - 2)
            << "tick " << n + 1;
    }
    for (const bool enabled : log.single_enabled) {
        EXPECT_FALSE(enabled);
    }
    EXPECT_TRUE(test_support::check_telegram(telegramBuffer).ok);

    QTest::mouseClick(form->Button2, Qt::LeftButton);
    EXPECT_TRUE(form->Button4->isEnabled());
    EXPECT_EQ(caption(), title_with(""));
    EXPECT_FALSE(form->Timer1->hasHandler());
    const std::size_t changes = log.at_ms.size();
    QTest::qWait(static_cast<int>(2 * interval));
    EXPECT_EQ(log.at_ms.size(), changes) << "a tick came after Stop";

    // The alternation runs on across Start and Stop.
    const std::size_t telegrams = changes - 1;  // the last change was Stop's
    QTest::mouseClick(form->Button4, Qt::LeftButton);
    EXPECT_EQ(caption(), title_with(telegrams % 2 == 0 ? " /" : " \\"));
}

TEST_F(PanelTest, IntervalZeroNeverTicksButStartStillDisablesSingle) {
    make_panel("0");
    QTest::mouseClick(form->Button1, Qt::LeftButton);
    EXPECT_FALSE(form->Button4->isEnabled());
    EXPECT_TRUE(form->Timer1->hasHandler());
    EXPECT_FALSE(form->Timer1->isCounting());
    QTest::mouseClick(form->Button2, Qt::LeftButton);
    EXPECT_TRUE(form->Button4->isEnabled());
}

TEST_F(PanelTest, SpinnersStepAndStopOrWrapAtTheEnds) {
    make_panel();
    struct Row {
        const char* name;
        TUpDown* spinner;
        QLineEdit* edit;
        QString after_up_from_top;
        QString after_down_from_bottom;
    };
    const std::vector<Row> rows = {
        {"X stops", form->UpDown1, form->Edit3, "20000", "-20000"},
        {"Y wraps", form->UpDown2, form->Edit4, "-20000", "20000"},
        {"Z stops", form->UpDown3, form->Edit1, "20000", "-20000"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTest::mouseClick(row.spinner->upButton(), Qt::LeftButton);
        EXPECT_EQ(row.edit->text(), "1");
        QTest::keyClick(row.edit, Qt::Key_Down);
        QTest::keyClick(row.edit, Qt::Key_Down);
        EXPECT_EQ(row.edit->text(), "-1");

        row.edit->setText("19999");
        QTest::keyClick(row.edit, Qt::Key_Up);
        EXPECT_EQ(row.edit->text(), "20000");
        QTest::mouseClick(row.spinner->upButton(), Qt::LeftButton);
        EXPECT_EQ(row.edit->text(), row.after_up_from_top);

        row.edit->setText("-20000");
        QTest::mouseClick(row.spinner->downButton(), Qt::LeftButton);
        EXPECT_EQ(row.edit->text(), row.after_down_from_bottom);
    }
}

TEST_F(PanelTest, SpinnerStepsFromItsOwnPositionWhenTheTextIsNoWholeNumberInRange) {
    make_panel();
    struct Row {
        const char* name;
        QString typed;
        QString after_up;
    };
    // The spinner's own position is 5 before each row.
    const std::vector<Row> rows = {
        {"whole number", "150", "151"},
        {"blanks and plus", " +7 ", "8"},
        {"negative", "-12", "-11"},
        {"decimals", "1.5", "6"},
        {"letters", "abc", "6"},
        {"empty", "", "6"},
        {"beyond the range", "30000", "6"},
        {"beyond int", "99999999999", "6"},
        {"trailing junk", "12x", "6"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        form->UpDown1->setPosition(5);
        form->Edit3->setText(row.typed);
        QTest::keyClick(form->Edit3, Qt::Key_Up);
        EXPECT_EQ(form->Edit3->text(), row.after_up);
    }
}

TEST_F(PanelTest, TabVisitsButtonsEditsAndTheSelectedFrameOnly) {
    make_panel();
    activate();
    QTest::mouseClick(form->RadioButton2, Qt::LeftButton);
    form->Button3->setFocus();
    const std::vector<QWidget*> expected = {form->Button4,      form->Button1, form->Button2,
                                            form->Edit3,        form->Edit4,   form->Edit1,
                                            form->RadioButton2, form->Button3};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next)
            << "expected " << next->objectName().toStdString() << ", got "
            << QApplication::focusWidget()->objectName().toStdString();
    }
    for (TUpDown* spinner : {form->UpDown1, form->UpDown2, form->UpDown3}) {
        EXPECT_EQ(spinner->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(spinner->upButton()->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(spinner->downButton()->focusPolicy(), Qt::NoFocus);
    }
}

}  // namespace
