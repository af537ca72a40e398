#include "linefile/TextStream.h"

#include <cstring>

namespace textmode {
// What the two platform halves below provide. Every failure gives an errno
// value in error.
// Both open ordinary files only, and tell which file they opened.
File* OpenForReading(const NativePathString& path, FileIdentity& identity, int& error);
// Never empties the file.
File* OpenForWriting(const NativePathString& path, bool append, FileIdentity& identity, int& error);
// Empties a file opened for writing (not appending) before anything is written.
bool Empty(File* file, int& error);
// Reads translated text into buffer (size at least 2): the count of bytes,
// 0 at the end of the input, -1 on failure.
long ReadText(File* file, char* buffer, size_t size, int& error);
// Writes text with every LF turned into CR LF; may buffer.
bool WriteText(File* file, const char* text, size_t size, int& error);
// Writes out what is buffered and releases the file in every case.
bool CloseFile(File* file, int& error);
}  // namespace textmode

namespace {
constexpr size_t kReadBufferSize = 64 * 1024;
}

void (*textmode::beforeDiskWork)(const FileIdentity& file) = nullptr;

TextInput::TextInput() = default;

TextInput::~TextInput() { Close(); }

bool TextInput::Open(const FilePath& path)
{
    Close();
    buffer.reset(new char[kReadBufferSize]);
    int error = 0;
    file = textmode::OpenForReading(path.Native(), identity, error);
    if (!file) {
        errorText = std::strerror(error);
        return false;
    }
    next = end = buffer.get();
    atEnd = failed = false;
    return true;
}

bool TextInput::Fill()
{
    if (textmode::beforeDiskWork)
        textmode::beforeDiskWork(identity);
    int error = 0;
    long count = textmode::ReadText(file, buffer.get(), kReadBufferSize, error);
    if (count < 0) {
        failed = atEnd = true;
        errorText = std::strerror(error);
        return false;
    }
    if (count == 0) {
        atEnd = true;
        return false;
    }
    next = buffer.get();
    end = next + count;
    return true;
}

TextInput::Read TextInput::ReadLine(std::string& line)
{
    line.clear();
    if (!file || failed)
        return Read::Failed;
    bool tookAny = false;
    for (;;) {
        if (next == end && (atEnd || !Fill())) {
            if (failed)
                return Read::Failed;
            return tookAny ? Read::Line : Read::End;
        }
        const char* lineFeed =
            static_cast<const char*>(std::memchr(next, '\n', static_cast<size_t>(end - next)));
        if (lineFeed) {
            line.append(next, lineFeed);
            next = lineFeed + 1;
            return Read::Line;
        }
        line.append(next, end);
        next = end;
        tookAny = true;
    }
}

void TextInput::Close()
{
    if (file) {
        int ignored = 0;
        textmode::CloseFile(file, ignored);
        file = nullptr;
    }
    buffer.reset();
    next = end = nullptr;
}

TextOutput::TextOutput() = default;

TextOutput::~TextOutput() { Close(); }

bool TextOutput::Open(const FilePath& path, bool append)
{
    Close();
    int error = 0;
    file = textmode::OpenForWriting(path.Native(), append, identity, error);
    failed = false;
    if (!file) {
        errorText = std::strerror(error);
        return false;
    }
    return true;
}

bool TextOutput::Empty()
{
    if (!file || failed)
        return false;
    if (textmode::beforeDiskWork)
        textmode::beforeDiskWork(identity);
    int error = 0;
    if (!textmode::Empty(file, error)) {
        Fail(error);
        return false;
    }
    return true;
}

void TextOutput::Fail(int error)
{
    failed = true;
    errorText = std::strerror(error);
}

void TextOutput::WriteLine(const std::string& text)
{
    if (!file || failed)
        return;
    if (textmode::beforeDiskWork)
        textmode::beforeDiskWork(identity);
    int error = 0;
    if (!textmode::WriteText(file, text.data(), text.size(), error) ||
        !textmode::WriteText(file, "\n", 1, error))
        Fail(error);
}

bool TextOutput::Close()
{
    if (file) {
        int error = 0;
        if (!textmode::CloseFile(file, error) && !failed)
            Fail(error);
        file = nullptr;
    }
    return !failed;
}

#if defined(_WIN32)
#include "linefile/Windows/TextStream.inc"
#else
#include "linefile/Unix/TextStream.inc"
#endif
