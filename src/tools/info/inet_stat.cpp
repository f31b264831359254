#include "tools/info/inet_stat.h"

#include "platform/text.h"

namespace tools {

Inet_stat::Inet_stat() : Inet_stat([] { return win::ReadLinkStatus(); }) {}

Inet_stat::Inet_stat(Source source)
    : ToolWindow("Inet_stat", ui::WindowDefinition{}), m_source(std::move(source)) {
    // Only the box is ever seen.
    model().setVisible(false);
}

std::string Inet_stat::boxText(const win::LinkStatus& link) {
    std::string status, speed;
    // A machine where the facts cannot be read at all shows two empty lines.
    if (link.known) {
        status = link.connected ? "Status: ON Line" : "Status: OFF Line";
        // Counted in 64 bits: a 10 Gb/s link is 10,000,000,000 b/s, beyond 32.
        if (link.connected && link.speed != 0)
            speed = "Link Speed: " + std::to_string(link.speed * 100) + " bps";
    }
    // The fields keep their blanks; they do not show in the box.
    return text::pad(status, FieldWidth) + "|" + text::pad(speed, FieldWidth);
}

void Inet_stat::onOpen() {
    messageBox(boxText(m_source()), "Internet status", ui::BoxIcon::Asterisk, ui::BoxButtons::Ok);
    postClose();
}

} // namespace tools
