#pragma once

#include "common/Lock.h"
#include "linefile/FilePath.h"
#include "linefile/TextStream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// The fixed array of bufferSize line slots through which lines pass between
// the scripts and a file.
using LineWindow = std::string[];

// Ends the valid lines of a window: the single byte BEL (0x07). A slot counts
// as the marker when its first byte is BEL.
constexpr char EndMarker[] = "\a";

inline bool IsEndMarker(const std::string& slot) { return !slot.empty() && slot[0] == '\a'; }

// One text file a script has opened, for reading or for writing, with its
// window of lines. Every operation reports its outcome through good, its
// result and the debug log; none throws. Whoever shares a LineFile between
// threads holds its lock around every operation on it (Open, which no one
// else can reach yet, takes it itself).
//
// Reading: cursor starts at bufferSize, so that the first read refills the
// window. After Refill, slots 0 to n-1 hold the n lines read, slot n holds
// the EndMarker when n < bufferSize, and cursor is 0.
// Writing: slots 0 to cursor-1 hold the lines stored since the last Flush,
// and slot cursor holds the EndMarker while cursor < bufferSize.
class LineFile {
public:
    // Where a load enters the file it opened, so that one file never has two
    // streams with a writer among them. Enter answers the key under which
    // the file with this identity is loaded already such that loading it
    // again (for reading when readOnly) would make a second writer, and
    // nothing when there is none, in which case this load is entered with
    // the identity; the key is a copy, since the load it names may end while
    // this one logs it. Leave takes back an entry this load made.
    struct Registration {
        std::function<std::optional<std::string>(const FileIdentity& identity, bool readOnly)> enter;
        std::function<void()> leave;
    };

    // Creates the LineFile and loads it: checks the path's text, tests the
    // path, allocates the window and opens exactly one stream, which is
    // refused when the registration names another key, or (for writing) when
    // it is one of the plugin's own files, before anything is emptied; a
    // file the load created goes again when the load fails, but for another
    // key's load. The outcome is good. Null (after its log lines) only when
    // not even the LineFile itself could be allocated.
    static std::unique_ptr<LineFile> Open(bool readOnly, bool append, int32_t bufferSize,
                                          const std::string& pathString,
                                          const Registration& registration = Registration());

    // A LineFile not loaded yet, for Load.
    LineFile(bool readOnly, bool append, int32_t bufferSize);
    // What Open does after creating the LineFile; once only.
    void Load(const std::string& pathString, const Registration& registration);

    ~LineFile();
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;

    // How a close ended: everything written reached the file; the stream
    // was closed, but written lines could not reach the file; or an error
    // was raised while closing.
    enum class Closing { Complete, LinesLost, Raised };

    // Writes the lines waiting in the window (write mode) and closes the
    // stream. False when anything written could not reach the file, or when
    // an error was raised while closing.
    bool Close() { return CloseTelling() == Closing::Complete; }

    // Close, telling apart how it failed.
    Closing CloseTelling();

    // Deletes the file; only once the LineFile is no longer good, only the
    // file it held (not a folder or another file put at its path since, nor
    // the file a link there leads to), and never one of the plugin's own
    // files (OwnFiles.h). The file is gone when this returns.
    bool Remove()
    {
        HeldFile afterwards;
        return Remove(afterwards);
    }
    // The same, with the deleted file's number kept in afterwards until the
    // caller lets go of it, once no entry of its names the number any more
    // (on Windows the file itself goes only then).
    bool Remove(HeldFile& afterwards);

    // Fills the window with the next block of up to bufferSize lines.
    void Refill();

    // Writes the lines stored since the last Flush.
    void Flush();

    bool good = true;
    bool readOnly;
    bool append;
    int32_t cursor;
    int32_t bufferSize;
    FilePath filePath;
    // Which file the stream holds, once it is open.
    FileIdentity identity;
    TextInput input;
    TextOutput output;
    std::unique_ptr<LineWindow> window;
    Lock lock;

private:
    // The parts of a load: the checks on the path's text and the existence
    // test; the window (each false, after its log lines, when the load ends
    // there); the one stream, with the checks on the file it holds.
    bool TestPath(const std::string& pathString);
    bool MakeWindow();
    void OpenStream(const Registration& registration);
    // Whether the file at the path (one this load could not open) is one of
    // the plugin's own.
    bool OwnFileThere() const;
    void Fail(const char* action, const std::string& description);

    // What the script cannot get as the file holds it, said once per load:
    // after a refill of blockLines lines, the first line holding a NUL
    // byte; once reading met the end, or at the close, what UTF-16 text
    // could not be converted.
    void ReportRead(int32_t blockLines);
    void ReportConversion();
    bool nulReported = false;
    bool conversionReported = false;
};
