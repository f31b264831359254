#include "tools/info/namelist.h"

#include "platform/text.h"

namespace tools {

NameList::NameList(const Texts& texts, int last)
    : ToolWindow(texts.procedure, makeDefinition(texts)), m_last(last) {}

ui::WindowDefinition NameList::makeDefinition(const Texts& texts) {
    ui::WindowDefinition d;
    d.caption = texts.caption;
    d.description = texts.description;
    d.width = 140;
    d.height = 200;
    ui::ControlDef list = ui::makeControl(List, ui::ControlKind::List, texts.listText);
    list.columns = {ui::ColumnDef{texts.numberWidth, texts.numberHeading, texts.numberChars},
                    ui::ColumnDef{76, "", static_cast<int>(NameWidth)}};
    d.controls = {list};
    return d;
}

void NameList::onOpen() {
    // The argument ("nohide" from the menu) changes nothing. The sockets layer is
    // the frame's to start: without it every lookup fails and the list stays empty.
    model().setWaitCursor(true);
    if (model().rowCount(List) > 0) model().clearList(List);
    for (int number = 1; number <= m_last; ++number) {
        // The entry lives in the thread's own storage until the next lookup, so its
        // name is copied into the row at once.
        const char* name = officialName(number);
        if (name == nullptr) continue;
        model().appendRow(List, {std::to_string(number), text::cut(name, NameWidth)});
    }
    model().setWaitCursor(false);
    model().redraw();
}

} // namespace tools
