#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// UTF-16, as Notepad saves "Unicode" and PowerShell writes, and the code page
// in which the plugin takes path names (FilePath.h): on Windows the ANSI code
// page, or OEM after SetFileApisToOEM; elsewhere the character set of the C
// library's current locale. Scripts see text in that code page only, so the
// lines of a UTF-16 file are converted into it when read, and lines appended
// to one are converted back.
namespace codepage {

// How the log names that code page: "1252"; elsewhere the locale's character
// set ("UTF-8").
std::string Name();

// What stands for a character without an equivalent: the system's default
// character of that code page ('?' in most).
std::string DefaultCharacter();

// Converts UTF-16 bytes of one byte order into the code page, a piece at a
// time: an odd byte, or the first half of a surrogate pair, at the end of one
// piece waits for the next. A character without an equivalent, and half of a
// pair without its other half, comes out as the default character and is
// counted.
class Utf16Decoder {
public:
    explicit Utf16Decoder(bool bigEndian) : bigEndian(bigEndian) {}

    // Appends to text what bytes[0, size) completes.
    void Decode(const char* bytes, size_t size, std::string& text);
    // At the end of the input: what still waits is no whole character. The
    // memory of the pieces goes.
    void Finish(std::string& text);
    // Characters that came out as the default character so far.
    uint64_t Unmapped() const { return unmapped; }

private:
    void Convert(size_t from, size_t to, std::string& text);

    bool bigEndian;
    int oddByte = -1;
    char16_t highSurrogate = 0;
    uint64_t unmapped = 0;
    std::u16string units;  // the piece's code units, kept to save allocations
};

// Appends text, which is in the code page, to bytes as UTF-16 in that byte
// order. Answers how many of its bytes formed no character of the code page;
// each went in as U+FFFD.
size_t EncodeUtf16(const std::string& text, bool bigEndian, std::string& bytes);

}  // namespace codepage
