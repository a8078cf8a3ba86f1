#include "MessageBoxes.h"

#include "RunAudience.h"
#include "RunRecords.h"
#include "common/RuntimeError.h"

namespace MessageBoxes {

Api api = {::MessageBoxW};

bool ErrorBoxShown = false;

namespace {

// A box no one can see is answered as an absent user would: no to a question.
int UnattendedAnswer(UINT style) { return (style & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK; }

}  // namespace

int ShowMessage(const std::wstring& text, UINT style) {
    if (!RunAudience::RunIsSeen) return UnattendedAnswer(style);
    return api.MessageBoxW(nullptr, text.c_str(), kProgramTitle, style);
}

void ShowErrorBox(const std::wstring& text) {
    ErrorBoxShown = true;
    RunRecords::WriteError(text);
    ShowMessage(text, MB_OK | MB_ICONERROR);
}

}  // namespace MessageBoxes
