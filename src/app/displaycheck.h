#pragma once

namespace app {

// Whether the program can open its windows, and a clear refusal when it cannot:
// without a display Qt would end the program with an abort (and a core dump).
class DisplayCheck {
public:
    // Whether the window system Qt is going to use has somewhere to show windows:
    // the platform named by -platform or QT_QPA_PLATFORM when one is given (X11
    // needs DISPLAY, Wayland WAYLAND_DISPLAY, the others nothing), else DISPLAY or
    // WAYLAND_DISPLAY.
    static bool available(int argc, char** argv);
    // Prints "no display: run with --headless, or set DISPLAY" and gives the exit
    // status for it, 1.
    static int refuse();

    // While held, a fatal message from Qt (a display that is named but cannot be
    // reached, a platform that cannot be loaded) ends the program the same way.
    DisplayCheck();
    ~DisplayCheck();
    DisplayCheck(const DisplayCheck&) = delete;
    DisplayCheck& operator=(const DisplayCheck&) = delete;
    void release();

private:
    bool m_held = true;
};

} // namespace app
