// Time from process start to the frame shown (offscreen), against a bare Qt
// program that shows an empty QMainWindow, both started the same way in one run.
// The same binary is both programs: `ours` runs the toolbox, `bare` the reference;
// each ends the moment its main window is visible.
#include "benchstats.h"
#include "app/application.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using bench::median;

// Ends the process as soon as a main window is visible.
void exitWhenShown() {
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMainWindow*>(w) && w->isVisible()) {
                std::fflush(stdout);
                ::_exit(0);
            }
    });
    timer->start(1);
}

bool g_probe = false;

void startupProbe() {
    if (g_probe) exitWhenShown();
}
Q_COREAPP_STARTUP_FUNCTION(startupProbe)

int bare(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.menuBar()->addMenu("&File");
    window.statusBar()->showMessage("ready");
    window.show();
    return app.exec();
}

double runChild(const std::string& self, const char* mode) {
    std::vector<char*> argv = {const_cast<char*>(self.c_str()), const_cast<char*>(mode), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    // Qt's warnings about the offscreen platform would bury the result.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "ours") == 0) {
        g_probe = true;
        char* args[] = {argv[0], nullptr};
        return app::run(1, args);
    }
    if (argc > 1 && std::strcmp(argv[1], "bare") == 0) {
        g_probe = true;
        return bare(argc - 1, argv + 1);
    }
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    // The toolbox writes nothing before its frame shows, but runs in a scratch
    // directory all the same.
    const auto dir = std::filesystem::temp_directory_path() / "ws-startup-bench";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    std::vector<double> ours, reference;
    runChild(self, "ours"); // warm the caches for both
    runChild(self, "bare");
    for (int i = 0; i < runs; ++i) {
        ours.push_back(runChild(self, "ours"));
        reference.push_back(runChild(self, "bare"));
    }
    const double o = median(ours), r = median(reference);
    std::printf("startup to frame shown (offscreen), median of %d runs\n", runs);
    std::printf("  wstoolbox frame:        %.1f ms\n", o);
    std::printf("  bare Qt QMainWindow:    %.1f ms\n", r);
    std::printf("  ratio %.2f (goal: at most 1.2)\n", o / r);
    return 0;
}
