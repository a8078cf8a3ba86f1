#include "AnsiText.h"

#include <windows.h>

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return {};
    const int count = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), count, bytes.data(), needed, nullptr, nullptr);
    return bytes;
}

std::wstring FromAnsi(const char* bytes, std::size_t length) {
    if (length == 0) return {};
    const int count = static_cast<int>(length);
    const int needed = MultiByteToWideChar(CP_ACP, 0, bytes, count, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, count, text.data(), needed);
    return text;
}

std::wstring FromAnsi(const std::string& bytes) { return FromAnsi(bytes.data(), bytes.size()); }
