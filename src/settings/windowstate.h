#pragma once

// What the placement store needs of a window; the window framework implements it.
// Positions and sizes are in dialog units, the units of the window definitions,
// and are stored and applied unchanged (off-screen values included).
class WindowState {
public:
    virtual ~WindowState() = default;

    virtual bool isMinimized() const = 0;
    virtual bool isMaximized() const = 0;
    // Whether the user can resize the window (its definition says so).
    virtual bool isResizable() const = 0;
    virtual int x() const = 0;
    virtual int y() const = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;

    virtual void setPosition(int x, int y) = 0;
    virtual void setX(int x) = 0;
    virtual void setY(int y) = 0;
    virtual void setSize(int width, int height) = 0;
    virtual void setWidth(int width) = 0;
    virtual void setHeight(int height) = 0;
    virtual void setMaximized(bool maximized) = 0;
    // Back to normal size from maximised or minimised.
    virtual void restore() = 0;
};
