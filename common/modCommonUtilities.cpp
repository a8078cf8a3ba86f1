#include "modCommonUtilities.h"

namespace modCommonUtilities {

std::wstring QuoteSingle(const std::wstring& text) {
    // One apostrophe at either end counts as quoted; the other end is left alone.
    if (!text.empty() && (text.front() == L'\'' || text.back() == L'\'')) return text;
    return L"'" + text + L"'";
}

}  // namespace modCommonUtilities
