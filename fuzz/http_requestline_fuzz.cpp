// Request lines come from any peer: the server's file name rule must not crash,
// and a name it makes always begins with the served directory.
#include "tools/http/requestline.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace tools::http;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto path = requestedPath(line);
    if (!path) return 0;
    const std::string name = servedFileName("/srv/www/", servedPath(*path, "default.htm"));
    if (!name.starts_with("/srv/www/") || name.size() > 254) std::abort();
    return 0;
}
