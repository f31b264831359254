#pragma once
#include "tools/info/namelist.h"

namespace tools {

// The IP protocol numbers 1 to 256 that the system's protocol database names.
class WS_PROTO : public NameList {
public:
    static constexpr int Last = 256;

    WS_PROTO();
    static ui::WindowDefinition makeDefinition();

protected:
    const char* officialName(int number) override;
};

} // namespace tools
