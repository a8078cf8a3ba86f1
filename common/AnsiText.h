// The one place where wide text meets the system's ANSI code page: the registry
// and shell functions are called in their "A" forms.
#pragma once

#include <cstddef>
#include <string>

// Converts to the ANSI code page; characters it lacks become its default character.
std::string ToAnsi(const std::wstring& text);

// Converts `length` bytes from the ANSI code page; embedded NULs are kept.
std::wstring FromAnsi(const char* bytes, std::size_t length);
std::wstring FromAnsi(const std::string& bytes);
