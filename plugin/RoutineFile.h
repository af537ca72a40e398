#pragma once

// The routine file: the routine table as data, for a plugin whose compiled-in
// table is incomplete. It lies beside the plugin's binary, is named after the
// plugin and the runtime (Linefold-09200000.ini), and looks like this:
//
//   ; comments start with ; or #
//   [09200000]
//   imageBase = 0x00400000
//   imageSize = 0x...
//   imageStamp = 0x...
//   gameHeap = 0x...
//   heapAllocate = 0x...
//   ... one line for every entry of kRoutineFields
//
// Values are hexadecimal (0x optional). The addresses assume an executable
// loaded at imageBase; each is taken as the running executable's real base
// plus its distance from imageBase, so a relocated executable works too.
// imageSize and imageStamp say which executable the table was written for:
// the PE header's size of image and link time stamp on Windows; on Linux,
// where ELF has no time stamp, the span of the loadable segments and the
// first four bytes of the GNU build ID (0 without one).
//
// Nothing of the file is trusted before all of it has passed: a file with a
// line of more than 256 characters, a line that is neither a [section], a
// name = value entry nor a comment, an unknown name, a name given twice, a
// value that is not a hexadecimal number or is followed by more text, a
// missing entry, another executable's size or stamp, an address outside the
// executable, a routine outside its code or the heap object outside its
// writable data is refused as a whole. Sections of other runtimes are
// skipped. Names are matched without regard to case, as INI files usually are.
// The file may be ANSI or UTF-8 text, or UTF-16, with a byte order mark or
// without.
//
// The Windows profile API (GetPrivateProfileString) would read such a file,
// but it reports no line numbers, takes the first of two equal names silently,
// ignores unknown names and malformed lines, cuts long values to its buffer
// and does not exist elsewhere. This small parser serves both builds alike.

#include "linefile/FilePath.h"
#include "plugin/RuntimeRoutines.h"

#include <cstdint>
#include <string>
#include <vector>

// The width of this program's addresses.
constexpr int kAddressBits = 8 * sizeof(uintptr_t);

// The mask of an address of that many bits (at most 64): arithmetic on an
// executable's addresses wraps where the executable's own would.
constexpr uint64_t AddressMask(int bits) { return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1; }

// The addresses from begin up to, not including, end.
struct AddressRange {
    uintptr_t begin;
    uintptr_t end;
    bool Holds(uintptr_t address) const { return address >= begin && address < end; }
};

// An executable as it lies in memory: what the routine file is checked
// against. The plugin describes the running program's main executable (not
// the plugin); linefold-routines describes an executable on disk as loaded
// at its linked base (PeImage.h).
struct ExecutableImage {
    uintptr_t base = 0;        // where its first byte is loaded
    uintptr_t linkedBase = 0;  // where its headers say it was linked to load
    uintptr_t size = 0;
    uint32_t stamp = 0;
    int addressBits = kAddressBits;  // the width of its addresses, and of the file's values

    std::vector<AddressRange> code;      // sections that hold executable code
    std::vector<AddressRange> writable;  // writable data sections
};

// False when the executable's headers cannot be read.
bool DescribeMainImage(ExecutableImage& image);

// Linefold-09200000.ini for runtime 0x09200000.
std::string RoutineFileName(uint32_t runtime);

// Reads the file at path for runtime and checks it against image. Fills
// table and answers no problem when every check passed; otherwise leaves
// table alone and answers every problem found, one line each, naming the
// file and the line or entry. A fault in the file's form ends the reading,
// so it is the only problem then; past that, every missing entry and every
// misplaced address is one.
std::vector<std::string> CheckRoutineFile(const NativePathString& path, uint32_t runtime, const ExecutableImage& image,
                                          RuntimeRoutines& table);

// The same, answering only the first problem, or the empty text: the one
// line the plugin logs.
std::string ReadRoutineFile(const NativePathString& path, uint32_t runtime, const ExecutableImage& image,
                            RuntimeRoutines& table);

// Describes the executable file at path, a 32-bit PE image (such as the
// game's), from its headers alone. Answers the empty text, or why not, in one
// line naming the file.
std::string DescribeExecutableFile(const NativePathString& path, ExecutableImage& image);

// Where the routine file for runtime lies: beside the plugin's own binary.
// False when the plugin's folder cannot be found.
bool FindRoutineFileBesidePlugin(uint32_t runtime, NativePathString& path);

// The same for the file beside the plugin's own binary and the running
// executable: what the shipped plugin does when its compiled-in table is
// incomplete.
RuntimeReadiness ReadRoutineFileBesidePlugin(uint32_t runtime, RuntimeRoutines& table);

// A routine file to start from for image: the section for runtime with
// imageBase, imageSize and imageStamp filled in, and a comment for every
// routine entry saying what it is, for a person to write its address under.
std::string StartingRoutineFileText(uint32_t runtime, const ExecutableImage& image);

// The text of a routine file that places routines in image, stating
// statedBase as the base its addresses assume.
std::string RoutineFileText(uint32_t runtime, const ExecutableImage& image, const RuntimeRoutines& routines,
                            uintptr_t statedBase);
