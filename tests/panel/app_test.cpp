// The standard error report, driven through the program's own application object (this binary
// has its own main for that reason).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "app/application.h"
#include "panel_support.h"

namespace {

using panel_test::MessageBoxCatcher;

// Stands for any handler that fails: its event handling throws.
class ThrowingObject : public QObject {
  public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            throw std::runtime_error("Não foi possível: handler failed");
        }
        if (event->type() == QEvent::User + 1) {
            throw 42;  // not a std::exception
        }
        return QObject::event(event);
    }
};

// Counts events that arrive after a failure.
class CountingObject : public QObject {
  public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            ++delivered;
            return true;
        }
        return QObject::event(event);
    }
    int delivered = 0;
};

TEST(ErrorReport, HandlerFailureIsShownAndTheProgramGoesOn) {
    QCoreApplication::setApplicationName("Reporttitle");
    struct Row {
        const char* name;
        QEvent::Type type;
        QString text;
    };
    const Row rows[] = {
        {"std::exception", QEvent::User, QString::fromUtf8("Não foi possível: handler failed")},
        {"anything else", QEvent::Type(QEvent::User + 1), "Unknown exception"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MessageBoxCatcher catcher;
        ThrowingObject failing;
        // Posted, so that it travels the event loop like a click or a tick.
        QCoreApplication::postEvent(&failing, new QEvent(row.type));
        ASSERT_TRUE(QTest::qWaitFor([&] { return catcher.shown().seen; }));
        EXPECT_EQ(catcher.shown().title, "Reporttitle");
        EXPECT_EQ(catcher.shown().text, row.text);
        EXPECT_EQ(catcher.shown().icon, QMessageBox::Critical);

        CountingObject next;
        QCoreApplication::postEvent(&next, new QEvent(QEvent::User));
        EXPECT_TRUE(QTest::qWaitFor([&] { return next.delivered == 1; }));
    }
}

TEST(ErrorReport, ConstructionFailureIsShownAndEndsTheRunWithZero) {
    QCoreApplication::setApplicationName("Quarvel");
    MessageBoxCatcher catcher;
    bool built = false;
    const int code = app::run_windows(*qApp, [&]() -> std::unique_ptr<QWidget> {
        auto window = std::make_unique<QWidget>();
        window->show();
        built = true;
        throw std::runtime_error("cannot listen on 4099");
    });
    EXPECT_TRUE(built);
    EXPECT_EQ(code, 0);
    ASSERT_TRUE(catcher.shown().seen);
    EXPECT_EQ(catcher.shown().title, "Quarvel");
    EXPECT_EQ(catcher.shown().text, "cannot listen on 4099");
    for (QWidget* window : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(window->isVisible()) << window->metaObject()->className();
    }
}

TEST(ErrorReport, RunEndsWithZeroWhenTheMainWindowCloses) {
    MessageBoxCatcher catcher;
    const int code = app::run_windows(*qApp, [] {
        auto window = std::make_unique<QWidget>();
        window->show();
        QTimer::singleShot(10, window.get(), &QWidget::close);
        return window;
    });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(catcher.shown().seen);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app::Application application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
