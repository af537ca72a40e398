#include "functions/ScriptFunctions.h"

#include "common/IDebugLog.h"
#include "functions/OpenFileTable.h"
#include "plugin/RuntimeRoutines.h"

#include <exception>

namespace {

// Runs one script call under the table's lock. Whatever the call raises is
// reported with one log line and answered with the call's failure answer.
template <class Answer, class Body>
Answer Guarded(const char* function, Answer failure, Body body)
{
    OpenFileTable& table = TheOpenFileTable();
    LockGuard guard(table.callLock);
    QuietFileErrors quiet;
    try {
        return body(table);
    } catch (const std::exception& error) {
        LogMessage("  Error in %s: %s", function, error.what());
    } catch (...) {
        LogMessage("  Error in %s: unknown error", function);
    }
    return failure;
}

bool Load(OpenFileTable& table, const std::string& key, bool readOnly, bool append,
          uint32_t bufferSize)
{
    if (table.Find(key))
        return true;
    // One file under two keys (two spellings of its path) gets no second
    // stream when either is for writing.
    auto loadedElsewhere = [&table](const FileIdentity& identity, bool forReading) {
        return table.LoadedAs(identity, forReading);
    };
    std::unique_ptr<LineFile>& entry = table.Reserve(key);
    // The count is taken as signed, so that Open refuses what is not positive.
    std::unique_ptr<LineFile> file =
        LineFile::Open(readOnly, append, static_cast<int32_t>(bufferSize), key, loadedElsewhere);
    if (!file || !file->good) {
        table.Remove(key);
        return false;
    }
    entry = std::move(file);
    return true;
}

// The loaded file for reading, with a line at its cursor (refilled if the
// window was used up); null when there is none to read.
LineFile* Readable(OpenFileTable& table, StringCache::Ref path)
{
    LineFile* file = table.Find(TextOf(path));
    if (!file || !file->good || !file->readOnly)
        return nullptr;
    if (file->cursor == file->bufferSize) {
        file->Refill();
        if (!file->good)
            return nullptr;
    }
    return file;
}

}  // namespace

bool ExistsFile(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("ExistsFile", false, [&](OpenFileTable&) {
        std::string text = TextOf(path);
        FilePath filePath;
        if (!FilePath::FromScript(text, filePath) || PathRefusal(filePath))
            return false;
        std::string ignored;
        return TestExistence(filePath, ignored) == Existence::Exists;
    });
}

bool LoadFile(StaticFunctionTag*, StringCache::Ref path, bool readOnly, bool append,
              uint32_t bufferSize)
{
    return Guarded("LoadFile", false, [&](OpenFileTable& table) {
        return Load(table, TextOf(path), readOnly, append, bufferSize);
    });
}

bool CloseFile(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("CloseFile", false, [&](OpenFileTable& table) {
        std::string key = TextOf(path);
        LineFile* file = table.Find(key);
        if (!file)
            return false;
        bool closed = file->Close();
        table.Remove(key);
        return closed;
    });
}

bool DeleteAnyFile(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("DeleteAnyFile", false, [&](OpenFileTable& table) {
        std::string key = TextOf(path);
        LineFile* file = table.Find(key);
        if (!file && Load(table, key, true, false, 1))
            file = table.Find(key);
        if (!file)
            return false;
        // Lines that could not reach the file are moot for a file that is to
        // go; only an error raised while closing keeps it.
        bool closed = file->CloseTelling() != LineFile::Closing::Raised;
        bool removed = closed && file->Remove();
        table.Remove(key);
        return removed;
    });
}

bool IsLoaded(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("IsLoaded", false,
                   [&](OpenFileTable& table) { return table.Find(TextOf(path)) != nullptr; });
}

bool IsGood(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("IsGood", false, [&](OpenFileTable& table) {
        LineFile* file = table.Find(TextOf(path));
        return file && file->good;
    });
}

bool IsReadOnly(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("IsReadOnly", false, [&](OpenFileTable& table) {
        LineFile* file = table.Find(TextOf(path));
        return file && file->readOnly;
    });
}

bool IsWriteOnly(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("IsWriteOnly", false, [&](OpenFileTable& table) {
        LineFile* file = table.Find(TextOf(path));
        return file && !file->readOnly;
    });
}

bool HasNextLine(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("HasNextLine", false, [&](OpenFileTable& table) {
        LineFile* file = Readable(table, path);
        return file && !IsEndMarker(file->window[file->cursor]);
    });
}

StringCache::Ref NextLine(StaticFunctionTag*, StringCache::Ref path)
{
    // When not even the empty text can be made, the empty handle is the answer.
    return Guarded("NextLine", StringCache::Ref{nullptr}, [&](OpenFileTable& table) {
        LineFile* file = Readable(table, path);
        // Past the end of the data the answer stays the empty text and the
        // cursor stays put, rather than handing out the marker and old lines.
        if (!file || IsEndMarker(file->window[file->cursor]))
            return MakeHandle("");
        StringCache::Ref line = MakeHandle(file->window[file->cursor].c_str());
        ++file->cursor;
        return line;
    });
}

bool WriteLine(StaticFunctionTag*, StringCache::Ref path, StringCache::Ref line)
{
    return Guarded("WriteLine", false, [&](OpenFileTable& table) {
        LineFile* file = table.Find(TextOf(path));
        if (!file || !file->good || file->readOnly)
            return false;
        if (file->cursor == file->bufferSize) {
            file->Flush();
            // The window could not be emptied: the line is not taken.
            if (!file->good)
                return false;
        }
        file->window[file->cursor] = TextOf(line);
        ++file->cursor;
        if (file->cursor < file->bufferSize)
            file->window[file->cursor] = EndMarker;
        return true;
    });
}
