#include "ui/messagebox.h"

namespace ui {

const char* boxIconName(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::None: return "none";
    case BoxIcon::Asterisk: return "asterisk";
    case BoxIcon::Exclamation: return "exclamation";
    case BoxIcon::Hand: return "hand";
    case BoxIcon::Question: return "question";
    }
    return "none";
}

std::vector<int> boxAnswers(BoxButtons buttons) {
    switch (buttons) {
    case BoxButtons::Ok: return {IDOK};
    case BoxButtons::OkCancel: return {IDOK, IDCANCEL};
    case BoxButtons::YesNo: return {IDYES, IDNO};
    case BoxButtons::YesNoCancel: return {IDYES, IDNO, IDCANCEL};
    case BoxButtons::RetryCancel: return {IDRETRY, IDCANCEL};
    case BoxButtons::AbortRetryIgnore: return {IDABORT, IDRETRY, IDIGNORE};
    }
    return {IDOK};
}

const char* boxAnswerLabel(int answer) {
    switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    }
    return "?";
}

std::vector<std::string> popupEntries(const std::string& text) {
    std::vector<std::string> out;
    std::string current;
    for (char ch : text) {
        if (ch == '|') {
            out.push_back(current);
            current.clear();
        } else {
            current += ch;
        }
    }
    out.push_back(current);
    return out;
}

int popupItemCount(const std::string& text) {
    int n = 0;
    for (const auto& e : popupEntries(text))
        if (e != "-") ++n;
    return n;
}

} // namespace ui
