#include "plugin/PeImage.h"

#include "common/HexText.h"

#include <cstdint>

namespace {

// Windows' loader takes no more sections than this.
constexpr uint32_t kMostSections = 96;
constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kExecute = 0x20000000;  // IMAGE_SCN_MEM_EXECUTE
constexpr uint32_t kWrite = 0x80000000;    // IMAGE_SCN_MEM_WRITE

// Little-endian fields; the caller has checked that they lie in the bytes.
uint32_t Word16(const unsigned char* at) { return uint32_t{at[0]} | uint32_t{at[1]} << 8; }
uint32_t Word32(const unsigned char* at) { return Word16(at) | Word16(at + 2) << 16; }
uint64_t Word64(const unsigned char* at) { return Word32(at) | uint64_t{Word32(at + 4)} << 32; }

// A section header's name as a message shows it: '?' for a byte that is not
// printable ASCII.
std::string ShownSectionName(const unsigned char* header)
{
    std::string name;
    for (size_t i = 0; i < 8 && header[i] != 0; ++i)
        name += header[i] >= ' ' && header[i] < 0x7F ? static_cast<char>(header[i]) : '?';
    return name;
}

// Where the parts of the headers lie, and what the file header says.
struct Layout {
    uint64_t pe = 0;        // the PE signature, the file header after it
    uint64_t optional = 0;  // the optional header
    uint64_t table = 0;     // the section table
    uint32_t sections = 0;
    uint32_t stamp = 0;
};

// The DOS header's pointer, the PE signature and the file header: where the
// other parts lie.
std::string ReadFileHeader(const unsigned char* bytes, size_t size, const std::string& pastEnd, Layout& layout)
{
    if (size >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F')
        return "an ELF file, not a PE image: routine files are written for TESV.exe only";
    if (size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z')
        return "not a PE image: no MZ header";
    layout.pe = Word32(bytes + 0x3C);
    layout.optional = layout.pe + 24;
    if (layout.optional > size)
        return "the PE header at " + HexText(layout.pe) + " lies " + pastEnd;
    if (Word32(bytes + layout.pe) != 0x00004550)  // "PE\0\0"
        return "not a PE image: no PE signature at " + HexText(layout.pe);
    layout.sections = Word16(bytes + layout.pe + 6);
    layout.stamp = Word32(bytes + layout.pe + 8);
    const uint32_t optionalSize = Word16(bytes + layout.pe + 20);
    if (optionalSize < 64)
        return "an optional header of " + std::to_string(optionalSize) + " bytes is too small";
    layout.table = layout.optional + optionalSize;
    if (layout.table > size)
        return "the optional header lies " + pastEnd;
    return {};
}

// The optional header: the image's address width, base and size of image.
std::string ReadOptionalHeader(const unsigned char* bytes, const Layout& layout, int addressBits,
                               ExecutableImage& image)
{
    const unsigned char* optional = bytes + layout.optional;
    const uint32_t magic = Word16(optional);
    uint64_t base;
    if (magic == 0x10B) {
        image.addressBits = 32;
        base = Word32(optional + 28);
    } else if (magic == 0x20B) {
        image.addressBits = 64;
        base = Word64(optional + 24);
    } else {
        return "an optional header of unknown kind " + HexText(magic);
    }
    if (image.addressBits != addressBits || addressBits > kAddressBits)
        return "a " + std::to_string(image.addressBits) + "-bit image, where a " + std::to_string(addressBits) +
               "-bit one is wanted";
    const uint64_t imageSize = Word32(optional + 56);
    if (imageSize == 0)
        return "a size of image of 0";
    // Its last byte's address plus one must be an address too; compared
    // without a sum that could overflow.
    if (base > AddressMask(image.addressBits) - imageSize)
        return "base " + HexText(base) + " with size of image " + HexText(imageSize) +
               " runs past the end of the address space";
    image.linkedBase = static_cast<uintptr_t>(base);
    image.base = image.linkedBase;
    image.size = static_cast<uintptr_t>(imageSize);
    return {};
}

// The section table: the ranges of code and of writable data, each inside
// the size of image.
std::string ReadSections(const unsigned char* bytes, size_t size, const std::string& pastEnd, const Layout& layout,
                         ExecutableImage& image)
{
    if (layout.sections > kMostSections)
        return std::to_string(layout.sections) + " sections, more than the " + std::to_string(kMostSections) +
               " Windows loads";
    if (layout.table + uint64_t{layout.sections} * kSectionHeaderSize > size)
        return "the table of " + std::to_string(layout.sections) + " sections lies " + pastEnd;
    for (uint32_t i = 0; i < layout.sections; ++i) {
        const unsigned char* header = bytes + layout.table + i * kSectionHeaderSize;
        uint64_t virtualSize = Word32(header + 8);
        if (virtualSize == 0)
            virtualSize = Word32(header + 16);  // the size of its data in the file
        const uint64_t start = Word32(header + 12);
        const uint32_t flags = Word32(header + 36);
        if (start + virtualSize > image.size)
            return "section " + std::to_string(i + 1) + " '" + ShownSectionName(header) + "' (" + HexText(start) +
                   " + " + HexText(virtualSize) + ") lies outside the size of image " + HexText(image.size);
        AddressRange range{image.base + static_cast<uintptr_t>(start),
                           image.base + static_cast<uintptr_t>(start + virtualSize)};
        if (flags & kExecute)
            image.code.push_back(range);
        if (flags & kWrite)
            image.writable.push_back(range);
    }
    return {};
}

}  // namespace

std::string DescribePeHeaders(const unsigned char* bytes, size_t size, bool cut, int addressBits,
                              ExecutableImage& image)
{
    image = ExecutableImage{};
    const std::string pastEnd = cut ? "beyond the first " + std::to_string(size) + " bytes, where the headers must lie"
                                    : "past the end of the file (" + std::to_string(size) + " bytes)";
    Layout layout;
    std::string problem = ReadFileHeader(bytes, size, pastEnd, layout);
    if (problem.empty())
        problem = ReadOptionalHeader(bytes, layout, addressBits, image);
    if (problem.empty())
        problem = ReadSections(bytes, size, pastEnd, layout, image);
    if (problem.empty())
        image.stamp = layout.stamp;
    else
        image = ExecutableImage{};
    return problem;
}
