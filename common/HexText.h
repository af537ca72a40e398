#pragma once

// Numbers as this project's messages and files write them: 0x, then
// upper-case hexadecimal digits. A header of its own, so that the plugin and
// the reader of compiled scripts (pex/) share it without depending on each
// other.

#include <cstdint>
#include <cstdio>
#include <string>

// value with at least digits digits (1 to 16), zeros in front.
inline std::string HexText(uint64_t value, int digits = 1)
{
    char text[24];
    // The bound also tells the compiler that the text fits.
    digits = digits < 1 ? 1 : digits > 16 ? 16 : digits;
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}
