#pragma once
#include "tools/info/namelist.h"

namespace tools {

// The ports 1 to 1023 that the system's services database names, for any
// protocol: a port named for tcp and udp alike gives one row.
class WS_SERVIS : public NameList {
public:
    static constexpr int Last = 1023;

    WS_SERVIS();
    static ui::WindowDefinition makeDefinition();

protected:
    const char* officialName(int number) override;
};

} // namespace tools
