// The routine file's unit on its own: what it takes to be this program's
// executable, and the files it accepts. (Each refusal is tested through the
// plugin library, in PluginLibraryTest.)
#include "support/TestSupport.h"

#include "plugin/PluginMain.h"
#include "plugin/RoutineFile.h"
#include "standin/StandInRuntime.h"

#include <memory>

using lftest::FolderTest;

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
    MainImage image;
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
}
