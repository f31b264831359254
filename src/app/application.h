#pragma once
#include <string>
#include <vector>

namespace app {

struct Options {
    bool headless = false;
    bool help = false;
    bool version = false;
    // Every hit of the port blockers also goes to the system log.
    bool syslog = false;
    // Headless: JSON objects on standard output rather than text lines.
    bool json = false;
    // Every event also appended to this file as a JSON line, from either front end.
    std::string events;
    std::string script; // file name, "-" for standard input, empty for none
    // Procedures to open at start, each with its arguments.
    std::vector<std::vector<std::string>> opens;
    std::string error; // set when the command line could not be read
};

Options parseOptions(const std::vector<std::string>& args);
std::string usage();

// Runs the program: the frame and its tools with a screen, or headless.
int run(int argc, char** argv);

} // namespace app
