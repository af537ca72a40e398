#include "linefile/CodePage.h"

#include <initializer_list>

namespace codepage {
namespace platform {
// What the two platform halves below provide.
std::string Name();
std::string DefaultCharacter();
// Appends units[0, count), whole characters only (every surrogate in a
// pair), converted; answers how many had no equivalent and came out as the
// default character.
size_t FromUtf16(const char16_t* units, size_t count, std::string& text);
// Appends text[0, size) as UTF-16 code units; answers how many of its bytes
// formed no character, each appended as U+FFFD.
size_t ToUtf16(const char* text, size_t size, std::u16string& units);
}  // namespace platform

namespace {
bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
}  // namespace

std::string Name() { return platform::Name(); }

std::string DefaultCharacter() { return platform::DefaultCharacter(); }

void Utf16Decoder::Decode(const char* bytes, size_t size, std::string& text)
{
    auto unit = [this](unsigned char first, unsigned char second) {
        return static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first);
    };
    units.clear();
    if (highSurrogate != 0)
        units.push_back(highSurrogate);
    highSurrogate = 0;
    size_t at = 0;
    if (oddByte >= 0 && size > 0) {
        units.push_back(unit(static_cast<unsigned char>(oddByte), static_cast<unsigned char>(bytes[0])));
        oddByte = -1;
        at = 1;
    }
    for (; at + 1 < size; at += 2)
        units.push_back(unit(static_cast<unsigned char>(bytes[at]), static_cast<unsigned char>(bytes[at + 1])));
    if (at < size)
        oddByte = static_cast<unsigned char>(bytes[at]);

    // Runs of whole characters go to the system at once; a lone half of a
    // pair stands alone.
    size_t run = 0;
    for (size_t i = 0; i < units.size();) {
        if (IsHighSurrogate(units[i]) && i + 1 == units.size()) {
            // Its other half may begin the next piece.
            Convert(run, i, text);
            highSurrogate = units[i];
            run = units.size();
            break;
        }
        if (IsHighSurrogate(units[i]) && IsLowSurrogate(units[i + 1])) {
            i += 2;
        } else if (IsHighSurrogate(units[i]) || IsLowSurrogate(units[i])) {
            Convert(run, i, text);
            text += DefaultCharacter();
            ++unmapped;
            run = ++i;
        } else {
            ++i;
        }
    }
    Convert(run, units.size(), text);
}

void Utf16Decoder::Convert(size_t from, size_t to, std::string& text)
{
    if (to > from)
        unmapped += platform::FromUtf16(units.data() + from, to - from, text);
}

void Utf16Decoder::Finish(std::string& text)
{
    for (bool waits : {highSurrogate != 0, oddByte >= 0}) {
        if (waits) {
            text += DefaultCharacter();
            ++unmapped;
        }
    }
    highSurrogate = 0;
    oddByte = -1;
    std::u16string().swap(units);
}

size_t EncodeUtf16(const std::string& text, bool bigEndian, std::string& bytes)
{
    if (text.empty())
        return 0;
    std::u16string units;
    size_t invalid = platform::ToUtf16(text.data(), text.size(), units);
    for (char16_t unit : units) {
        char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return invalid;
}

}  // namespace codepage

#if defined(_WIN32)
#include "linefile/Windows/CodePage.inc"
#else
#include "linefile/Unix/CodePage.inc"
#endif
