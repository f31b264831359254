#include "net/receivedtext.h"

#include "platform/cp1250.h"
#include "platform/text.h"

namespace net {

std::string receivedText(std::string_view bytes) {
    return std::string(bytes.substr(0, bytes.find('\0')));
}

std::string loweredText(std::string_view bytes) {
    return cp1250::toLower(text::trimLeft(receivedText(bytes)));
}

std::string replyLine(std::string_view bytes) {
    const std::string text = receivedText(bytes);
    return text.substr(0, text.find('\r'));
}

} // namespace net
