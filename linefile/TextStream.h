#pragma once

#include "linefile/FilePath.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The two kinds of text-mode file stream a LineFile uses, and what they tell
// about the file they hold.
//
// Text mode means the same on every platform: a CR LF pair reads as LF, a CR
// not followed by LF stays in the line, the byte 0x1A ends the input for good,
// and every LF written reaches the file as CR LF. A file's first bytes tell
// its encoding (TextEncoding): a UTF-8 byte order mark there is not text, and
// a UTF-16 one makes the file UTF-16, converted to and from the code page of
// path names (CodePage.h) below text mode. Files are opened so that
// other programs may read and write them meanwhile. Both streams open
// ordinary (disk) files only: never a folder, a device or a pipe, which could
// block the calling thread for good or take lines nowhere. A failed file operation
// shows in the result and in Failed()/ErrorText(), never as an exception;
// only exhausted memory throws (std::bad_alloc, std::length_error).

namespace textmode {
struct SystemFile;  // the platform's open file
}

namespace codepage {
class Utf16Decoder;
}

// What a file's bytes are, by its byte order mark: 8-bit text (the mark of
// UTF-8 included, or none at all), taken as it is, or UTF-16 in either byte
// order.
enum class TextEncoding { EightBit, Utf16LittleEndian, Utf16BigEndian };

// Which file an open stream holds, whatever path reached it: the volume and
// the file's number on it. Where the system gives no usable volume or number
// (0, as Wine does on tmpfs, sysfs and procfs), the file's final path as the
// system names it stands beside them, so that two files are never taken for
// one; two hard links of such a file then count as two files.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    NativePathString finalPath;  // empty where volume and index are enough
    bool operator==(const FileIdentity& other) const
    {
        return volume == other.volume && index == other.index && finalPath == other.finalPath;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// The identity of the file or folder at path, links followed; false when
// nothing can be opened there.
bool IdentifyPath(const NativePathString& path, FileIdentity& identity);

// The folder that the last name of path would be made in, and that name, as
// the path's text gives them ("." for a bare name; a root keeps its
// separator).
void SplitAtLastName(const NativePathString& path, NativePathString& folder, NativePathString& name);

// Whether two names of one folder name one file, as the platform's file
// system compares them (on Windows, without regard to letter case).
bool SameFileName(const NativePathString& one, const NativePathString& other);

// A file held open for reading for as long as this lives, so that its number
// goes to no other file meanwhile. On Windows the hold admits other readers
// only: no open for writing and no delete, rename or replacement of the file
// succeeds by any name while it is held (where someone has the file open for
// writing already, it is held without that guard).
class HeldFile {
public:
    HeldFile() = default;
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // False when no ordinary file can be opened at path.
    bool Hold(const NativePathString& path);
    const FileIdentity& Identity() const { return identity; }

    // Holds an open file of the platform's, in place of any held before.
    void Keep(textmode::SystemFile* kept);
    // Lets go of the file held, if any.
    void LetGo() { Keep(nullptr); }

private:
    textmode::SystemFile* file = nullptr;
    FileIdentity identity;
};

enum class Removal { Removed, Missing, Failed };

// Deletes the file at path, but only the file that has the identity expected,
// checked just before: never a folder, nor another file put at the path
// since. A link at the path is removed itself, when it leads to that file.
// On Windows the delete goes through the handle that was checked, so no swap
// in between can make it remove anything else; POSIX has no such call, so
// there a file swapped in between the check and the unlink would go. On
// "Failed", errorText names the operation, the reason and the path. Where
// the system cannot remove a link without the file it leads to (Wine on a
// Unix symbolic link), nothing is removed. On "Removed", afterwards keeps
// the number of the file removed from going to another file until it is let
// go: whoever took the number for that file lets go of it first, so that no
// new file is taken for the old one meanwhile (on Windows the file goes
// only then).
Removal RemoveFile(const FilePath& path, const FileIdentity& expected, std::string& errorText, HeldFile& afterwards);


namespace textmode {
// A seam for tests: when set, runs on the calling thread before each read of
// a TextInput's file, before a TextOutput empties its file and writes each
// line, and before a LineFile deletes its file, with the file's identity, so
// that a test can hold one file's disk work where it happens.
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

    // Whether the end of the text was read (or reading failed): no more
    // lines come.
    bool AtEnd() const { return atEnd; }
    // Known from the first read on.
    TextEncoding Encoding() const { return encoding; }
    // UTF-16 characters that had no equivalent in the code page so far.
    uint64_t Unmapped() const;
    // Lines read so far, and the number (from 1) of the first that holds a
    // NUL byte; 0 while none has.
    uint64_t LinesRead() const { return lines; }
    uint64_t FirstLineWithNul() const { return nulLine; }
    // The bytes of the read buffer: made at the first read, no larger than
    // what is left of the file then (a game may hold thousands of small
    // files loaded), and given back once the end was read.
    size_t BufferSize() const { return bufferSize; }

    void Close();
    const std::string& ErrorText() const { return errorText; }

private:
    bool Fill();
    bool SizeBuffer(int& error);
    void ReleaseBuffer();
    long ReadText(char* text, size_t size, int& error);
    long ReadChunk(char* text, size_t size, int& error);
    size_t TakeMark(const char* bytes, size_t size);
    void Counted(const std::string& line);

    textmode::SystemFile* file = nullptr;
    FileIdentity identity;
    std::unique_ptr<char[]> buffer;
    size_t bufferSize = 0;
    uint64_t offset = 0;  // bytes read from the file
    const char* next = nullptr;
    const char* end = nullptr;
    bool atEnd = false;       // no more lines: the end of the text was handed out
    bool textEnded = false;   // the file's end or 0x1A was met: nothing more is read
    bool heldReturn = false;  // a CR ended the last read; its partner may follow
    bool failed = false;
    std::string errorText;

    bool markTaken = false;  // the first bytes were read, and with them the encoding
    TextEncoding encoding = TextEncoding::EightBit;
    std::unique_ptr<codepage::Utf16Decoder> decoder;  // for UTF-16
    std::string converted;                            // UTF-16 text converted, not handed out yet
    size_t convertedAt = 0;
    bool fileEnded = false;  // UTF-16: the file's end was read

    uint64_t lines = 0;     // lines handed out
    uint64_t nulLine = 0;
    bool nulAhead = false;  // a NUL byte was read, in a line not handed out yet
};

class TextOutput {
public:
    TextOutput();
    ~TextOutput();
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;

    // Opens the file, or creates it when it is missing; with append every
    // write goes to the end, in the encoding the file's byte order mark
    // tells (UTF-16 stays UTF-16). Nothing is emptied before Empty.
    bool Open(const FilePath& path, bool append);
    bool IsOpen() const { return file != nullptr; }
    const FileIdentity& Identity() const { return identity; }

    // Empties the file just opened (not for appending), before any write.
    bool Empty();

    // Closes without writing what is buffered; a file that this Open
    // created goes again, so that a load that fails leaves nothing behind
    // (its number is kept while this TextOutput lives, as RemoveFile says).
    void Discard();

    // Closes without writing what is buffered, and leaves the file as it is,
    // even one this Open created: another key may hold it by now.
    void Abandon();

    // Whether the file has lost every name since it was opened (another
    // call or program deleted it): lines written to it would reach nothing.
    bool Deleted() const;

    // Writes the text and one LF. Once a write has failed, nothing more is
    // written. Bytes may stay buffered until Close.
    void WriteLine(const std::string& text);
    bool Failed() const { return failed; }

    // Writes out what is buffered and closes; false when that or any earlier
    // write failed.
    bool Close();
    const std::string& ErrorText() const { return errorText; }

    TextEncoding Encoding() const { return encoding; }
    // Bytes of the lines written to a UTF-16 file that formed no character
    // of the code page; each went in as U+FFFD.
    uint64_t Unencodable() const { return unencodable; }

private:
    void Fail(int error);
    bool Put(const char* data, size_t size);
    bool WritePending();
    bool ReadEncoding(int& error);
    void WriteUtf16Line(const std::string& text);

    textmode::SystemFile* file = nullptr;
    FileIdentity identity;
    FilePath path;
    bool created = false;
    HeldFile discarded;
    std::unique_ptr<char[]> pending;  // written text not yet handed to the system
    size_t pendingSize = 0;
    bool failed = false;
    std::string errorText;
    TextEncoding encoding = TextEncoding::EightBit;
    uint64_t unencodable = 0;
};
