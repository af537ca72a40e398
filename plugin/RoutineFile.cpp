#include "plugin/RoutineFile.h"

#include "common/HexText.h"
#include "plugin/PeImage.h"

#include <string_view>

namespace {

// What the two platform halves below provide.
namespace platform {
enum class ReadResult { Read, Missing, Failed, TooLarge };
// The whole file, if it has at most limit bytes; on TooLarge, its first
// limit bytes; on Failed, the system's reason.
ReadResult ReadFileBytes(const NativePathString& path, size_t limit, std::string& bytes,
                         std::string& error);
// The folder of the binary holding this code, ending in a separator; false
// when it cannot be found.
bool PluginFolder(NativePathString& folder);
// An ASCII name as a path, and a path as text for messages, with '/'.
NativePathString FromAscii(const std::string& name);
std::string Shown(const NativePathString& path);
}  // namespace platform

constexpr size_t kLongestLine = 256;
constexpr size_t kLargestFile = 64 * 1024;

// The entries that describe the executable, before the routine table's.
enum ImageEntry { kImageBase, kImageSize, kImageStamp, kImageEntries };
const char* const kImageEntryNames[kImageEntries] = {"imageBase", "imageSize", "imageStamp"};
constexpr size_t kEntries = kImageEntries + std::size(kRoutineFields);

const char* EntryName(size_t entry)
{
    return entry < kImageEntries ? kImageEntryNames[entry] : kRoutineFields[entry - kImageEntries].name;
}

int EntryBits(size_t entry, int addressBits) { return entry == kImageStamp ? 32 : addressBits; }

// The entries of our section as the file gives them; line 0: not given.
struct Entries {
    uint64_t value[kEntries] = {};
    size_t line[kEntries] = {};
};

std::string_view Trimmed(std::string_view text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// The entry of that name, or kEntries.
size_t EntryNamed(std::string_view name)
{
    size_t entry = 0;
    while (entry < kEntries && !SameName(name, EntryName(entry)))
        ++entry;
    return entry;
}

enum class Number { Valid, NotHex, TooLarge };

// [0x] hexadecimal digits, fitting in bits.
Number ParseHex(std::string_view text, int bits, uint64_t& value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty())
        return Number::NotHex;
    value = 0;
    bool tooLarge = false;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0)
            return Number::NotHex;
        if (value >> (bits - 4) != 0)
            tooLarge = true;
        value = (value << 4 | static_cast<uint64_t>(digit)) & AddressMask(bits);
    }
    return tooLarge ? Number::TooLarge : Number::Valid;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

void AppendUtf8(char32_t code, std::string& text)
{
    if (code < 0x80) {
        text += static_cast<char>(code);
        return;
    }
    int more = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    text += static_cast<char>(kLead[more] | (code >> (6 * more)));
    for (int shift = 6 * (more - 1); shift >= 0; shift -= 6)
        text += static_cast<char>(0x80 | ((code >> shift) & 0x3F));
}

// The file's bytes as 8-bit text. Editors and shells save it as UTF-16 too
// (PowerShell 5.1's redirection does), which becomes UTF-8 here: known by its
// byte order mark, or without one by the NUL byte beside its first
// character, since every file this reader takes begins with an ASCII one.
// Half a surrogate pair, or an odd last byte, becomes U+FFFD.
std::string EightBitText(const std::string& bytes)
{
    if (bytes.size() < 2)
        return bytes;
    const auto first = static_cast<unsigned char>(bytes[0]), second = static_cast<unsigned char>(bytes[1]);
    const bool marked = (first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF);
    const bool bigEndian = marked ? first == 0xFE : first == 0 && second != 0;
    if (!marked && !(first != 0 && second == 0) && !bigEndian)
        return bytes;
    auto unit = [&bytes, bigEndian](size_t at) {
        auto high = static_cast<unsigned char>(bytes[bigEndian ? at : at + 1]);
        auto low = static_cast<unsigned char>(bytes[bigEndian ? at + 1 : at]);
        return static_cast<char32_t>(high << 8 | low);
    };
    std::string text;
    for (size_t at = marked ? 2 : 0; at < bytes.size(); at += 2) {
        char32_t code = at + 1 < bytes.size() ? unit(at) : 0xFFFD;
        if (code >= 0xD800 && code <= 0xDBFF && at + 3 < bytes.size() && unit(at + 2) >= 0xDC00 &&
            unit(at + 2) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
            at += 2;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        AppendUtf8(code, text);
    }
    return text;
}

// Reads the lines of text into entries, from the section named section only.
// Answers the first fault found, or the empty text.
std::string ParseSection(std::string_view text, const std::string& section, int addressBits, Entries& entries)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")  // the byte order mark editors may put first
        text.remove_prefix(3);
    enum class Where { BeforeSections, Ours, Other } where = Where::BeforeSections;
    bool found = false;
    for (size_t number = 1; !text.empty(); ++number) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::string at = "line " + std::to_string(number) + ": ";
        if (line.size() > kLongestLine)
            return at + "longer than " + std::to_string(kLongestLine) + " characters";
        line = Trimmed(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;

        if (line[0] == '[') {
            size_t close = line.find(']');
            if (close == std::string_view::npos)
                return at + "a section name without ']'";
            std::string_view junk = Trimmed(line.substr(close + 1));
            if (!junk.empty())
                return at + "junk after the section name: " + Quoted(junk);
            bool ours = SameName(Trimmed(line.substr(1, close - 1)), section);
            if (ours && found)
                return at + "section [" + section + "] a second time";
            found = found || ours;
            where = ours ? Where::Ours : Where::Other;
            continue;
        }
        if (where == Where::Other)
            continue;
        size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return at + "neither a [section], a name = value entry nor a comment";
        if (where == Where::BeforeSections)
            return at + "an entry before the first [section]";

        std::string_view name = Trimmed(line.substr(0, equals));
        size_t entry = EntryNamed(name);
        if (entry == kEntries)
            return at + "unknown entry " + Quoted(name);
        std::string named = at + Quoted(EntryName(entry)) + ": ";
        if (entries.line[entry] != 0)
            return named + "given a second time (first on line " + std::to_string(entries.line[entry]) + ")";
        std::string_view value = Trimmed(line.substr(equals + 1));
        std::string_view digits = value.substr(0, value.find_first_of(" \t"));
        int bits = EntryBits(entry, addressBits);
        switch (ParseHex(digits, bits, entries.value[entry])) {
        case Number::NotHex:
            return named + Quoted(digits) + " is not a hexadecimal number";
        case Number::TooLarge:
            return named + std::string(digits) + " does not fit in " + std::to_string(bits) + " bits";
        case Number::Valid:
            break;
        }
        std::string_view junk = Trimmed(value.substr(digits.size()));
        if (!junk.empty())
            return named + "junk after the value: " + Quoted(junk);
        entries.line[entry] = number;
    }
    return found ? std::string() : "no section [" + section + "] for this runtime";
}

bool InAny(const std::vector<AddressRange>& ranges, uintptr_t address)
{
    for (const AddressRange& range : ranges) {
        if (range.Holds(address))
            return true;
    }
    return false;
}

std::string LineOf(const Entries& entries, size_t entry)
{
    return "line " + std::to_string(entries.line[entry]) + ": ";
}

// Checks the entries against the executable; fills table when all pass.
// Addresses are checked only against the executable the file was written
// for: against another they would mean nothing.
std::vector<std::string> CheckEntries(const Entries& entries, const ExecutableImage& image, RuntimeRoutines& table)
{
    std::vector<std::string> problems;
    for (size_t entry = 0; entry < kEntries; ++entry) {
        if (entries.line[entry] == 0)
            problems.push_back(Quoted(EntryName(entry)) + " missing");
    }
    bool identified = entries.line[kImageBase] != 0;
    const uint64_t identity[] = {image.size, image.stamp};
    for (size_t entry : {kImageSize, kImageStamp}) {
        uint64_t here = identity[entry - kImageSize];
        identified = identified && entries.line[entry] != 0 && entries.value[entry] == here;
        if (entries.line[entry] != 0 && entries.value[entry] != here)
            problems.push_back(LineOf(entries, entry) + "written for another executable: " + EntryName(entry) + " " +
                               HexText(entries.value[entry], 8) + ", this one's is " + HexText(here, 8));
    }
    if (!identified)
        return problems;

    // Distances wrap at the executable's address width, as its own
    // arithmetic would.
    const uint64_t mask = AddressMask(image.addressBits);
    const uint64_t statedBase = entries.value[kImageBase];
    RuntimeRoutines checked{};
    for (size_t i = 0; i < std::size(kRoutineFields); ++i) {
        const RoutineField& field = kRoutineFields[i];
        size_t entry = kImageEntries + i;
        if (entries.line[entry] == 0)
            continue;
        uint64_t stated = entries.value[entry];
        uint64_t distance = (stated - statedBase) & mask;
        auto address = static_cast<uintptr_t>(image.base + distance);
        std::string named = LineOf(entries, entry) + Quoted(field.name) + " = " +
                            HexText(stated, image.addressBits / 4) + " lies outside the executable";
        if (distance >= image.size)
            problems.push_back(named);
        else if (field.isObject && !InAny(image.writable, address))
            problems.push_back(named + "'s writable data");
        else if (!field.isObject && !InAny(image.code, address))
            problems.push_back(named + "'s code");
        else
            SetFieldAddress(checked, field, address);
    }
    if (problems.empty())
        table = checked;
    return problems;
}

std::string RuntimeSectionName(uint32_t runtime) { return HexText(runtime, 8).substr(2); }

}  // namespace

std::string RoutineFileName(uint32_t runtime) { return "Linefold-" + RuntimeSectionName(runtime) + ".ini"; }

std::vector<std::string> CheckRoutineFile(const NativePathString& path, uint32_t runtime, const ExecutableImage& image,
                                          RuntimeRoutines& table)
{
    std::string shown = platform::Shown(path) + ": ";
    std::string bytes, error;
    switch (platform::ReadFileBytes(path, kLargestFile, bytes, error)) {
    case platform::ReadResult::Missing:
        return {shown + "no such file"};
    case platform::ReadResult::Failed:
        return {shown + "cannot be read: " + error};
    case platform::ReadResult::TooLarge:
        return {shown + "larger than " + std::to_string(kLargestFile) + " bytes"};
    case platform::ReadResult::Read:
        break;
    }
    Entries entries;
    std::string fault = ParseSection(EightBitText(bytes), RuntimeSectionName(runtime), image.addressBits, entries);
    std::vector<std::string> problems;
    if (fault.empty())
        problems = CheckEntries(entries, image, table);
    else
        problems.push_back(fault);
    for (std::string& problem : problems)
        problem = shown + problem;
    return problems;
}

std::string ReadRoutineFile(const NativePathString& path, uint32_t runtime, const ExecutableImage& image,
                            RuntimeRoutines& table)
{
    std::vector<std::string> problems = CheckRoutineFile(path, runtime, image, table);
    return problems.empty() ? std::string() : problems.front();
}

std::string DescribeExecutableFile(const NativePathString& path, ExecutableImage& image)
{
    image = ExecutableImage{};
    std::string shown = platform::Shown(path) + ": ";
    std::string bytes, error;
    bool cut = false;
    switch (platform::ReadFileBytes(path, kPeHeaderBytes, bytes, error)) {
    case platform::ReadResult::Missing:
        return shown + "no such file";
    case platform::ReadResult::Failed:
        return shown + "cannot be read: " + error;
    case platform::ReadResult::TooLarge:
        cut = true;
        break;
    case platform::ReadResult::Read:
        break;
    }
    // The game's executable is a 32-bit one.
    std::string problem =
        DescribePeHeaders(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), cut, 32, image);
    if (problem.empty())
        return {};
    image = ExecutableImage{};
    return shown + problem;
}

bool FindRoutineFileBesidePlugin(uint32_t runtime, NativePathString& path)
{
    if (!platform::PluginFolder(path))
        return false;
    path += platform::FromAscii(RoutineFileName(runtime));
    return true;
}

RuntimeReadiness ReadRoutineFileBesidePlugin(uint32_t runtime, RuntimeRoutines& table)
{
    RuntimeReadiness readiness;
    NativePathString path;
    if (!FindRoutineFileBesidePlugin(runtime, path)) {
        readiness.problem = "the plugin's own folder cannot be found";
        return readiness;
    }
    ExecutableImage image;
    if (!DescribeMainImage(image)) {
        readiness.problem = "the running executable's headers cannot be read";
        return readiness;
    }
    readiness.problem = ReadRoutineFile(path, runtime, image, table);
    readiness.ready = readiness.problem.empty();
    if (readiness.ready)
        readiness.source = platform::Shown(path);
    return readiness;
}

namespace {

// The comment and the lines that say which executable the file is for.
std::string Heading(uint32_t runtime, const ExecutableImage& image, uintptr_t statedBase)
{
    const std::string section = RuntimeSectionName(runtime);
    return "; Where Linefold finds the routines it calls in the executable, for runtime " + section + ".\n"
           "; Hexadecimal addresses for the executable loaded at imageBase; imageSize and\n"
           "; imageStamp name the executable they were written for.\n"
           "[" + section + "]\n"
           "imageBase = " + HexText(statedBase, image.addressBits / 4) + "\n"
           "imageSize = " + HexText(image.size, 8) + "\n"
           "imageStamp = " + HexText(image.stamp, 8) + "\n";
}

}  // namespace

std::string StartingRoutineFileText(uint32_t runtime, const ExecutableImage& image)
{
    std::string text = Heading(runtime, image, image.linkedBase) +
                       ";\n"
                       "; Write each entry below as  name = 0xADDRESS  on a line of its own, an\n"
                       "; address of the executable loaded at imageBase. Nothing is guessed here.\n";
    for (const RoutineField& field : kRoutineFields)
        text += "; " + std::string(field.name) + ": " + field.what + "\n";
    return text;
}

std::string RoutineFileText(uint32_t runtime, const ExecutableImage& image, const RuntimeRoutines& routines,
                            uintptr_t statedBase)
{
    const int digits = image.addressBits / 4;
    std::string text = Heading(runtime, image, statedBase);
    for (const RoutineField& field : kRoutineFields)
        text += std::string(field.name) + " = " +
                HexText(statedBase + (FieldAddress(routines, field) - image.base), digits) + "\n";
    return text;
}

#if defined(_WIN32)
#include "plugin/Windows/RoutineFile.inc"
#else
#include "plugin/Unix/RoutineFile.inc"
#endif
