#include "support/RoutineFileCases.h"

#include "plugin/PluginMain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

FileText::FileText(const ExecutableImage& image, const RuntimeRoutines& routines, uintptr_t readOnly)
    : image(image), readOnly(readOnly)
{
    std::istringstream text(RoutineFileText(kSupportedRuntime, image, routines, image.linkedBase));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
}

size_t FileText::Line(const std::string& name) const
{
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(name + " = ", 0) == 0)
            return i + 1;
    }
    ADD_FAILURE() << "no line for " << name;
    return 0;
}

std::string FileText::Text() const
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

const std::vector<Refusal> kRefusals = {
    {"a section for another runtime only",
     [](FileText& file) {
         for (std::string& line : file.lines) {
             if (line == "[09200000]")
                 line = "[09200001]";
         }
         return std::string("no section [09200000] for this runtime");
     }},
    {"an entry missing",
     [](FileText& file) {
         file.lines.erase(file.lines.begin() + static_cast<long>(file.Line("heapFree")) - 1);
         return std::string("'heapFree' missing");
     }},
    {"an entry named twice (names ignore case)",
     [](FileText& file) {
         file.lines.push_back("HeapFree = " + file.Value("heapFree"));
         return "line " + std::to_string(file.lines.size()) + ": 'heapFree': given a second time (first on line " +
                std::to_string(file.Line("heapFree")) + ")";
     }},
    {"an unknown entry",
     [](FileText& file) {
         file.lines.push_back("heapFreed = " + file.Value("heapFree"));
         return "line " + std::to_string(file.lines.size()) + ": unknown entry 'heapFreed'";
     }},
    {"a value that is not a hexadecimal number",
     [](FileText& file) {
         file.Set("heapFree", "0x12G4");
         return file.At("heapFree") + "'heapFree': '0x12G4' is not a hexadecimal number";
     }},
    {"a value too large for an address",
     [](FileText& file) {
         std::string value = "0x1" + std::string(file.image.addressBits / 4, '0');
         file.Set("heapFree", value);
         return file.At("heapFree") + "'heapFree': " + value + " does not fit in " +
                std::to_string(file.image.addressBits) + " bits";
     }},
    {"junk after a value",
     [](FileText& file) {
         file.Set("heapFree", file.Value("heapFree") + " ; the heap's free");
         return file.At("heapFree") + "'heapFree': junk after the value: '; the heap's free'";
     }},
    {"junk after the section name",
     [](FileText& file) {
         size_t line = file.Line("imageBase") - 1;
         file.lines[line - 1] += " x";
         return "line " + std::to_string(line) + ": junk after the section name: 'x'";
     }},
    {"an over-long line",
     [](FileText& file) {
         file.lines.insert(file.lines.begin(), ";" + std::string(256, '-'));
         return std::string("line 1: longer than 256 characters");
     }},
    {"an entry before the first section",
     [](FileText& file) {
         file.lines.insert(file.lines.begin(), "imageBase = 0");
         return std::string("line 1: an entry before the first [section]");
     }},
    {"a line that is no entry",
     [](FileText& file) {
         file.lines.push_back("heapFree " + file.Value("heapFree"));
         return "line " + std::to_string(file.lines.size()) +
                ": neither a [section], a name = value entry nor a comment";
     }},
    {"the runtime's section twice",
     [](FileText& file) {
         file.lines.push_back("[09200000]");
         return "line " + std::to_string(file.lines.size()) + ": section [09200000] a second time";
     }},
    {"another executable's size",
     [](FileText& file) {
         file.Set("imageSize", HexText(file.image.size + 0x1000, 8));
         return file.At("imageSize") + "written for another executable: imageSize " + HexText(file.image.size + 0x1000, 8) +
                ", this one's is " + HexText(file.image.size, 8);
     }},
    {"another executable's stamp",
     [](FileText& file) {
         uint32_t stamp = file.image.stamp ^ 1;
         file.Set("imageStamp", HexText(stamp, 8));
         return file.At("imageStamp") + "written for another executable: imageStamp " + HexText(stamp, 8) +
                ", this one's is " + HexText(file.image.stamp, 8);
     }},
    // Every entry passes but one.
    {"a routine one past the end of the executable",
     [](FileText& file) {
         std::string end = file.Hex(file.image.linkedBase + file.image.size);
         file.Set("valueReset", end);
         return file.At("valueReset") + "'valueReset' = " + end + " lies outside the executable";
     }},
    {"a routine just before the executable",
     [](FileText& file) {
         std::string before = file.Hex(file.image.linkedBase - 1);
         file.Set("heapAllocate", before);
         return file.At("heapAllocate") + "'heapAllocate' = " + before + " lies outside the executable";
     }},
    {"a routine in data",
     [](FileText& file) {
         std::string data = file.Value("gameHeap");
         file.Set("handleSet", data);
         return file.At("handleSet") + "'handleSet' = " + data + " lies outside the executable's code";
     }},
    {"the heap object in code",
     [](FileText& file) {
         std::string code = file.Value("heapAllocate");
         file.Set("gameHeap", code);
         return file.At("gameHeap") + "'gameHeap' = " + code + " lies outside the executable's writable data";
     }},
    {"the heap object in read-only data",
     [](FileText& file) {
         std::string readOnly = file.Hex(file.readOnly);
         file.Set("gameHeap", readOnly);
         return file.At("gameHeap") + "'gameHeap' = " + readOnly + " lies outside the executable's writable data";
     }},
    {"a file too large",
     [](FileText& file) {
         for (int i = 0; i < 300; ++i)
             file.lines.push_back(";" + std::string(250, '-'));
         return std::string("larger than 65536 bytes");
     }},
};

