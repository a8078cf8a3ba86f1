#include "NumberText.h"

#include <algorithm>

std::wstring DecimalText(long number) {
    // Work on the magnitude as unsigned: the most negative value has no positive twin.
    unsigned long magnitude = number < 0 ? 0UL - static_cast<unsigned long>(number) : static_cast<unsigned long>(number);
    std::wstring digits;
    do {
        digits += static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) digits += L'-';
    std::reverse(digits.begin(), digits.end());
    return digits;
}

std::wstring HexText(unsigned long number, int minDigits) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    number &= 0xFFFFFFFFUL;
    std::wstring digits;
    do {
        digits += kDigits[number % 16];
        number /= 16;
    } while (number != 0);
    while (static_cast<int>(digits.size()) < minDigits) digits += L'0';
    std::reverse(digits.begin(), digits.end());
    return digits;
}
