#pragma once
#include "platform/linkstatus.h"
#include "ui/toolwindow.h"

#include <functional>
#include <string>

namespace tools {

// The internet status check: no window of its own, one message box with the
// state of the machine's link and its speed; the check ends when the box is
// dismissed. Every menu selection makes a new check.
class Inet_stat : public ui::ToolWindow {
public:
    static constexpr std::size_t FieldWidth = 32;
    using Source = std::function<win::LinkStatus()>;

    Inet_stat();
    // Tests give the link's facts from elsewhere.
    explicit Inet_stat(Source source);

    // The box's text: the status field, a line break and the speed field, each
    // blank-padded to 32 characters.
    static std::string boxText(const win::LinkStatus& link);

protected:
    void onOpen() override;
    bool usesPlacement() const override { return false; }

private:
    Source m_source;
};

} // namespace tools
