#pragma once

// What the eleven script functions should answer, and what the files should
// hold, for the few paths the fuzzer uses. Written from the rules the scripts
// are promised, not from the plugin's code, so that the two can be compared.

#include <cstdint>
#include <string>
#include <vector>

namespace model {

// What stands at a name of the scratch folder.
enum class Kind {
    Missing,     // nothing; opening for writing creates a file
    File,        // a regular file
    Folder,      // a folder: exists, but opens neither way
    NeverThere,  // under a missing folder, below a file, or the empty path: cannot be created
};

// The names of the scratch folder the keys lead to.
enum Name { kF, kG, kN, kFull, kFolder, kNowhere, kNameCount };

// The path texts scripts pass, and the name each one reaches on Linux, where
// '/' and '\' are both separators.
struct Key {
    const char* text;
    Name name;
};
constexpr Key kKeys[] = {
    {"d/f.txt", kF},      {"d\\f.txt", kF},       {"g.txt", kG},       {".\\g.txt", kG},
    {"n.txt", kN},        {"full", kFull},         {"d", kFolder},      {"m/x.txt", kNowhere},
    {"./d/f.txt", kF},    {"d/f.txt\\", kNowhere}, {"", kNowhere},        {"D/F.TXT", kF},
};
constexpr int kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);
constexpr int kEmptyKey = 10;  // where a path of the wrong type lands
static_assert(kKeys[kEmptyKey].text[0] == '\0', "the empty key");

// Texts the fuzzer holds in the string cache through each whole input, as a
// script holds its literals: the keys in key order, then these. The cache
// is blind to ASCII case, so while they are held a text equal to one of
// them but for case reaches the plugin in the held spelling (D/F.TXT is
// d/f.txt, a line "ab" written or read is "Ab").
constexpr const char* kHeldLines[] = {"A", "Ab", "B B"};

// The key whose text the plugin receives for a key: the first one equal to
// it but for ASCII case.
int HeldKey(int key);
// A text as the plugin receives or answers it: the first held text equal to
// it but for ASCII case, else the text itself.
std::string AsHeld(const std::string& text);

// The scratch folder's path of each name the fuzzer creates or checks.
extern const char* const kNamePaths[kNameCount];

// Windows up to this many lines are allocated; from kRefusedWindow on the
// allocation fails (the fuzzer's allocator refuses such sizes, as a 32-bit
// process would). Counts in between are never generated.
constexpr int32_t kLargestWindow = 100000;
constexpr int32_t kRefusedWindow = 1 << 27;

// While a call runs, no file may grow past this many bytes (the process's
// file size limit, as on a full disk). full starts at it, so that appending
// to it fails; no other file comes near it.
constexpr size_t kFileLimit = 20 * 1024;
// What full holds at first: lines of "ab", exactly kFileLimit bytes.
const std::string& FullFileBytes();

// An output stream keeps this many bytes before it hands them to the system.
constexpr uint64_t kOutputBuffer = 64 * 1024;

class Model {
public:
    // f.txt and g.txt hold the given bytes when present; n.txt is missing.
    Model(bool fExists, const std::string& fBytes, bool gExists, const std::string& gBytes);

    bool ExistsFile(int key) const;
    bool LoadFile(int key, bool readOnly, bool append, uint32_t count);
    bool CloseFile(int key);
    bool DeleteAnyFile(int key);
    bool IsLoaded(int key) const { return At(key).loaded; }
    bool IsGood(int key) const { return At(key).loaded && At(key).good; }
    bool IsReadOnly(int key) const { return At(key).loaded && At(key).readOnly; }
    bool IsWriteOnly(int key) const { return At(key).loaded && !At(key).readOnly; }
    bool HasNextLine(int key);
    std::string NextLine(int key);
    bool WriteLine(int key, const std::string& line);

    // What the fuzzer must know before it makes a call: whether the lines of
    // the key can reach a file, and whether they go in as UTF-16 (two bytes
    // a byte).
    bool WritesFile(int key) const;
    bool WritesUtf16(int key) const { return WritesFile(key) && At(key).writer.encoding != kEightBit; }

    Kind KindOf(Name name) const { return names[name].kind; }
    // The bytes of a name that is a File.
    const std::string& BytesOf(Name name) const { return inodes[names[name].inode]; }

private:
    // What a file's first bytes make of it: 8-bit text (after a UTF-8 byte
    // order mark, or none), or UTF-16 of either byte order after its mark.
    enum Encoding { kEightBit, kLittleEndian, kBigEndian };

    // An open input stream: it reads the file in chunks, each chunk all that
    // lies past what it has read so far at that moment (the files stay far
    // below the stream's 64 KiB read size), and stops for good at the first
    // empty read or 0x1A. The first chunk's first bytes tell the encoding.
    // UTF-16 reads in the C locale here, so a code unit of ASCII is its byte
    // and any other character (a pair as one) or half a pair is '?'; an odd
    // byte or the first half of a pair waits for the next chunk, and at the
    // end is a '?' of its own.
    struct Reader {
        int inode = -1;
        size_t offset = 0;
        bool started = false;  // the first chunk was read
        Encoding encoding = kEightBit;
        std::string undecoded;  // UTF-16: the odd byte waiting
        int highSurrogate = -1;  // UTF-16: the first half of a pair waiting
        std::string raw;   // every byte read (UTF-16: converted), up to a 0x1A
        std::string text;  // raw with each CR LF read as LF
        size_t position = 0;
        bool ended = false;
    };
    // An open output stream. Its bytes wait in the stream until it is closed
    // (the fuzzer keeps each input's writing to files far below the buffer's
    // size), except when it appends to a file at the size limit: then the
    // first write that comes when the buffer is full fails, and so does the
    // one at close if any byte was given.
    struct Writer {
        int inode = -1;
        bool append = false;
        Encoding encoding = kEightBit;  // appending to a UTF-16 file writes UTF-16
        std::string waiting;
        bool refused = false;  // appends to a file at the limit
        uint64_t given = 0;    // bytes given to such a stream
    };
    struct Entry {
        bool loaded = false;
        bool good = false;
        bool readOnly = false;
        int32_t size = 0;
        // Reading: the current block of lines and the next one to hand out.
        Reader reader;
        std::vector<std::string> block;
        bool refilled = false;
        size_t next = 0;
        // Writing: the lines taken since the last flush.
        Writer writer;
        std::vector<std::string> stored;
    };
    struct NameState {
        Kind kind = Kind::Missing;
        int inode = -1;
    };

    // The entry of a key: one for all spellings of one text.
    Entry& At(int key) { return entries[HeldKey(key)]; }
    const Entry& At(int key) const { return entries[HeldKey(key)]; }
    bool ReadLine(Reader& reader, std::string& line);
    void ReadMore(Reader& reader);
    static void Decode(Reader& reader, const std::string& chunk);
    const std::string* Current(Entry& entry);
    void Flush(Entry& entry);
    bool Close(Entry& entry);
    bool Unlink(Name name);

    std::vector<std::string> inodes;  // file contents, kept after unlinking
    NameState names[kNameCount];
    Entry entries[kKeyCount];
};

}  // namespace model
