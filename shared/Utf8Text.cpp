#include "Utf8Text.h"

#include <windows.h>

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int count = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string bytes(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), count, &bytes[0], needed, nullptr, nullptr);
    return bytes;
}

std::wstring FromUtf8(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int count = static_cast<int>(bytes.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), count, nullptr, 0);
    if (needed <= 0) return {};
    std::wstring text(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), count, &text[0], needed);
    return text;
}
