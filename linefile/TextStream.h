#pragma once

#include "linefile/FilePath.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The two kinds of text-mode file stream a LineFile uses.
//
// Text mode means the same on every platform: a CR LF pair reads as LF, a CR
// not followed by LF stays in the line, the byte 0x1A ends the input for good,
// and every LF written reaches the file as CR LF. Files are opened so that
// other programs may read and write them meanwhile. Both streams open
// ordinary (disk) files only: never a folder, a device or a pipe, which could
// block the calling thread for good or take lines nowhere. A failed file operation
// shows in the result and in Failed()/ErrorText(), never as an exception;
// only exhausted memory throws (std::bad_alloc, std::length_error).

namespace textmode {
struct File;  // the platform's open file
}

// Which file an open stream holds, whatever path reached it: the volume and
// the file's number on it.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity& other) const { return volume == other.volume && index == other.index; }
};

namespace textmode {
// A seam for tests: when set, runs on the calling thread before each read of
// a TextInput's file, and before a TextOutput empties its file and writes
// each line, with the file's identity, so that a test can hold one file's
// disk work where it happens.
extern void (*beforeDiskWork)(const FileIdentity& file);
}  // namespace textmode

class TextInput {
public:
    enum class Read { Line, End, Failed };

    TextInput();
    ~TextInput();
    TextInput(const TextInput&) = delete;
    TextInput& operator=(const TextInput&) = delete;

    bool Open(const FilePath& path);
    bool IsOpen() const { return file != nullptr; }
    const FileIdentity& Identity() const { return identity; }

    // Reads the characters up to the next LF (consumed, not stored) into
    // line. At the end of the input, the characters since the last LF form
    // the last line; End comes when not a single character was left.
    // Failed comes when the file could not be read, and stays.
    Read ReadLine(std::string& line);

    void Close();
    const std::string& ErrorText() const { return errorText; }

private:
    bool Fill();

    textmode::File* file = nullptr;
    FileIdentity identity;
    std::unique_ptr<char[]> buffer;
    const char* next = nullptr;
    const char* end = nullptr;
    bool atEnd = false;
    bool failed = false;
    std::string errorText;
};

class TextOutput {
public:
    TextOutput();
    ~TextOutput();
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;

    // Creates a missing file and keeps what is there; with append every
    // write goes to the end. Nothing is emptied before Empty.
    bool Open(const FilePath& path, bool append);
    bool IsOpen() const { return file != nullptr; }
    const FileIdentity& Identity() const { return identity; }

    // Empties the file just opened (not for appending), before any write.
    bool Empty();

    // Writes the text and one LF. Once a write has failed, nothing more is
    // written. Bytes may stay buffered until Close.
    void WriteLine(const std::string& text);
    bool Failed() const { return failed; }

    // Writes out what is buffered and closes; false when that or any earlier
    // write failed.
    bool Close();
    const std::string& ErrorText() const { return errorText; }

private:
    void Fail(int error);

    textmode::File* file = nullptr;
    FileIdentity identity;
    bool failed = false;
    std::string errorText;
};
