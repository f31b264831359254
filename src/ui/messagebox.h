#pragma once
#include <string>
#include <vector>

namespace ui {

enum class BoxIcon { None, Asterisk, Exclamation, Hand, Question };
enum class BoxButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };

// The Windows answer codes a box returns.
enum BoxAnswer { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

// A modal message: "|" in the text starts a new line.
struct BoxRequest {
    std::string text;
    std::string caption;
    BoxIcon icon = BoxIcon::None;
    BoxButtons buttons = BoxButtons::Ok;
};

const char* boxIconName(BoxIcon icon);
// The answers of a button set, in the order the buttons stand.
std::vector<int> boxAnswers(BoxButtons buttons);
const char* boxAnswerLabel(int answer);

// A popup menu text "a|b|-|c": its entries, separators as "-". Entries are numbered
// from 1 without counting separators.
std::vector<std::string> popupEntries(const std::string& text);
int popupItemCount(const std::string& text);

} // namespace ui
