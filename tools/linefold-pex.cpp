// linefold-pex: compiles a script of Global Native function declarations
// (papyrus/Linefold.psc) to the compiled script the game loads, and shows
// what a compiled script holds.
//
//   linefold-pex SOURCE.psc OUTPUT.pex
//   linefold-pex --dump FILE.pex
//
// A source with anything but such declarations is refused, each fault on
// standard error as FILE:LINE: message, exit status 1, and nothing is
// written. The output is written to OUTPUT.pex.tmp, then renamed, so that a
// failed run never leaves half a file. The compilation time written is
// SOURCE_DATE_EPOCH when it is set, else a fixed time: the same source gives
// the same bytes on every machine.

#include "pex/Compiler.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>

namespace {

const char* const kProgram = "linefold-pex";

// 2011-11-11 00:00:00 UTC, the game's release: a fixed time when the build
// names none.
constexpr uint64_t kFixedTime = 1320969600;

int Usage()
{
    std::cerr << "usage: " << kProgram << " SOURCE.psc OUTPUT.pex\n"
              << "       " << kProgram << " --dump FILE.pex\n";
    return 2;
}

int Failed(const std::string& file, const std::string& message)
{
    std::cerr << kProgram << ": " << file << ": " << message << "\n";
    return 1;
}

bool ReadFile(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool CompilationTime(uint64_t& time)
{
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (!epoch) {
        time = kFixedTime;
        return true;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long seconds = std::strtoull(epoch, &end, 10);
    if (*epoch < '0' || *epoch > '9' || *end != '\0' || errno == ERANGE) {
        std::cerr << kProgram << ": SOURCE_DATE_EPOCH is no number of seconds: '" << epoch << "'\n";
        return false;
    }
    time = seconds;
    return true;
}

int Compile(const std::string& sourcePath, const std::string& outputPath)
{
    std::string source;
    if (!ReadFile(sourcePath, source))
        return Failed(sourcePath, std::string("cannot be read: ") + std::strerror(errno));
    std::vector<papyrus::Error> errors;
    std::string sourceName = std::filesystem::path(sourcePath).filename().string();
    papyrus::Script script = papyrus::Parse(source, sourceName, errors);
    for (const papyrus::Error& error : errors)
        std::cerr << sourcePath << ":" << error.line << ": " << error.message << "\n";
    if (!errors.empty())
        return 1;
    uint64_t time = 0;
    if (!CompilationTime(time))
        return 1;

    std::string bytes;
    try {
        bytes = pex::Write(pex::Compile(script, sourceName, time));
    } catch (const std::exception& error) {
        return Failed(sourcePath, std::string("too large for a compiled script: ") + error.what());
    }

    std::string temporary = outputPath + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return Failed(temporary, std::string("cannot be written: ") + std::strerror(errno));
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, outputPath, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return Failed(outputPath, "cannot be replaced: " + error.message());
    }
    return 0;
}

int Dump(const std::string& path)
{
    std::string bytes;
    if (!ReadFile(path, bytes))
        return Failed(path, std::string("cannot be read: ") + std::strerror(errno));
    pex::File file;
    if (std::optional<pex::ReadFailure> failure = pex::Read(bytes, file))
        return Failed(path, "offset " + std::to_string(failure->offset) + ": " + failure->what);
    pex::Dump(file, std::cout);
    return std::cout.flush() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return Usage();
    std::string first = argv[1];
    if (first == "--dump")
        return Dump(argv[2]);
    if (!first.empty() && first[0] == '-')
        return Usage();
    return Compile(first, argv[2]);
}
