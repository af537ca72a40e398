#include "linefile/TextStream.h"

#include "linefile/CodePage.h"

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
// A file opened for appending is read from its start.
long ReadBytes(SystemFile* file, char* buffer, size_t size, int& error);
// The file's size now.
bool FileSize(SystemFile* file, uint64_t& size, int& error);
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
// The read buffer holds what is left of the file and a CR held from the read
// before, so that one read takes it all; never less than a byte order mark
// and a little, nor more than the largest read.
constexpr size_t kReadBufferSize = 64 * 1024;
constexpr size_t kSmallestReadBuffer = 16;
constexpr size_t kWriteBufferSize = 64 * 1024;
constexpr char kEndOfText = 0x1A;

// The encoding a file's first bytes[0, size) tell by a byte order mark, and
// the mark's length; a UTF-8 mark tells 8-bit text, as no mark does.
TextEncoding EncodingOfMark(const char* bytes, size_t size, size_t& length)
{
    auto startsWith = [bytes, size](const char* mark, size_t markLength) {
        return size >= markLength && std::memcmp(bytes, mark, markLength) == 0;
    };
    length = 3;
    if (startsWith("\xEF\xBB\xBF", length))
        return TextEncoding::EightBit;
    length = 2;
    if (startsWith("\xFF\xFE", length))
        return TextEncoding::Utf16LittleEndian;
    if (startsWith("\xFE\xFF", length))
        return TextEncoding::Utf16BigEndian;
    length = 0;
    return TextEncoding::EightBit;
}

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
    int error = 0;
    bool created = false;
    file = textmode::OpenFile(path.Native(), textmode::Access::Read, identity, created, error);
    if (!file) {
        errorText = std::strerror(error);
        return false;
    }
    atEnd = textEnded = heldReturn = failed = false;
    offset = 0;
    markTaken = fileEnded = false;
    encoding = TextEncoding::EightBit;
    lines = nulLine = 0;
    nulAhead = false;
    return true;
}

uint64_t TextInput::Unmapped() const { return decoder ? decoder->Unmapped() : 0; }

// A byte order mark at the start of bytes[0, size), the file's first bytes:
// its length, and the encoding it tells.
size_t TextInput::TakeMark(const char* bytes, size_t size)
{
    markTaken = true;
    size_t length = 0;
    encoding = EncodingOfMark(bytes, size, length);
    if (encoding != TextEncoding::EightBit)
        decoder.reset(new codepage::Utf16Decoder(encoding == TextEncoding::Utf16BigEndian));
    return length;
}

// Reads the file's next text into text[0, size): its bytes as they are, or
// its UTF-16 converted into the code page (CodePage.h), never a byte order
// mark. The count, 0 at the end of the file only, -1 on failure. In the code
// pages that path names may use (the ANSI and OEM ones, double-byte ones
// too, and UTF-8) no byte of a converted character is a CR, a LF or 0x1A but
// those characters themselves, so text mode works on the converted text.
long TextInput::ReadChunk(char* text, size_t size, int& error)
{
    for (;;) {
        if (convertedAt < converted.size()) {
            size_t count = std::min(size, converted.size() - convertedAt);
            std::memcpy(text, converted.data() + convertedAt, count);
            convertedAt += count;
            return static_cast<long>(count);
        }
        if (fileEnded)
            return 0;
        long got = textmode::ReadBytes(file, text, size, error);
        if (got < 0)
            return -1;
        offset += static_cast<uint64_t>(got);
        size_t mark = markTaken ? 0 : TakeMark(text, static_cast<size_t>(got));
        size_t count = static_cast<size_t>(got) - mark;
        if (!decoder) {
            if (mark > 0)
                std::memmove(text, text + mark, count);
            // Past a mark alone, the text may follow.
            if (count > 0 || got == 0)
                return static_cast<long>(count);
            continue;
        }
        converted.clear();
        convertedAt = 0;
        decoder->Decode(text + mark, count, converted);
        if (got == 0) {
            decoder->Finish(converted);
            fileEnded = true;
        }
    }
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
        long got = ReadChunk(text + start, size - start, error);
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

// Makes the buffer as large as what is left of the file needs, while it is
// below the largest: the file may have grown since the last read.
bool TextInput::SizeBuffer(int& error)
{
    if (bufferSize == kReadBufferSize)
        return true;
    uint64_t size = 0;
    if (!textmode::FileSize(file, size, error))
        return false;
    uint64_t left = size > offset ? size - offset : 0;
    size_t wanted = left + 1 >= kReadBufferSize ? kReadBufferSize
                                                : std::max(kSmallestReadBuffer, static_cast<size_t>(left) + 1);
    if (wanted > bufferSize) {
        buffer.reset();
        bufferSize = 0;
        buffer.reset(new char[wanted]);
        bufferSize = wanted;
    }
    return true;
}

void TextInput::ReleaseBuffer()
{
    buffer.reset();
    bufferSize = 0;
    next = end = nullptr;
    std::string().swap(converted);
    convertedAt = 0;
}

bool TextInput::Fill()
{
    if (textmode::beforeDiskWork)
        textmode::beforeDiskWork(identity);
    int error = 0;
    long count = SizeBuffer(error) ? ReadText(buffer.get(), bufferSize, error) : -1;
    if (count <= 0) {
        atEnd = true;
        failed = count < 0;
        if (failed)
            errorText = std::strerror(error);
        ReleaseBuffer();
        return false;
    }
    next = buffer.get();
    end = next + count;
    // Lines are searched for a NUL byte only while one is known to be ahead.
    if (nulLine == 0 && !nulAhead)
        nulAhead = std::memchr(next, '\0', static_cast<size_t>(count)) != nullptr;
    return true;
}

void TextInput::Counted(const std::string& line)
{
    ++lines;
    if (nulAhead && nulLine == 0 && line.find('\0') != std::string::npos) {
        nulLine = lines;
        nulAhead = false;
    }
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
            if (!tookAny)
                return Read::End;
            Counted(line);
            return Read::Line;
        }
        const char* lineFeed =
            static_cast<const char*>(std::memchr(next, '\n', static_cast<size_t>(end - next)));
        if (lineFeed) {
            line.append(next, lineFeed);
            next = lineFeed + 1;
            Counted(line);
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
    ReleaseBuffer();
    decoder.reset();
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
    encoding = TextEncoding::EightBit;
    unencodable = 0;
    if (file && append && !created && !ReadEncoding(error)) {
        int ignored = 0;
        textmode::CloseFile(file, ignored);
        file = nullptr;
    }
    if (!file) {
        errorText = std::strerror(error);
        return false;
    }
    return true;
}

// Lines appended to a UTF-16 file go in as UTF-16 too, so that the file
// stays one encoding; its byte order mark tells. A mark of UTF-8 changes
// nothing: lines are 8-bit text.
bool TextOutput::ReadEncoding(int& error)
{
    char mark[2];
    size_t got = 0;
    while (got < sizeof mark) {
        long count = textmode::ReadBytes(file, mark + got, sizeof mark - got, error);
        if (count < 0)
            return false;
        if (count == 0)
            break;
        got += static_cast<size_t>(count);
    }
    size_t length = 0;
    encoding = EncodingOfMark(mark, got, length);
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

void TextOutput::WriteUtf16Line(const std::string& text)
{
    // The line as it would go into an 8-bit file, then in UTF-16.
    std::string eightBit, encoded;
    for (char c : text) {
        if (c == '\n')
            eightBit += '\r';
        eightBit += c;
    }
    eightBit += "\r\n";
    unencodable += codepage::EncodeUtf16(eightBit, encoding == TextEncoding::Utf16BigEndian, encoded);
    Put(encoded.data(), encoded.size());
}

void TextOutput::WriteLine(const std::string& text)
{
    if (!file || failed)
        return;
    if (textmode::beforeDiskWork)
        textmode::beforeDiskWork(identity);
    if (encoding != TextEncoding::EightBit) {
        WriteUtf16Line(text);
        return;
    }
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
    Keep(textmode::OpenFile(path, textmode::Access::Hold, identity, created, ignored));
    return file != nullptr;
}

#if defined(_WIN32)
#include "linefile/Windows/TextStream.inc"
#else
#include "linefile/Unix/TextStream.inc"
#endif
