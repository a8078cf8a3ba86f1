// Small text helpers.
#pragma once

#include <string>

namespace modCommonUtilities {

// The text between apostrophes, unless it already begins or ends with one.
std::wstring QuoteSingle(const std::wstring& text);

}  // namespace modCommonUtilities
