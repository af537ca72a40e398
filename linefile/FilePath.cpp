#include "linefile/FilePath.h"

#include <type_traits>

namespace {

// The rules read the path as the file system will: on Windows as characters,
// converted in the file functions' code page, so that the second byte of a
// double-byte character (Japanese, Chinese, Korean) is never taken for a '\'
// or a '|'; elsewhere as bytes.
using PathChar = NativePathString::value_type;

unsigned Code(PathChar c) { return static_cast<std::make_unsigned_t<PathChar>>(c); }

bool IsSeparator(PathChar c) { return c == '/' || c == '\\'; }

unsigned Upper(PathChar c) { return Code(c) >= 'a' && Code(c) <= 'z' ? Code(c) - 'a' + 'A' : Code(c); }

// Whether the path starts with a drive letter and its colon ("C:").
bool StartsWithDrive(const NativePathString& text)
{
    return text.size() >= 2 && Upper(text[0]) >= 'A' && Upper(text[0]) <= 'Z' && text[1] == ':';
}

// Whether text[from, from + strlen(name)) is name, ASCII letters in any case.
bool NameAt(const NativePathString& text, size_t from, const char* name)
{
    for (size_t i = 0; name[i] != '\0'; ++i) {
        if (from + i >= text.size() || Upper(text[from + i]) != static_cast<unsigned char>(name[i]))
            return false;
    }
    return true;
}

// Whether text[from, to) is one digit: an ASCII one, or the superscript 1, 2
// or 3 that Windows also takes in COM and LPT names. As bytes, a superscript
// is one byte (as in code page 1252) or two of UTF-8.
bool IsOneDigit(const NativePathString& text, size_t from, size_t to)
{
    auto superscript = [](unsigned c) { return c == 0xB9 || c == 0xB2 || c == 0xB3; };
    unsigned first = Code(text[from]);
    if (to - from == 1)
        return (first >= '0' && first <= '9') || superscript(first);
    return sizeof(PathChar) == 1 && to - from == 2 && first == 0xC2 && superscript(Code(text[from + 1]));
}

// Whether the part text[from, to) opens a device instead of a file. Windows
// looks at the name before the first dot, with the spaces before that dot
// dropped, in any letter case: "nul.txt" and "Com1 .log" are devices too.
bool IsDeviceName(const NativePathString& text, size_t from, size_t to)
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

const char* PathRefusal(const FilePath& path)
{
    const NativePathString& text = path.Native();
    // "\\server\share" makes Windows log on to the server with the player's
    // credentials; "\\.\" and "\\?\" (and the kernel's "\??\") reach devices,
    // raw disks and every object of the system, past the checks below.
    if ((text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) ||
        (text.size() >= 4 && IsSeparator(text[0]) && text[1] == '?' && text[2] == '?' && IsSeparator(text[3])))
        return "a network or device path";
    // Control characters and these cannot stand in a Windows name; "?" and
    // "*" would be wildcards to some calls.
    for (PathChar c : text) {
        if (Code(c) < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return "a character that no file name may hold";
    }
    // Beyond "C:" a colon names a hidden stream of a file, such as the mark
    // Windows puts on downloaded files, or a device ("COM1:").
    bool drive = StartsWithDrive(text);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ':' && !(drive && i == 1))
            return "a colon that does not follow a drive letter";
    }
    // "C:" ends a part: "C:NUL" is the device as much as "NUL" is.
    for (size_t from = drive ? 2 : 0; from < text.size();) {
        size_t to = from;
        while (to < text.size() && !IsSeparator(text[to]))
            ++to;
        // A device name sends lines to a port or a printer, or nowhere.
        if (to > from && IsDeviceName(text, from, to))
            return "a device name";
        // Windows drops a name's trailing dots and spaces, so "a.txt." would
        // be a second spelling of "a.txt", and where it does not ("\\?\")
        // it makes a file that Explorer cannot delete.
        size_t length = to - from;
        bool dots = (length == 1 && text[from] == '.') || (length == 2 && text[from] == '.' && text[from + 1] == '.');
        if (length > 0 && !dots && (text[to - 1] == '.' || text[to - 1] == ' '))
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
