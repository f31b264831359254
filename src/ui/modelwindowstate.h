#pragma once
#include "settings/windowstate.h"
#include "ui/windowmodel.h"

namespace ui {

// The placement store's view of a window: its model's placement.
class ModelWindowState : public WindowState {
public:
    ModelWindowState(WindowModel& model, bool resizable) : m_model(model), m_resizable(resizable) {}

    bool isMinimized() const override { return m_model.placement().minimized; }
    bool isMaximized() const override { return m_model.placement().maximized; }
    bool isResizable() const override { return m_resizable; }
    int x() const override { return m_model.placement().x; }
    int y() const override { return m_model.placement().y; }
    int width() const override { return m_model.placement().width; }
    int height() const override { return m_model.placement().height; }

    void setPosition(int x, int y) override { change([&](Placement& p) { p.x = x, p.y = y; }); }
    void setX(int x) override { change([&](Placement& p) { p.x = x; }); }
    void setY(int y) override { change([&](Placement& p) { p.y = y; }); }
    void setSize(int w, int h) override { change([&](Placement& p) { p.width = w, p.height = h; }); }
    void setWidth(int w) override { change([&](Placement& p) { p.width = w; }); }
    void setHeight(int h) override { change([&](Placement& p) { p.height = h; }); }
    void setMaximized(bool m) override { change([&](Placement& p) { p.maximized = m; }); }
    void restore() override {
        change([](Placement& p) { p.maximized = false, p.minimized = false; });
    }

private:
    template <typename F> void change(F f) {
        Placement p = m_model.placement();
        f(p);
        m_model.setPlacement(p);
    }
    WindowModel& m_model;
    bool m_resizable;
};

} // namespace ui
