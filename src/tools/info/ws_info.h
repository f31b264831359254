#pragma once
#include "ui/toolwindow.h"

namespace tools {

// The sockets layer's start-up data as the frame received it: version, description,
// status and limits, shown once when the window opens and never refreshed.
class WS_INFO : public ui::ToolWindow {
public:
    enum Control {
        VersionPrompt = 1,
        Version,
        DescriptionPrompt,
        Description,
        StatusPrompt,
        Status,
        MaxSocketsPrompt,
        MaxSockets,
        MaxUdpPrompt,
        MaxUdp,
        Initialized,
        OkButton,
    };

    WS_INFO();
    static ui::WindowDefinition makeDefinition();

protected:
    void onOpen() override;
    void onControl(int control) override;
    // This window keeps no placement.
    bool usesPlacement() const override { return false; }
};

} // namespace tools
