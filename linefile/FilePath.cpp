#include "linefile/FilePath.h"

#include <cstring>

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether text[from, from + strlen(name)) is name, ASCII letters in any case.
bool NameAt(const std::string& text, size_t from, const char* name)
{
    for (size_t i = 0; name[i] != '\0'; ++i) {
        if (from + i >= text.size() || Upper(text[from + i]) != name[i])
            return false;
    }
    return true;
}

// Whether text[from, to) is one digit: an ASCII one, or the superscript 1, 2
// or 3 that Windows also takes in COM and LPT names, as one byte of the ANSI
// code page or as UTF-8.
bool IsOneDigit(const std::string& text, size_t from, size_t to)
{
    auto superscript = [](unsigned char c) { return c == 0xB9 || c == 0xB2 || c == 0xB3; };
    unsigned char first = static_cast<unsigned char>(text[from]);
    if (to - from == 1)
        return (first >= '0' && first <= '9') || superscript(first);
    return to - from == 2 && first == 0xC2 && superscript(static_cast<unsigned char>(text[from + 1]));
}

// Whether the part text[from, to) opens a device instead of a file. Windows
// looks at the name before the first dot, with the spaces before that dot
// dropped, in any letter case: "nul.txt" and "Com1 .log" are devices too.
bool IsDeviceName(const std::string& text, size_t from, size_t to)
{
    size_t end = from;
    while (end < to && text[end] != '.')
        ++end;
    while (end > from && text[end - 1] == ' ')
        --end;
    switch (end - from) {
    case 3:
        return NameAt(text, from, "CON") || NameAt(text, from, "PRN") || NameAt(text, from, "AUX") ||
               NameAt(text, from, "NUL");
    case 6:
        return NameAt(text, from, "CONIN$");
    case 7:
        return NameAt(text, from, "CONOUT$");
    default:
        return end - from >= 4 && (NameAt(text, from, "COM") || NameAt(text, from, "LPT")) &&
               IsOneDigit(text, from + 3, end);
    }
}

}  // namespace

const char* PathRefusal(const std::string& text)
{
    // "\\server\share" makes Windows log on to the server with the player's
    // credentials; "\\.\" and "\\?\" (and the kernel's "\??\") reach devices,
    // raw disks and every object of the system, past the checks below.
    if ((text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) || text.compare(0, 4, "\\??\\") == 0)
        return "a network or device path";
    // Control characters and these cannot stand in a Windows name; "?" and
    // "*" would be wildcards to some calls.
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>\"|?*", c) != nullptr)
            return "a character that no file name may hold";
    }
    // Beyond "C:" a colon names a hidden stream of a file, such as the mark
    // Windows puts on downloaded files, or a device ("COM1:").
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ':' && !(i == 1 && Upper(text[0]) >= 'A' && Upper(text[0]) <= 'Z'))
            return "a colon that does not follow a drive letter";
    }
    for (size_t from = 0; from < text.size();) {
        size_t to = from;
        while (to < text.size() && !IsSeparator(text[to]))
            ++to;
        // A device name sends lines to a port or a printer, or nowhere.
        if (to > from && IsDeviceName(text, from, to))
            return "a device name";
        // Windows drops a name's trailing dots and spaces, so "a.txt." would
        // be a second spelling of "a.txt", and where it does not ("\\?\")
        // it makes a file that Explorer cannot delete.
        bool dots = (to - from == 1 && text[from] == '.') || (to - from == 2 && text.compare(from, 2, "..") == 0);
        if (to > from && !dots && (text[to - 1] == '.' || text[to - 1] == ' '))
            return "a name ending in a dot or a space";
        from = to + 1;
    }
    return nullptr;
}

#if defined(_WIN32)
#include "linefile/Windows/FilePath.inc"
#else
#include "linefile/Unix/FilePath.inc"
#endif
