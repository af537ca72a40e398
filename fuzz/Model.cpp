#include "Model.h"

#include <cstdio>
#include <cstdlib>

// How one file behaves when two keys hold it at once (d/f.txt and d\f.txt,
// g.txt and .\g.txt), which is what makes the model more than a list of lines:
//
// - Each key has its own stream with its own descriptor and file offset, and
//   the file's bytes are shared. Opening for writing without append empties
//   the file at once, for every other stream too.
// - A writer's bytes stay in its stream's buffer until it is closed (each
//   input writes far less than the 64 KiB buffer), and then reach the file in
//   one write: at the end of the file as it is at that moment when appending,
//   else at offset 0 over whatever is there, since nothing was written before.
// - A reader reads at its first refill and whenever it runs out of text, each
//   time all the bytes past its offset at that moment. So what it hands out
//   depends on when its refills happen relative to other keys' closes, which
//   the model follows call by call. A read that finds nothing (also when the
//   file was emptied under it) ends its input for good.
// - Deleting a file that another key still holds open succeeds on Linux (on
//   Windows it would be refused): the name is gone, the other stream keeps
//   the old file, and whatever it writes there is never seen again.
// - The calls run under a file size limit at which full lies. A stream that
//   appends to it keeps its bytes until its buffer is full, and then the
//   write fails: the WriteLine whose flush it was answers false, and the
//   load is no longer good. At close any byte given fails the close.

namespace model {

const char* const kNamePaths[kNameCount] = {"d/f.txt", "g.txt", "n.txt", "full", "d", "m"};

const std::string& FullFileBytes()
{
    static const std::string bytes = [] {
        std::string lines;
        while (lines.size() < kFileLimit)
            lines += "ab\r\n";
        return lines;
    }();
    return bytes;
}

namespace {

bool StartsWithBel(const std::string& line) { return !line.empty() && line[0] == '\a'; }

// A script's text ends at its first NUL byte.
std::string UpToNul(const std::string& text) { return text.substr(0, text.find('\0')); }

// Text mode on reading: a CR right before an LF is dropped.
std::string JoinCrLf(const std::string& raw)
{
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n'))
            text += raw[i];
    }
    return text;
}

// Text mode on writing: the line, then a line end, every LF as CR LF; in
// UTF-16 each byte (ASCII here) a code unit.
std::string Encode(const std::string& line, int encoding = 0)
{
    std::string bytes;
    for (char c : line + "\n") {
        if (c == '\n')
            bytes += '\r';
        bytes += c;
    }
    if (encoding == 0)
        return bytes;
    std::string units;
    for (char c : bytes)
        units += encoding == 1 ? std::string{c, '\0'} : std::string{'\0', c};
    return units;
}

// The encoding a file's first bytes tell, and the length of their mark.
int EncodingOf(const std::string& bytes, size_t& mark)
{
    mark = 0;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        mark = 3;
    else if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)
        mark = 2;
    return mark != 2 ? 0 : bytes[0] == '\xFF' ? 1 : 2;
}

// Equal but for the case of ASCII letters, as the string cache compares.
bool SameButCase(const std::string& a, const std::string& b)
{
    auto small = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (small(a[i]) != small(b[i]))
            return false;
    }
    return true;
}

}  // namespace

int HeldKey(int key)
{
    int first = 0;
    while (!SameButCase(kKeys[first].text, kKeys[key].text))
        ++first;
    return first;
}

std::string AsHeld(const std::string& text)
{
    for (const Key& key : kKeys) {
        if (SameButCase(key.text, text))
            return key.text;
    }
    for (const char* line : kHeldLines) {
        if (SameButCase(line, text))
            return line;
    }
    return text;
}

Model::Model(bool fExists, const std::string& fBytes, bool gExists, const std::string& gBytes)
{
    names[kFolder].kind = Kind::Folder;
    names[kNowhere].kind = Kind::NeverThere;
    names[kFull] = {Kind::File, static_cast<int>(inodes.size())};
    inodes.push_back(FullFileBytes());
    if (fExists) {
        names[kF] = {Kind::File, static_cast<int>(inodes.size())};
        inodes.push_back(fBytes);
    }
    if (gExists) {
        names[kG] = {Kind::File, static_cast<int>(inodes.size())};
        inodes.push_back(gBytes);
    }
}

bool Model::ExistsFile(int key) const
{
    Kind kind = names[kKeys[key].name].kind;
    return kind == Kind::File || kind == Kind::Folder;
}

bool Model::LoadFile(int key, bool readOnly, bool append, uint32_t count)
{
    Entry& entry = At(key);
    if (entry.loaded)
        return true;
    NameState& name = names[kKeys[key].name];
    if (readOnly && !ExistsFile(key))
        return false;
    int32_t size = static_cast<int32_t>(count);
    if (size <= 0)
        return false;
    if (size > kLargestWindow && size < kRefusedWindow) {
        std::fprintf(stderr, "model: window of %d lines: neither allocated nor refused for sure\n", size);
        std::abort();
    }
    if (size >= kRefusedWindow)
        return false;

    Entry opened;
    opened.loaded = opened.good = true;
    opened.readOnly = readOnly;
    opened.size = size;
    switch (name.kind) {
    case Kind::Folder:
    case Kind::NeverThere:
        return false;
    case Kind::Missing:
        name = {Kind::File, static_cast<int>(inodes.size())};
        inodes.emplace_back();
        break;
    case Kind::File:
        // One file is never loaded twice with a writer among the loads.
        for (const Entry& other : entries) {
            if (other.loaded && other.reader.inode == name.inode && (!readOnly || !other.readOnly))
                return false;
        }
        if (!readOnly && !append)
            inodes[name.inode].clear();
        break;
    }
    opened.reader.inode = opened.writer.inode = name.inode;
    opened.writer.append = append;
    size_t mark = 0;
    if (!readOnly && append)
        opened.writer.encoding = static_cast<Encoding>(EncodingOf(inodes[name.inode].substr(0, 2), mark));
    // Only this stream writes the file while it is open.
    opened.writer.refused = !readOnly && append && inodes[name.inode].size() >= kFileLimit;
    entry = opened;
    return true;
}

void Model::Decode(Reader& reader, const std::string& chunk)
{
    std::string bytes = reader.undecoded + chunk;
    reader.undecoded = bytes.size() % 2 ? bytes.substr(bytes.size() - 1) : std::string();
    for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
        unsigned first = static_cast<unsigned char>(bytes[at]), second = static_cast<unsigned char>(bytes[at + 1]);
        int unit = static_cast<int>(reader.encoding == kLittleEndian ? second << 8 | first : first << 8 | second);
        bool high = unit >= 0xD800 && unit <= 0xDBFF, low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (reader.highSurrogate >= 0) {
            reader.highSurrogate = -1;
            reader.raw += '?';  // a pair, or the first half alone
            if (low)
                continue;
        }
        if (high)
            reader.highSurrogate = unit;
        else
            reader.raw += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
}

void Model::ReadMore(Reader& reader)
{
    const std::string& bytes = inodes[reader.inode];
    std::string chunk = reader.offset < bytes.size() ? bytes.substr(reader.offset) : std::string();
    reader.offset += chunk.size();
    if (!reader.started) {
        reader.started = true;
        size_t mark = 0;
        reader.encoding = static_cast<Encoding>(EncodingOf(chunk, mark));
        chunk.erase(0, mark);
        // A mark alone: the text may follow in the next chunk.
        if (chunk.empty() && mark > 0)
            return;
    }
    if (chunk.empty())
        reader.ended = true;
    if (reader.encoding == kEightBit) {
        reader.raw += chunk;
    } else {
        Decode(reader, chunk);
        if (reader.ended) {
            reader.raw += std::string(reader.undecoded.size() + (reader.highSurrogate >= 0 ? 1 : 0), '?');
            reader.undecoded.clear();
            reader.highSurrogate = -1;
        }
    }
    size_t endOfText = reader.raw.find('\x1a');
    if (endOfText != std::string::npos) {
        reader.raw.resize(endOfText);
        reader.ended = true;
    }
    reader.text = JoinCrLf(reader.raw);
}

bool Model::ReadLine(Reader& reader, std::string& line)
{
    for (;;) {
        size_t lineFeed = reader.text.find('\n', reader.position);
        if (lineFeed != std::string::npos) {
            line = reader.text.substr(reader.position, lineFeed - reader.position);
            reader.position = lineFeed + 1;
            return true;
        }
        if (reader.ended) {
            if (reader.position == reader.text.size())
                return false;
            line = reader.text.substr(reader.position);
            reader.position = reader.text.size();
            return true;
        }
        ReadMore(reader);
    }
}

// The line a read would hand out next, refilling the window when it is used
// up; null at the end of the data (a short block's end, or a line that
// begins with BEL, where reading stays for good).
const std::string* Model::Current(Entry& entry)
{
    if (!entry.refilled || entry.next == static_cast<size_t>(entry.size)) {
        entry.block.clear();
        std::string line;
        while (entry.block.size() < static_cast<size_t>(entry.size) && ReadLine(entry.reader, line))
            entry.block.push_back(line);
        entry.refilled = true;
        entry.next = 0;
    }
    if (entry.next < entry.block.size() && !StartsWithBel(entry.block[entry.next]))
        return &entry.block[entry.next];
    return nullptr;
}

bool Model::HasNextLine(int key)
{
    Entry& entry = At(key);
    if (!entry.loaded || !entry.good || !entry.readOnly)
        return false;
    return Current(entry) != nullptr;
}

std::string Model::NextLine(int key)
{
    Entry& entry = At(key);
    if (!entry.loaded || !entry.good || !entry.readOnly)
        return std::string();
    const std::string* line = Current(entry);
    if (!line)
        return std::string();
    ++entry.next;
    return AsHeld(UpToNul(*line));
}

void Model::Flush(Entry& entry)
{
    Writer& writer = entry.writer;
    for (const std::string& line : entry.stored) {
        if (writer.refused)
            writer.given += Encode(line, writer.encoding).size();
        else
            writer.waiting += Encode(line, writer.encoding);
    }
    entry.stored.clear();
    if (writer.given > kOutputBuffer)
        entry.good = false;
}

bool Model::WriteLine(int key, const std::string& line)
{
    Entry& entry = At(key);
    if (!entry.loaded || !entry.good || entry.readOnly)
        return false;
    if (entry.stored.size() == static_cast<size_t>(entry.size)) {
        Flush(entry);
        if (!entry.good)
            return false;
    }
    entry.stored.push_back(UpToNul(AsHeld(line)));
    return true;
}

bool Model::Close(Entry& entry)
{
    if (entry.readOnly)
        return true;
    if (entry.good)
        Flush(entry);
    Writer& writer = entry.writer;
    if (writer.refused)
        return writer.given == 0;
    std::string& bytes = inodes[writer.inode];
    if (writer.append)
        bytes += writer.waiting;
    else if (writer.waiting.size() >= bytes.size())
        bytes = writer.waiting;
    else
        bytes.replace(0, writer.waiting.size(), writer.waiting);
    return true;
}

bool Model::CloseFile(int key)
{
    Entry& entry = At(key);
    if (!entry.loaded)
        return false;
    bool closed = Close(entry);
    entry = Entry();
    return closed;
}

bool Model::Unlink(Name name)
{
    NameState& state = names[name];
    if (state.kind != Kind::File)
        return false;
    state = NameState();
    return true;
}

bool Model::DeleteAnyFile(int key)
{
    Entry& entry = At(key);
    if (!entry.loaded && !LoadFile(key, true, false, 1))
        return false;
    // The file deleted is the one the key's load opened: where the name has
    // come to lead to another file since (deleted, then made anew under
    // another key), nothing is deleted.
    int opened = entry.readOnly ? entry.reader.inode : entry.writer.inode;
    // Lines that could not be written do not keep the file from going.
    Close(entry);
    Name name = kKeys[key].name;
    bool removed = names[name].inode == opened && Unlink(name);
    entry = Entry();
    return removed;
}

bool Model::WritesFile(int key) const
{
    return At(key).loaded && !At(key).readOnly && !At(key).writer.refused;
}

}  // namespace model
