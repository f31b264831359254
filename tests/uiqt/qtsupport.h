#pragma once
// Shared by the Qt renderer's tests: one QApplication for the test program, a
// tool window the tests drive, and waiting on conditions with a deadline while
// the GUI thread's events are processed.
#include "ui/desktop.h"
#include "ui/procedureregistry.h"
#include "ui/qt/framewindow.h"
#include "ui/qt/qtfrontend.h"
#include "ui/qt/toolsubwindow.h"
#include "ui/toolwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace uiqt {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "uiqt_test";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

inline ::testing::Environment* const g_qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Processes the GUI thread's events until `done` holds or the time is up.
inline bool waitUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Keys as a person types them, so the widgets emit their "edited" signals.
inline void typeText(QWidget* widget, const QString& text) {
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(widget, &release);
    }
}

inline void pressKey(QWidget* widget, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
}

// A tool window for tests: runs what the test gives it on its own thread and
// records the controls and menu items that reached it.
class TestWindow : public ui::ToolWindow {
public:
    using ToolWindow::ToolWindow;

    std::function<void(TestWindow&)> onOpened;

    std::vector<int> controls() const {
        std::lock_guard lock(m_mutex);
        return m_controls;
    }
    std::vector<int> menus() const {
        std::lock_guard lock(m_mutex);
        return m_menus;
    }

protected:
    void onOpen() override {
        if (onOpened) onOpened(*this);
    }
    void onControl(int control) override {
        std::lock_guard lock(m_mutex);
        m_controls.push_back(control);
    }
    void onMenu(int id) override {
        std::lock_guard lock(m_mutex);
        m_menus.push_back(id);
    }
    bool usesPlacement() const override { return false; }

private:
    mutable std::mutex m_mutex;
    std::vector<int> m_controls;
    std::vector<int> m_menus;
};

// A front end and a desktop for one test; windows close when it ends.
class QtDesktopTest : public ::testing::Test {
protected:
    QtDesktopTest() : m_desktop(std::make_unique<ui::Desktop>(m_frontEnd, m_registry)) {}

    ~QtDesktopTest() override {
        m_desktop->closeAll();
        waitUntil([this] { return m_desktop->windows().empty(); }, 10000);
        m_desktop.reset();
    }

    // Starts the window and waits until its subwindow (or the frame) is shown.
    std::shared_ptr<TestWindow> open(std::unique_ptr<TestWindow> made) {
        TestWindow* raw = made.get();
        std::shared_ptr<ui::ToolWindow> started = m_desktop->start(std::move(made));
        const bool frame = !raw->definition().menu.empty();
        EXPECT_TRUE(waitUntil([&] {
            return frame ? m_frontEnd.mainWindow().isVisible() : m_frontEnd.subWindow(*raw) != nullptr;
        }));
        return std::static_pointer_cast<TestWindow>(started);
    }

    // Runs `fn` on the window's thread and waits for it, serving the GUI meanwhile.
    void onToolThread(ui::ToolWindow& window, std::function<void()> fn) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        window.invoke([fn, done] {
            fn();
            *done = true;
        });
        ASSERT_TRUE(waitUntil([done] { return done->load(); }));
    }

    ui::QtFrontEnd m_frontEnd;
    ui::ProcedureRegistry m_registry;
    std::unique_ptr<ui::Desktop> m_desktop;
};

} // namespace uiqt
