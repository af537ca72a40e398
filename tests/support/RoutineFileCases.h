#pragma once

// A routine file that passes, line by line, and each way to spoil it with the
// reason the plugin gives: one table for the plugin library's refusals and
// linefold-routines' check against an executable on disk.
#include "common/HexText.h"
#include "plugin/RoutineFile.h"

#include <cstdint>
#include <string>
#include <vector>

class FileText {
public:
    // The file that places routines in image, as RoutineFileText writes it;
    // readOnly is the stated address of read-only data in image.
    FileText(const ExecutableImage& image, const RuntimeRoutines& routines, uintptr_t readOnly);
    // The number of the line that gives name.
    size_t Line(const std::string& name) const;
    std::string At(const std::string& name) const { return "line " + std::to_string(Line(name)) + ": "; }
    std::string Value(const std::string& name) const { return lines[Line(name) - 1].substr(name.size() + 3); }
    void Set(const std::string& name, const std::string& value) { lines[Line(name) - 1] = name + " = " + value; }
    // An address as wide as the image's.
    std::string Hex(uint64_t address) const { return HexText(address, image.addressBits / 4); }
    std::string Text() const;

    ExecutableImage image;
    uintptr_t readOnly;
    std::vector<std::string> lines;
};

// One way to spoil the file: changes it and answers the reason given after
// the file's name.
struct Refusal {
    const char* what;
    std::string (*spoil)(FileText& file);
};

extern const std::vector<Refusal> kRefusals;
