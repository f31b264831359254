#pragma once
#include "ui/toolwindow.h"

#include <string>

namespace tools {

// The twin list windows of the protocols and the services: every number from 1
// to the last that the system's database names, one row (number, name) each, in
// ascending order. The list is filled once, when the window opens, under the busy
// cursor, and stays as it is.
class NameList : public ui::ToolWindow {
public:
    enum Control { List = 1 };
    // The name column is a 20-character field, of which 19 characters show.
    static constexpr std::size_t NameWidth = 19;

    struct Texts {
        const char* procedure;
        const char* caption;
        const char* description;
        const char* listText;
        const char* numberHeading;
        int numberWidth; // dialog units
        int numberChars; // digits shown
    };

protected:
    NameList(const Texts& texts, int last);
    static ui::WindowDefinition makeDefinition(const Texts& texts);

    void onOpen() override;
    // The official name of `number` in the database; null when it has none.
    virtual const char* officialName(int number) = 0;

private:
    int m_last;
};

} // namespace tools
