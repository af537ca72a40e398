#include "linefile/TextStream.h"

#include <algorithm>
#include <cstring>

namespace textmode {
// What the two platform halves below provide: an open file of the system and
// the few calls on it. Every failure gives an errno value in error.
enum class Access { Read, Write, Append, Hold };
// Opens an ordinary (disk) file only, and tells which file it opened. For
// writing and appending, a missing file is created, and created says so;
// nothing is emptied. Appending, every write goes to the end of the file.
// Holding is reading that admits no other writer (see HeldFile).
SystemFile* OpenFile(const NativePathString& path, Access access, FileIdentity& identity, bool& created,
                     int& error);
// Reads up to size bytes as they are: the count, 0 at the end, -1 on failure.
long ReadBytes(SystemFile* file, char* buffer, size_t size, int& error);
// Writes all size bytes.
bool WriteBytes(SystemFile* file, const char* data, size_t size, int& error);
// Empties a file opened for writing (not appending) before anything is written.
bool Empty(SystemFile* file, int& error);
// Whether the open file has no name left.
bool Deleted(SystemFile* file);
// Releases the file in every case.
bool CloseFile(SystemFile* file, int& error);
}  // namespace textmode

namespace {
constexpr size_t kReadBufferSize = 64 * 1024;
constexpr size_t kWriteBufferSize = 64 * 1024;
constexpr char kEndOfText = 0x1A;

// Turns every CR LF pair in text[0, size) into LF; returns the new size.
// The text between two CRs moves as one block: a file with CR LF line ends
// costs a few passes over its bytes, not a test and a copy for each byte.
size_t JoinLineEnds(char* text, size_t size)
{
    char* const stop = text + size;
    char* in = static_cast<char*>(std::memchr(text, '\r', size));
    if (!in)
        return size;
    char* out = in;
    while (in < stop) {
        // in is at a CR; one that a LF follows is dropped.
        if (in + 1 < stop && in[1] == '\n')
            ++in;
        char* nextReturn = static_cast<char*>(std::memchr(in + 1, '\r', static_cast<size_t>(stop - in - 1)));
        char* blockEnd = nextReturn ? nextReturn : stop;
        std::memmove(out, in, static_cast<size_t>(blockEnd - in));
        out += blockEnd - in;
        in = blockEnd;
    }
    return static_cast<size_t>(out - text);
}
}  // namespace

void (*textmode::beforeDiskWork)(const FileIdentity& file) = nullptr;

TextInput::TextInput() = default;

TextInput::~TextInput() { Close(); }

bool TextInput::Open(const FilePath& path)
{
    Close();
    buffer.reset(new char[kReadBufferSize]);
    int error = 0;
    bool created = false;
    file = textmode::OpenFile(path.Native(), textmode::Access::Read, identity, created, error);
    if (!file) {
        errorText = std::strerror(error);
        return false;
    }
    next = end = buffer.get();
    atEnd = textEnded = heldReturn = failed = false;
    return true;
}

// Reads translated text into text[0, size) (size at least 2): the count of
// bytes, 0 at the end of the text, -1 on failure. A CR at the end of one read
// is held back until the next shows whether a LF follows it.
long TextInput::ReadText(char* text, size_t size, int& error)
{
    while (!textEnded) {
        size_t start = 0;
        if (heldReturn) {
            text[0] = '\r';
            start = 1;
        }
        long got = textmode::ReadBytes(file, text + start, size - start, error);
        if (got < 0)
            return -1;
        heldReturn = false;
        size_t count = start + static_cast<size_t>(got);
        if (got == 0)
            textEnded = true;
        if (char* stop = static_cast<char*>(std::memchr(text + start, kEndOfText, count - start))) {
            count = static_cast<size_t>(stop - text);
            textEnded = true;
        }
        count = JoinLineEnds(text, count);
        if (!textEnded && count > 0 && text[count - 1] == '\r') {
            heldReturn = true;
            --count;
        }
        if (count > 0)
            return static_cast<long>(count);
    }
    return 0;
}

bool TextInput::Fill()
{
    if (textmode::beforeDiskWork)
        textmode::beforeDiskWork(identity);
    int error = 0;
    long count = ReadText(buffer.get(), kReadBufferSize, error);
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
    failed = created = false;
    pendingSize = 0;
    this->path = path;
    int error = 0;
    textmode::Access access = append ? textmode::Access::Append : textmode::Access::Write;
    file = textmode::OpenFile(path.Native(), access, identity, created, error);
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

void TextOutput::Discard()
{
    bool made = file && created;
    Abandon();
    if (made) {
        try {
            std::string ignoredText;
            RemoveFile(path, identity, ignoredText, discarded);
        } catch (...) {
            // Out of memory for a message: the empty file stays.
        }
    }
}

void TextOutput::Abandon()
{
    if (!file)
        return;
    int ignored = 0;
    textmode::CloseFile(file, ignored);
    file = nullptr;
    pendingSize = 0;
    created = false;
}

bool TextOutput::Deleted() const { return file && textmode::Deleted(file); }

void TextOutput::Fail(int error)
{
    failed = true;
    errorText = std::strerror(error);
}

bool TextOutput::WritePending()
{
    int error = 0;
    if (pendingSize > 0 && !textmode::WriteBytes(file, pending.get(), pendingSize, error)) {
        Fail(error);
        return false;
    }
    pendingSize = 0;
    return true;
}

bool TextOutput::Put(const char* data, size_t size)
{
    // Made at the first write: a game may hold thousands of files loaded.
    if (!pending)
        pending.reset(new char[kWriteBufferSize]);
    while (size > 0) {
        if (pendingSize == kWriteBufferSize && !WritePending())
            return false;
        size_t part = std::min(size, kWriteBufferSize - pendingSize);
        std::memcpy(pending.get() + pendingSize, data, part);
        pendingSize += part;
        data += part;
        size -= part;
    }
    return true;
}

void TextOutput::WriteLine(const std::string& text)
{
    if (!file || failed)
        return;
    if (textmode::beforeDiskWork)
        textmode::beforeDiskWork(identity);
    // Every LF of the text, and the one that ends it, reaches the file as CR LF.
    const char* rest = text.data();
    size_t size = text.size();
    for (;;) {
        const char* lineFeed = static_cast<const char*>(std::memchr(rest, '\n', size));
        size_t length = lineFeed ? static_cast<size_t>(lineFeed - rest) : size;
        if (!Put(rest, length) || !Put("\r\n", 2) || !lineFeed)
            return;
        rest += length + 1;
        size -= length + 1;
    }
}

bool TextOutput::Close()
{
    if (file) {
        if (!failed)
            WritePending();
        int error = 0;
        if (!textmode::CloseFile(file, error) && !failed)
            Fail(error);
        file = nullptr;
        created = false;
    }
    return !failed;
}

HeldFile::~HeldFile() { Keep(nullptr); }

void HeldFile::Keep(textmode::SystemFile* kept)
{
    if (file) {
        int ignored = 0;
        textmode::CloseFile(file, ignored);
    }
    file = kept;
}

bool HeldFile::Hold(const NativePathString& path)
{
    int ignored = 0;
    bool created = false;
    file = textmode::OpenFile(path, textmode::Access::Hold, identity, created, ignored);
    return file != nullptr;
}

#if defined(_WIN32)
#include "linefile/Windows/TextStream.inc"
#else
#include "linefile/Unix/TextStream.inc"
#endif
