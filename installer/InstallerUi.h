// The installer's only contact with the user: modal message boxes and the
// clipboard. It also remembers whether an error box was shown, which decides
// the program's exit code.
#pragma once

#include <windows.h>

#include <string>

namespace InstallerUi {

// Shows a box titled with the program's title; returns the button pressed (IDOK, IDYES, IDNO).
int ShowMessage(const std::wstring& text, UINT style);
// A critical error box with an OK button; notes that the run reported trouble.
void ShowErrorBox(const std::wstring& text);
// Empties the clipboard and puts the text on it; raises a run-time error when
// the clipboard can't be opened or filled.
void SetClipboardText(const std::wstring& text);

// True once an error box has been shown in this run.
extern bool ErrorBoxShown;

// Where boxes and clipboard text go; tests swap single entries.
struct Api {
    decltype(&::MessageBoxW) MessageBoxW;
    void (*SetClipboardText)(const std::wstring& text);
};
extern Api api;

}  // namespace InstallerUi
