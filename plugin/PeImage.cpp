#include "plugin/PeImage.h"

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

std::string Hex(uint64_t value)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[value & 15]);
        value >>= 4;
    } while (value != 0);
    return "0x" + digits;
}

std::string SectionName(const unsigned char* header)
{
    std::string name;
    for (size_t i = 0; i < 8 && header[i] != 0; ++i)
        name += header[i] >= ' ' && header[i] < 0x7F ? static_cast<char>(header[i]) : '?';
    return name;
}

}  // namespace

std::string DescribePeHeaders(const unsigned char* bytes, size_t size, bool cut, int addressBits,
                              MainImage& image)
{
    image = MainImage{};
    const std::string pastEnd = cut ? "beyond the first " + std::to_string(size) + " bytes, where the headers must lie"
                                    : "past the end of the file (" + std::to_string(size) + " bytes)";
    if (size >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F')
        return "an ELF file, not a PE image: routine files are written for TESV.exe only";
    if (size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z')
        return "not a PE image: no MZ header";
    const uint64_t pe = Word32(bytes + 0x3C);
    const uint64_t optional = pe + 24;
    if (optional > size)
        return "the PE header at " + Hex(pe) + " lies " + pastEnd;
    if (Word32(bytes + pe) != 0x00004550)  // "PE\0\0"
        return "not a PE image: no PE signature at " + Hex(pe);
    const uint32_t sections = Word16(bytes + pe + 6);
    const uint32_t stamp = Word32(bytes + pe + 8);
    const uint32_t optionalSize = Word16(bytes + pe + 20);
    if (optionalSize < 64)
        return "an optional header of " + std::to_string(optionalSize) + " bytes is too small";
    const uint64_t table = optional + optionalSize;
    if (table > size)
        return "the optional header lies " + pastEnd;

    const uint32_t magic = Word16(bytes + optional);
    uint64_t base;
    if (magic == 0x10B) {
        image.addressBits = 32;
        base = Word32(bytes + optional + 28);
    } else if (magic == 0x20B) {
        image.addressBits = 64;
        base = Word64(bytes + optional + 24);
    } else {
        return "an optional header of unknown kind " + Hex(magic);
    }
    if (image.addressBits != addressBits || addressBits > kAddressBits)
        return "a " + std::to_string(image.addressBits) + "-bit image, where a " + std::to_string(addressBits) +
               "-bit one is wanted";
    const uint64_t imageSize = Word32(bytes + optional + 56);
    if (imageSize == 0)
        return "a size of image of 0";
    // Its last byte's address plus one must be an address too; compared
    // without a sum that could overflow.
    const uint64_t highest = image.addressBits == 64 ? ~uint64_t{0} : (uint64_t{1} << image.addressBits) - 1;
    if (base > highest - imageSize)
        return "base " + Hex(base) + " with size of image " + Hex(imageSize) +
               " runs past the end of the address space";
    if (sections > kMostSections)
        return std::to_string(sections) + " sections, more than the " + std::to_string(kMostSections) +
               " Windows loads";
    if (table + uint64_t{sections} * kSectionHeaderSize > size)
        return "the table of " + std::to_string(sections) + " sections lies " + pastEnd;

    image.linkedBase = static_cast<uintptr_t>(base);
    image.base = image.linkedBase;
    image.size = static_cast<uintptr_t>(imageSize);
    image.stamp = stamp;
    for (uint32_t i = 0; i < sections; ++i) {
        const unsigned char* header = bytes + table + i * kSectionHeaderSize;
        uint64_t virtualSize = Word32(header + 8);
        if (virtualSize == 0)
            virtualSize = Word32(header + 16);  // the size of its data in the file
        const uint64_t start = Word32(header + 12);
        const uint32_t flags = Word32(header + 36);
        if (start + virtualSize > imageSize) {
            std::string name = SectionName(header);
            image = MainImage{};
            return "section " + std::to_string(i + 1) + " '" + name + "' (" + Hex(start) + " + " + Hex(virtualSize) +
                   ") lies outside the size of image " + Hex(imageSize);
        }
        AddressRange range{image.base + static_cast<uintptr_t>(start),
                           image.base + static_cast<uintptr_t>(start + virtualSize)};
        if (flags & kExecute)
            image.code.push_back(range);
        if (flags & kWrite)
            image.writable.push_back(range);
    }
    return {};
}
