// The routine file's unit on its own: what it takes to be this program's
// executable, and the files it accepts; and linefold-routines, which checks
// and starts files against an executable on disk: the headers of our own
// i686 linefold-host.exe, with the places of its stand-in routines found
// through its symbols (scripts/pe-fixtures). Each refusal is tested both
// through the plugin library, in PluginLibraryTest, and here through the
// command, from the table of support/RoutineFileCases.h.
#include "support/RoutineFileCases.h"
#include "support/TestSupport.h"

#include "plugin/PeImage.h"
#include "plugin/PluginMain.h"
#include "plugin/RoutineFile.h"
#include "standin/StandInRuntime.h"
#include "tools/RoutinesCommand.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

using lftest::FolderTest;

namespace fs = std::filesystem;

namespace {

int writableWord = 1;
int zeroWord;
const char kReadOnlyText[] = "read-only";
// Constant, but holding an address: relocated when the program starts, then
// made read-only where the system does that.
const void* const kRelocatedConstant = &writableWord;

void CodeOfThisProgram() {}

bool InAny(const std::vector<AddressRange>& ranges, const void* address)
{
    for (const AddressRange& range : ranges) {
        if (range.Holds(reinterpret_cast<uintptr_t>(address)))
            return true;
    }
    return false;
}

void ExpectTableOfTheStandIn(const RuntimeRoutines& table)
{
    for (const RoutineField& field : kRoutineFields)
        EXPECT_EQ(FieldAddress(table, field), FieldAddress(standin::Routines(), field)) << field.name;
}

class RoutineFileTest : public FolderTest {
protected:
    void SetUp() override
    {
        FolderTest::SetUp();
        ASSERT_TRUE(DescribeMainImage(image));
    }
    // Reads text as the routine file.
    std::string Read(const std::string& text, RuntimeRoutines& table)
    {
        lftest::WriteBytes(folder / "routines.ini", text);
        return ReadRoutineFile((folder / "routines.ini").native(), kSupportedRuntime, image, table);
    }
    ExecutableImage image;
};

}  // namespace

TEST_F(RoutineFileTest, TheMainImageIsThisProgramWithItsCodeAndWritableData)
{
    auto inImage = [this](const void* address) {
        return reinterpret_cast<uintptr_t>(address) - image.base < image.size;
    };
    auto code = reinterpret_cast<const void*>(&CodeOfThisProgram);
    EXPECT_TRUE(inImage(code));
    EXPECT_TRUE(InAny(image.code, code));
    EXPECT_FALSE(InAny(image.writable, code));
    for (const void* data : {static_cast<const void*>(&writableWord), static_cast<const void*>(&zeroWord)}) {
        EXPECT_TRUE(InAny(image.writable, data));
        EXPECT_FALSE(InAny(image.code, data));
    }
    for (const void* readOnly : {static_cast<const void*>(kReadOnlyText), static_cast<const void*>(&kRelocatedConstant)}) {
        EXPECT_TRUE(inImage(readOnly));
        EXPECT_FALSE(InAny(image.writable, readOnly));
        EXPECT_FALSE(InAny(image.code, readOnly));
    }
    auto onTheHeap = std::make_unique<int>(0);
    EXPECT_FALSE(inImage(onTheHeap.get()));
}

TEST_F(RoutineFileTest, ARoutineIsTheRealBasePlusItsDistanceFromTheStatedBase)
{
    for (uintptr_t stated : {image.base, image.linkedBase, image.base + 0x10000, image.base - 0x10000}) {
        SCOPED_TRACE(stated);
        RuntimeRoutines table{};
        EXPECT_EQ(Read(RoutineFileText(kSupportedRuntime, image, standin::Routines(), stated), table), "");
        ExpectTableOfTheStandIn(table);
    }
}

TEST_F(RoutineFileTest, AFileIsReadAsAModderWritesIt)
{
    // A byte order mark, CR LF, comments, blank lines, another runtime's
    // section with entries of its own, names in other cases, blanks around
    // '=', values without 0x.
    std::string text = "\xEF\xBB\xBF; written by hand\r\n\r\n[08000000]\r\nsomethingElse = 12\r\n"
                       "# ours:\r\n[09200000]\r\n";
    std::string written = RoutineFileText(kSupportedRuntime, image, standin::Routines(), image.linkedBase);
    for (const RoutineField& field : kRoutineFields) {
        std::string name = field.name;
        size_t at = written.find("\n" + name + " = 0x") + 1;
        std::string value = written.substr(at + name.size() + 5, written.find('\n', at) - at - name.size() - 5);
        name[0] = static_cast<char>(name[0] - 'a' + 'A');
        text += "\t" + name + "\t=  " + value + " \r\n";
    }
    for (const char* entry : {"imageBase", "imageSize", "imageStamp"}) {
        size_t at = written.find("\n" + std::string(entry) + " = ") + 1;
        text += written.substr(at, written.find('\n', at) - at) + "\r\n";
    }
    RuntimeRoutines table{};
    EXPECT_EQ(Read(text, table), "");
    ExpectTableOfTheStandIn(table);

    // Saved as UTF-16, as PowerShell 5.1's redirection and Notepad's
    // "Unicode" save it, in either byte order, with its mark or without;
    // faults are found on the same lines.
    const std::u16string wide(text.begin() + 3, text.end());
    for (bool bigEndian : {false, true}) {
        for (bool mark : {true, false}) {
            SCOPED_TRACE(std::string(bigEndian ? "big" : "little") + "-endian" + (mark ? ", marked" : ""));
            RuntimeRoutines fromUtf16{};
            EXPECT_EQ(Read(lftest::Utf16(wide, bigEndian, mark), fromUtf16), "");
            ExpectTableOfTheStandIn(fromUtf16);
            EXPECT_EQ(Read(lftest::Utf16(u"[09200000]\r\nheapFree \xE9\r\n", bigEndian, mark), fromUtf16),
                      (folder / "routines.ini").generic_string() +
                          ": line 2: neither a [section], a name = value entry nor a comment");
        }
    }
}

namespace {

// linefold-routines with these arguments: its exit status, output and errors.
struct Command {
    explicit Command(const std::vector<std::string>& arguments)
    {
        std::ostringstream outText, errText;
        status = RoutinesCommand(arguments, outText, errText);
        out = outText.str();
        err = errText.str();
    }
    int status;
    std::string out, err;
};

class RoutinesCommandTest : public FolderTest {
protected:
    void SetUp() override
    {
        // Beside the test program, before the test moves to its own folder.
        executable = fs::absolute("pe/linefold-host.exe").generic_string();
        std::ifstream places("pe/linefold-host.places");
        FolderTest::SetUp();
        ASSERT_EQ(DescribeExecutableFile(fs::path(executable).native(), image), "");
        for (std::string entry, address, symbol; places >> entry >> address && std::getline(places, symbol);) {
            uintptr_t value = std::stoul(address, nullptr, 16);
            if (entry == "readOnly")
                readOnly = value;
            for (const RoutineField& field : kRoutineFields) {
                if (entry == field.name)
                    SetFieldAddress(routines, field, value);
            }
        }
        ASSERT_TRUE(IsComplete(routines) && readOnly != 0) << "pe/linefold-host.places lacks places";
    }
    Command Check(const std::string& text)
    {
        lftest::WriteBytes("routines.ini", text);
        return Command({"check", executable, "routines.ini"});
    }
    std::string executable;
    ExecutableImage image;
    RuntimeRoutines routines{};
    uintptr_t readOnly = 0;
};

}  // namespace

TEST_F(RoutinesCommandTest, ChecksAFileOfRealPlacesInAnExecutableOnDiskAsThePluginWould)
{
    EXPECT_EQ(image.addressBits, 32);
    EXPECT_EQ(image.base, 0x00400000u);
    Command taken = Check(FileText(image, routines, readOnly).Text());
    EXPECT_EQ(taken.status, 0) << taken.out << taken.err;
    EXPECT_EQ(taken.out, "routines.ini: would be taken: every entry passes against " + executable + "\n");

    for (const Refusal& refusal : kRefusals) {
        SCOPED_TRACE(refusal.what);
        FileText file(image, routines, readOnly);
        std::string reason = refusal.spoil(file);
        Command refused = Check(file.Text());
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.out,
                  "routines.ini: " + reason + "\n1 problem: the plugin would refuse the game with the first of them\n");
    }
}

TEST_F(RoutinesCommandTest, ANewFileNamesTheExecutableAndCheckListsTheEntriesStillToWrite)
{
    Command started({"new", executable});
    ASSERT_EQ(started.status, 0) << started.err;
    EXPECT_NE(started.out.find("[09200000]\nimageBase = 0x00400000\nimageSize = " + HexText(image.size, 8) +
                               "\nimageStamp = " + HexText(image.stamp, 8) + "\n"),
              std::string::npos)
        << started.out;
    std::string missing;
    std::string written = started.out;
    for (const RoutineField& field : kRoutineFields) {
        EXPECT_NE(started.out.find("\n; " + std::string(field.name) + ": " + field.what + "\n"), std::string::npos)
            << field.name;
        missing += "routines.ini: '" + std::string(field.name) + "' missing\n";
        // What the person writing the file adds: gameHeap deliberately in code.
        uintptr_t address = field.isObject ? FieldAddress(routines, kRoutineFields[1]) : FieldAddress(routines, field);
        written += std::string(field.name) + " = " + HexText(address, 8) + "\n";
    }
    Command fresh = Check(started.out);
    EXPECT_EQ(fresh.status, 1);
    EXPECT_EQ(fresh.out, missing + "15 problems: the plugin would refuse the game with the first of them\n");

    // Into a new file of its own, with CR LF line ends; never over a file.
    Command made({"new", executable, "-o", "made.ini"});
    EXPECT_EQ(made.status, 0) << made.err;
    std::string crLf;
    for (char c : started.out)
        crLf += c == '\n' ? "\r\n" : std::string(1, c);
    EXPECT_EQ(lftest::ReadBytes("made.ini"), crLf);
    lftest::WriteBytes("made.ini", "kept");
    Command again({"new", "-o", "made.ini", executable});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "linefold-routines: made.ini: a file is there already; not overwritten\n");
    EXPECT_EQ(lftest::ReadBytes("made.ini"), "kept");

    Command filled = Check(written);
    EXPECT_EQ(filled.status, 1);
    EXPECT_EQ(filled.out.substr(filled.out.find(": ") + 2, filled.out.find('\n') - filled.out.find(": ") - 2),
              "line " + std::to_string(std::count(started.out.begin(), started.out.end(), '\n') + 1) +
                  ": 'gameHeap' = " + HexText(FieldAddress(routines, kRoutineFields[1]), 8) +
                  " lies outside the executable's writable data");
}

// Headers spoilt in each way a file on disk can be, and files of other kinds:
// one line that says why, never a crash or a hang.
TEST_F(RoutinesCommandTest, AnExecutableThatIsNoSound32BitPeImageIsRefusedWithOneLine)
{
    const std::string headers = lftest::ReadBytes(executable);
    auto patched = [&headers](size_t at, std::string bytes) {
        std::string spoilt = headers;
        return spoilt.replace(at, bytes.size(), bytes);
    };
    const size_t pe = 0x80, optional = pe + 24, sections = optional + 224;
    struct Case {
        const char* what;
        std::string bytes;
        std::string reason;
    };
    const Case cases[] = {
        {"text", "; not an executable\n", "not a PE image: no MZ header"},
        {"an ELF file", "\x7F" "ELF\x01\x01\x01" + std::string(60, '\0'),
         "an ELF file, not a PE image: routine files are written for TESV.exe only"},
        {"a DOS program", "MZ" + std::string(0x3E, '\0'), "not a PE image: no PE signature at 0x0"},
        {"cut inside the PE header", headers.substr(0, pe + 10),
         "the PE header at 0x80 lies past the end of the file (138 bytes)"},
        {"cut inside the section table", headers.substr(0, sections + 100),
         "the table of 18 sections lies past the end of the file (476 bytes)"},
        {"cut one section header short", headers.substr(0, sections + 17 * 40),
         "the table of 18 sections lies past the end of the file (1056 bytes)"},
        {"a PE header far past the end", patched(0x3C, std::string("\xF0\xFF\xFF\xFF", 4)),
         "the PE header at 0xFFFFFFF0 lies past the end of the file (1536 bytes)"},
        {"headers beyond the first 64 KiB",
         patched(0x3C, std::string("\x00\x00\x01\x00", 4)) + std::string(0x10000, 'x'),
         "the PE header at 0x10000 lies beyond the first 65536 bytes, where the headers must lie"},
        {"65535 sections", patched(pe + 6, "\xFF\xFF"), "65535 sections, more than the 96 Windows loads"},
        {"more sections than the file holds", patched(pe + 6, std::string("\x28\x00", 2)),
         "the table of 40 sections lies past the end of the file (1536 bytes)"},
        {"an optional header past the end", patched(pe + 20, "\xFF\xFF"),
         "the optional header lies past the end of the file (1536 bytes)"},
        {"a 64-bit image", patched(optional, std::string("\x0B\x02", 2)),
         "a 64-bit image, where a 32-bit one is wanted"},
        {"a size of image of 0", patched(optional + 56, std::string(4, '\0')), "a size of image of 0"},
        {"an image past 4 GiB", patched(optional + 28, std::string("\x00\x00\xFF\xFF", 4)),
         "base 0xFFFF0000 with size of image " + HexText(image.size, 1) + " runs past the end of the address space"},
        {"a section past the size of image", patched(sections + 8, "\xFF\xFF\xFF\xFF"),
         "section 1 '.text' (0x1000 + 0xFFFFFFFF) lies outside the size of image " + HexText(image.size, 1)},
    };
    for (const Case& spoilt : cases) {
        SCOPED_TRACE(spoilt.what);
        lftest::WriteBytes("spoilt.exe", spoilt.bytes);
        for (const char* command : {"new", "check"}) {
            Command refused = std::string(command) == "new" ? Command({"new", "spoilt.exe"})
                                                        : Command({"check", "spoilt.exe", "routines.ini"});
            EXPECT_EQ(refused.status, 1);
            EXPECT_EQ(refused.out, "");
            EXPECT_EQ(refused.err, "linefold-routines: spoilt.exe: " + spoilt.reason + "\n");
        }
    }
}
