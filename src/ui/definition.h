#pragma once
#include <string>
#include <vector>

// A window described as data. Each tool declares its window once; the Qt and the
// console front ends both build it from this description, so neither holds code
// for any particular tool. Texts are Windows-1250, as the tools keep them.
namespace ui {

enum class ControlKind {
    Prompt,   // fixed text
    Entry,    // one-line text entry with a width (and picture) in characters
    Button,   // push button
    CheckBox, // on/off box
    Radio,    // one option of a group (consecutive radios form a group)
    SpinBox,  // numeric entry with arrows
    List,     // list control showing rows of columns
    Group,    // decorative frame
    TextBox,  // multi-line text
    Picture,  // image area
    Display,  // read-only field the tool writes
    Chart,    // values over time, one line per series, drawn from the model's samples
};

const char* controlKindName(ControlKind kind);

struct ColumnDef {
    int width = 60;      // dialog units
    std::string heading; // empty: no header shown
    int chars = 0;       // the field width in characters (0: not fixed)
};

// Where a control goes: a grid cell. A row below 0 puts the control on the next
// free row, spanning the whole width when it is a list or a text box.
struct LayoutHint {
    int row = -1;
    int column = 0;
    int rowSpan = 1;
    int columnSpan = 1;
};

struct ControlDef {
    int number = 0; // its number in the window, 1 up, in documented order
    ControlKind kind = ControlKind::Prompt;
    std::string label;   // caption of prompts, buttons, boxes, groups
    std::string value;   // start value of entries, displays, spin boxes, check (0/1)
    int chars = 0;       // field width in characters of entries and displays
    std::string picture; // input picture of an entry ("9" digits only, ...), or image file
    std::string toolTip;
    std::vector<ColumnDef> columns; // list controls
    LayoutHint layout;
    bool enabled = true;
    bool defaultButton = false;
    // Entries: the button Enter presses there, where it is not the default button
    // (the one that acts on what this entry holds).
    int enterButton = 0;
    int minimum = 0, maximum = 65535; // spin boxes
    int spanSeconds = 600;            // charts: how far back their samples reach
};

enum class StandardAction {
    None,
    Cut,
    Copy,
    Paste,
    Tile,
    Cascade,
    ArrangeIcons,
    PrintSetup,
    HelpContents,
    HelpSearch,
    HelpOnHelp,
};

struct MenuItemDef {
    int id = 0;           // 0 for separators and submenus
    std::string label;    // with its "&" and trailing blanks
    std::string helpLine; // shown in status zone 1 while highlighted
    bool separator = false;
    bool checkItem = false;
    StandardAction action = StandardAction::None;
    std::vector<MenuItemDef> items; // a submenu when not empty
    bool windowList = false;        // the open windows are listed after its items
};

struct WindowDefinition {
    std::string caption;
    std::string description; // the window's one-line message text
    int x = 10, y = 10;      // dialog units
    int width = 300, height = 200;
    bool resizable = true;
    bool maximized = false;
    bool toolWindowStyle = false; // narrow caption, where the front end can give one
    std::string background;       // image file for the client area, if present
    std::vector<ControlDef> controls;
    std::vector<MenuItemDef> menu; // the frame's menu bar
    int statusZones = 0;

    const ControlDef* control(int number) const;
    // The control whose label matches, compared without "&" and trailing blanks.
    const ControlDef* controlByLabel(const std::string& label) const;
    // The control a prompt labels: the first field after it (an entry, spin
    // box, text box, list, display, check box), passing buttons beside it;
    // null when another prompt comes first.
    const ControlDef* labelledBy(const ControlDef& prompt) const;
    const MenuItemDef* menuItem(int id) const;
    // A menu item by its labels without "&" and trailing blanks, joined by "/".
    const MenuItemDef* menuItemByPath(const std::string& path) const;
};

// A control of the given kind in a grid cell (row below 0: the next free row); the
// rest of its description starts empty.
ControlDef makeControl(int number, ControlKind kind, const std::string& label, int row = -1,
                       int column = 0);

// Menu entries: an item that acts (a standard action, or the window's own by id),
// a separator line, and a submenu of further entries.
MenuItemDef menuItem(int id, const std::string& label, const std::string& helpLine,
                     StandardAction action = StandardAction::None);
MenuItemDef menuSeparator();
MenuItemDef submenu(const std::string& label, const std::string& helpLine,
                    std::vector<MenuItemDef> items);

// A label as a person reads it: without "&" and without trailing blanks.
std::string plainLabel(const std::string& label);

// The title a window shows in its title bar and in the frame's Window menu: its
// caption; for a window without one, its one-line description; failing that,
// its procedure's name. Trailing blanks do not count.
std::string shownTitle(const std::string& caption, const WindowDefinition& definition,
                       const std::string& procedure);

// The name the frame's window list gives a window: its title, after the tool's
// own name where the title does not start with it ("Port scan - vm (127.0.0.1)",
// "WS info - WS"). The tool's name is its first caption, or its description
// where the title is still that caption.
std::string listedTitle(const std::string& caption, const WindowDefinition& definition,
                        const std::string& procedure);

} // namespace ui
