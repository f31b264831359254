// Page paths and server names come from pages on the network: whatever they
// hold, the path rules must not crash, and a path they let through must never
// climb out of the server's folder.
#include "tools/http/fetchrules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace tools::http;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string dir = DirectoryPart(input);
    const std::string file = FileNamePart(input);
    if (file.find('/') != std::string::npos) std::abort();
    if (staysInside(dir + file)) {
        const std::string disk = diskPath(dir + file);
        if (disk.starts_with('/') || disk.starts_with("../") || disk == ".." ||
            disk.find("/../") != std::string::npos || disk.ends_with("/.."))
            std::abort();
    }
    const OffSiteTarget target = offSiteTarget(input);
    if (isPlainHostName(target.server) && target.server.find('/') != std::string::npos)
        std::abort();
    const std::string request = requestText(input, target.server, static_cast<std::uint16_t>(size));
    if (!request.starts_with("GET /") || !request.ends_with("\r\n\r\n")) std::abort();
    // A stored name never holds a byte that would not show.
    for (const char c : printableName(input))
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
    (void)splitHostPort(input);
    (void)isDottedAddress(input);
    (void)shouldFetch(size & 1, size & 2, size & 4);
    return 0;
}
