// linefold-pex-fuzz: the reader of compiled scripts on any bytes. It must
// stop cleanly on what it cannot read; what it reads must show, and write
// to bytes that read back to a file that writes the same bytes again.
#include "pex/PexFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    pex::File file;
    if (pex::Read(std::string(reinterpret_cast<const char*>(data), size), file))
        return 0;
    std::ostringstream dump;
    pex::Dump(file, dump);

    std::string written = pex::Write(file);
    pex::File again;
    if (std::optional<pex::ReadFailure> failure = pex::Read(written, again)) {
        std::fprintf(stderr, "MISMATCH: the written file does not read back: offset %zu: %s\n", failure->offset,
                     failure->what.c_str());
        std::abort();
    }
    if (pex::Write(again) != written) {
        std::fprintf(stderr, "MISMATCH: the file read back writes other bytes\n");
        std::abort();
    }
    return 0;
}
