#include "tools/info/ws_proto.h"

#include "platform/winsock.h"

namespace tools {
namespace {

constexpr NameList::Texts kTexts{
    "WS_PROTO", "Protocols", "Protocols on this machine", "Protocols list", " Nr.", 28, 4};

} // namespace

WS_PROTO::WS_PROTO() : NameList(kTexts, Last) {}

ui::WindowDefinition WS_PROTO::makeDefinition() {
    return NameList::makeDefinition(kTexts);
}

const char* WS_PROTO::officialName(int number) {
    const win::protoent* entry = win::getprotobynumber(number);
    return entry ? entry->p_name : nullptr;
}

} // namespace tools
