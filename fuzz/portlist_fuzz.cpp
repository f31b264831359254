// The blockers' port lists are typed by people in any editor: whatever bytes a list
// holds, its records have their fixed widths, and the file is read as the bytes
// were loaded (at most its first 10,240).
#include "scratchdir.h"
#include "tools/blockers/portlist.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::enterScratchDirectory();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const PortList list = portlist::load(bytes);
    for (const PortRecord& r : list) {
        if (r.port.size() != portlist::PortWidth) std::abort();
        if (r.description.size() != portlist::DescriptionWidth) std::abort();
        (void)portlist::portValue(r);
    }
    fuzzing::writeFile("Varlo.tcp", bytes);
    const std::string read = portlist::readFile(portlist::path("Varlo.tcp"));
    if (read != bytes.substr(0, portlist::FileLimit)) std::abort();
    if (portlist::load(read).size() != list.size()) std::abort();
    return 0;
}
