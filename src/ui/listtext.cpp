#include "ui/listtext.h"

#include "platform/cp1250.h"

namespace ui {

std::string listText(const std::vector<Row>& rows) {
    std::string text;
    for (const Row& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i) text += '\t';
            text += row[i];
        }
        text += '\n';
    }
    return cp1250::toUtf8(text);
}

} // namespace ui
