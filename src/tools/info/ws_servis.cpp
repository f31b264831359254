#include "tools/info/ws_servis.h"

#include "platform/winsock.h"

namespace tools {
namespace {

constexpr NameList::Texts kTexts{
    "WS_SERVIS", "Services", "WS services on this machine", "Services list", " Port", 33, 5};

} // namespace

WS_SERVIS::WS_SERVIS() : NameList(kTexts, Last) {}

ui::WindowDefinition WS_SERVIS::makeDefinition() {
    return NameList::makeDefinition(kTexts);
}

const char* WS_SERVIS::officialName(int number) {
    // No protocol name means any protocol here: the first entry for the port,
    // whether it is named for tcp, udp or both.
    const win::servent* entry =
        win::getservbyport(win::htons(static_cast<win::u_short>(number)), nullptr);
    return entry ? entry->s_name : nullptr;
}

} // namespace tools
