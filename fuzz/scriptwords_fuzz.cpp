// Script lines and the Windows-1250 edge: any bytes, no crash; a converted text
// always comes back as the same bytes.
#include "platform/cp1250.h"
#include "ui/console/consoleoutput.h"
#include "ui/console/scriptdriver.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    (void)ui::ScriptDriver::split(bytes);
    if (cp1250::fromUtf8(cp1250::toUtf8(bytes)) != bytes) std::abort();
    const std::string escaped = ui::ConsoleOutput::escape(bytes);
    if (escaped.find('\n') != std::string::npos || escaped.find('\r') != std::string::npos)
        std::abort();
    return 0;
}
