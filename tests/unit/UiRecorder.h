// Answers the installer's message boxes and keeps what it showed and what it
// put on the clipboard, for as long as the recorder lives.
#pragma once

#include "ApiOverride.h"
#include "installer/InstallerUi.h"

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

struct ShownBox {
    std::wstring text;
    std::wstring title;
    UINT style;
};

class UiRecorder {
public:
    UiRecorder() { active() = this; }
    ~UiRecorder() { active() = nullptr; }
    UiRecorder(const UiRecorder&) = delete;
    UiRecorder& operator=(const UiRecorder&) = delete;

    // Boxes take these answers in turn; once they run out, every box is answered OK.
    std::deque<int> answers;
    std::vector<ShownBox> boxes;
    std::vector<std::wstring> clipboard;

private:
    static UiRecorder*& active() {
        static UiRecorder* recorder = nullptr;
        return recorder;
    }
    static int WINAPI MessageBox(HWND, LPCWSTR text, LPCWSTR title, UINT style) {
        UiRecorder& self = *active();
        self.boxes.push_back({text, title, style});
        if (self.answers.empty()) return IDOK;
        const int answer = self.answers.front();
        self.answers.pop_front();
        return answer;
    }
    static void SetClipboard(const std::wstring& text) { active()->clipboard.push_back(text); }

    ApiOverride<decltype(InstallerUi::api.MessageBoxW)> box_{InstallerUi::api.MessageBoxW, &UiRecorder::MessageBox};
    ApiOverride<decltype(InstallerUi::api.SetClipboardText)> clip_{InstallerUi::api.SetClipboardText,
                                                                   &UiRecorder::SetClipboard};
};
