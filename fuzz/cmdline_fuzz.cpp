// The command line: any arguments are read into options or refused with a reason,
// never half-taken.
#include "app/application.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Arguments separated by zero bytes, as the system hands them over.
    std::vector<std::string> args;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty()) args.push_back(current);
    const app::Options o = app::parseOptions(args);
    if (o.error.empty()) {
        if (!o.script.empty() && !o.headless) std::abort();
        for (const auto& open : o.opens)
            if (open.empty()) std::abort();
    }
    return 0;
}
