// Numbers as text without the C library's formatted printing, which would
// bring a large part of the runtime into a program that is meant to be small.
#pragma once

#include <string>

// Decimal digits with a minus sign for negative numbers: "-1073741819", "5".
std::wstring DecimalText(long number);

// Upper-case hexadecimal of the number's 32-bit pattern, padded with zeros to
// at least minDigits: HexText(53) is "35", HexText(0x407, 4) is "0407".
std::wstring HexText(unsigned long number, int minDigits = 1);
