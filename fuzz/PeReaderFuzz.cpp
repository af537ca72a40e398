// linefold-pe-fuzz: the reader of PE headers on any bytes, as a whole file
// and as the start of a larger one, for 32-bit images and for this
// program's. It must stop cleanly on what it cannot read, and what it reads
// must hold together: every section inside the size of image, the image
// inside the address space of its width.
#include "plugin/PeImage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Expect(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "MISMATCH: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (int bits : {32, kAddressBits}) {
        // The end of the headers read, as in the middle of a larger file.
        bool cut = bits == kAddressBits;
        ExecutableImage image;
        if (!DescribePeHeaders(data, size, cut, bits, image).empty()) {
            Expect(image.size == 0 && image.code.empty() && image.writable.empty(), "a refused image is described");
            continue;
        }
        Expect(image.addressBits == bits, "the address width asked for");
        Expect(image.size != 0 && image.base == image.linkedBase, "a size, at the linked base");
        Expect(image.base + image.size > image.base, "the image ends inside the address space");
        Expect(image.addressBits == 64 || (uint64_t{image.base} + image.size) <= (uint64_t{1} << 32),
               "a 32-bit image ends within 4 GiB");
        for (const std::vector<AddressRange>* ranges : {&image.code, &image.writable}) {
            for (const AddressRange& range : *ranges)
                Expect(range.begin >= image.base && range.begin <= range.end && range.end <= image.base + image.size,
                       "a section inside the size of image");
        }
    }
    return 0;
}
