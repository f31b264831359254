#pragma once
#include "settings/windowstate.h"

#include <string>
#include <vector>

// A window that records every change made to it, in order.
class FakeWindow : public WindowState {
public:
    bool minimized = false;
    bool maximized = false;
    bool resizable = true;
    int px = 0, py = 0, pw = 0, ph = 0;
    std::vector<std::string> calls;

    bool isMinimized() const override { return minimized; }
    bool isMaximized() const override { return maximized; }
    bool isResizable() const override { return resizable; }
    int x() const override { return px; }
    int y() const override { return py; }
    int width() const override { return pw; }
    int height() const override { return ph; }

    void setPosition(int x, int y) override { record("position", x), px = x, py = y; }
    void setX(int x) override { record("x", x), px = x; }
    void setY(int y) override { record("y", y), py = y; }
    void setSize(int w, int h) override { record("size", w), pw = w, ph = h; }
    void setWidth(int w) override { record("width", w), pw = w; }
    void setHeight(int h) override { record("height", h), ph = h; }
    void setMaximized(bool m) override { record("maximized", m), maximized = m; }
    void restore() override {
        calls.push_back("restore");
        maximized = minimized = false;
    }

private:
    void record(const char* what, int value) {
        calls.push_back(std::string(what) + "=" + std::to_string(value));
    }
};
