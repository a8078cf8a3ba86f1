// The Win32 clipboard, for the log that the user asks to copy.
#pragma once

#include <windows.h>

#include <string>

namespace Clipboard {

// Empties the clipboard and puts the text on it; raises error 521 when the
// clipboard can't be opened or filled.
void SetClipboardText(const std::wstring& text);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::CreateWindowExW) CreateWindowExW;
    decltype(&::DestroyWindow) DestroyWindow;
    decltype(&::OpenClipboard) OpenClipboard;
    decltype(&::EmptyClipboard) EmptyClipboard;
    decltype(&::SetClipboardData) SetClipboardData;
    decltype(&::CloseClipboard) CloseClipboard;
    decltype(&::Sleep) Sleep;
};
extern Api api;

}  // namespace Clipboard
