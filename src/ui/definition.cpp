#include "ui/definition.h"

#include "platform/text.h"

namespace ui {

const char* controlKindName(ControlKind kind) {
    switch (kind) {
    case ControlKind::Prompt:
        return "prompt";
    case ControlKind::Entry:
        return "entry";
    case ControlKind::Button:
        return "button";
    case ControlKind::CheckBox:
        return "checkbox";
    case ControlKind::Radio:
        return "radio";
    case ControlKind::SpinBox:
        return "spinbox";
    case ControlKind::List:
        return "list";
    case ControlKind::Group:
        return "group";
    case ControlKind::TextBox:
        return "textbox";
    case ControlKind::Picture:
        return "picture";
    case ControlKind::Display:
        return "display";
    case ControlKind::Chart:
        return "chart";
    }
    return "control";
}

ControlDef makeControl(int number, ControlKind kind, const std::string& label, int row,
                       int column) {
    ControlDef c;
    c.number = number;
    c.kind = kind;
    c.label = label;
    c.layout.row = row;
    c.layout.column = column;
    return c;
}

MenuItemDef menuItem(int id, const std::string& label, const std::string& helpLine,
                     StandardAction action) {
    MenuItemDef m;
    m.id = id;
    m.label = label;
    m.helpLine = helpLine;
    m.action = action;
    return m;
}

MenuItemDef menuSeparator() {
    MenuItemDef m;
    m.separator = true;
    return m;
}

MenuItemDef submenu(const std::string& label, const std::string& helpLine,
                    std::vector<MenuItemDef> items) {
    MenuItemDef m;
    m.label = label;
    m.helpLine = helpLine;
    m.items = std::move(items);
    return m;
}

std::string plainLabel(const std::string& label) {
    std::string out;
    for (std::size_t i = 0; i < label.size(); ++i) {
        if (label[i] == '&') {
            // "&&" stands for one ampersand
            if (i + 1 < label.size() && label[i + 1] == '&') out += label[++i];
            continue;
        }
        out += label[i];
    }
    return text::trimRight(out);
}

std::string shownTitle(const std::string& caption, const WindowDefinition& definition,
                       const std::string& procedure) {
    for (const std::string* text : {&caption, &definition.description})
        if (std::string shown = text::trimRight(*text); !shown.empty()) return shown;
    return procedure;
}

std::string listedTitle(const std::string& caption, const WindowDefinition& definition,
                        const std::string& procedure) {
    const std::string title = shownTitle(caption, definition, procedure);
    std::string name = text::trimRight(definition.caption);
    if (name.empty() || name == title) name = text::trimRight(definition.description);
    if (name.empty() || title.compare(0, name.size(), name) == 0) return title;
    return name + " - " + title;
}

const ControlDef* WindowDefinition::control(int number) const {
    for (const auto& c : controls)
        if (c.number == number) return &c;
    return nullptr;
}

const ControlDef* WindowDefinition::controlByLabel(const std::string& label) const {
    const std::string wanted = plainLabel(label);
    for (const auto& c : controls)
        if (!c.label.empty() && plainLabel(c.label) == wanted) return &c;
    return nullptr;
}

const ControlDef* WindowDefinition::labelledBy(const ControlDef& prompt) const {
    bool after = false;
    for (const auto& c : controls) {
        if (&c == &prompt) {
            after = true;
            continue;
        }
        if (!after) continue;
        switch (c.kind) {
        case ControlKind::Prompt:
            return nullptr;
        case ControlKind::Button:
        case ControlKind::Group:
        case ControlKind::Picture:
        case ControlKind::Radio:
            continue;
        default:
            return &c;
        }
    }
    return nullptr;
}

namespace {

const MenuItemDef* findMenuItem(const std::vector<MenuItemDef>& items, int id) {
    for (const auto& item : items) {
        if (!item.separator && item.items.empty() && item.id == id) return &item;
        if (const MenuItemDef* inner = findMenuItem(item.items, id)) return inner;
    }
    return nullptr;
}

} // namespace

const MenuItemDef* WindowDefinition::menuItem(int id) const {
    return id == 0 ? nullptr : findMenuItem(menu, id);
}

const MenuItemDef* WindowDefinition::menuItemByPath(const std::string& path) const {
    const std::vector<MenuItemDef>* level = &menu;
    const MenuItemDef* found = nullptr;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        const std::string part = text::trimRight(path.substr(start, slash - start));
        found = nullptr;
        for (const auto& item : *level)
            if (!item.separator && plainLabel(item.label) == part) {
                found = &item;
                break;
            }
        if (!found) return nullptr;
        level = &found->items;
        start = slash + 1;
    }
    return found;
}

} // namespace ui
