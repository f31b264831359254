#include "app/displaycheck.h"

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace app {
namespace {

QtMessageHandler g_previous = nullptr;

bool set(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value;
}

void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        // Qt has already said why (could not connect, no plugin); ours is the
        // line that says what to do, and the status a script can test.
        std::fputs(qPrintable(message), stderr);
        std::fputc('\n', stderr);
        std::_Exit(DisplayCheck::refuse());
    }
    if (g_previous) g_previous(type, context, message);
}

} // namespace

bool DisplayCheck::available(int argc, char** argv) {
    std::string platform;
    if (const char* env = std::getenv("QT_QPA_PLATFORM")) platform = env;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            platform = argv[i + 1];
    if (platform.empty()) return set("DISPLAY") || set("WAYLAND_DISPLAY");
    // A list ("wayland;xcb") is tried in order: any one that can work will do.
    std::size_t start = 0;
    while (start <= platform.size()) {
        std::size_t end = platform.find(';', start);
        if (end == std::string::npos) end = platform.size();
        // "xcb:option=value": the plugin's name comes before its options.
        const std::string entry = platform.substr(start, end - start);
        const std::string plugin = entry.substr(0, entry.find(':'));
        if (plugin == "xcb") {
            if (set("DISPLAY")) return true;
        } else if (plugin.rfind("wayland", 0) == 0) {
            if (set("WAYLAND_DISPLAY")) return true;
        } else if (!plugin.empty()) {
            return true; // offscreen, minimal, vnc, eglfs...: no display needed
        }
        start = end + 1;
    }
    return false;
}

int DisplayCheck::refuse() {
    std::fputs("no display: run with --headless, or set DISPLAY\n", stderr);
    return 1;
}

DisplayCheck::DisplayCheck() {
    g_previous = qInstallMessageHandler(onMessage);
}

DisplayCheck::~DisplayCheck() {
    release();
}

void DisplayCheck::release() {
    if (!m_held) return;
    m_held = false;
    qInstallMessageHandler(g_previous);
}

} // namespace app
