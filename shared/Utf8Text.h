// The one place where wide text meets UTF-8: the program's records on its
// standard output are UTF-8, and the package's custom actions read them back.
#pragma once

#include <string>

// Converts to UTF-8; a lone surrogate becomes U+FFFD.
std::string ToUtf8(const std::wstring& text);

// Converts from UTF-8; bytes that are no UTF-8 become U+FFFD.
std::wstring FromUtf8(const std::string& bytes);
