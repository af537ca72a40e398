#include "functions/ScriptFunctions.h"

#include "common/IDebugLog.h"
#include "functions/OpenFileTable.h"
#include "plugin/RuntimeRoutines.h"

#include <exception>

namespace {

using State = ScriptFile::State;

// Runs one script call. Whatever the call raises is reported with one log
// line and answered with the call's failure answer. The locks a call takes
// are OpenFileTable.h's to describe.
template <class Answer, class Body>
Answer Guarded(const char* function, Answer failure, Body body)
{
    QuietFileErrors quiet;
    try {
        return body(TheOpenFileTable());
    } catch (const std::exception& error) {
        LogMessage("  Error in %s: %s", function, error.what());
    } catch (...) {
        LogMessage("  Error in %s: unknown error", function);
    }
    return failure;
}

// A file of the table whose lock this call holds. The lock goes before the
// reference, so that a file this call was the last to know of is destroyed
// outside every lock.
class Held {
public:
    Held() = default;
    ~Held() { Release(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    // Waits for the file's lock (no other lock is held here).
    void Take(std::shared_ptr<ScriptFile> found, const char* key)
    {
        Release();
        if (found) {
            if (tableseams::beforeWaiting)
                tableseams::beforeWaiting(key);
            found->file.lock.Enter();
        }
        entry = std::move(found);
    }
    // A file whose lock this thread holds already.
    void Adopt(std::shared_ptr<ScriptFile> locked)
    {
        Release();
        entry = std::move(locked);
    }
    void Release()
    {
        if (entry) {
            entry->file.lock.Leave();
            entry.reset();
        }
    }

    bool Loaded() const { return entry && entry->state == State::Loaded; }
    ScriptFile& Entry() const { return *entry; }
    LineFile* operator->() const { return &entry->file; }

    // Ends the entry: calls waiting for it find it gone, and the key is free
    // for a new load.
    void Forget(OpenFileTable& table, const std::string& key)
    {
        entry->state = State::Gone;
        table.Remove(key, *entry);
        Release();
    }

private:
    std::shared_ptr<ScriptFile> entry;
};

// The file loaded under the path, held for this call; nothing held when the
// path is not loaded. A load under way is waited for.
void HoldLoaded(OpenFileTable& table, const char* key, Held& held)
{
    held.Take(table.Find(key), key);
    // A load that failed, or a file closed meanwhile by another call.
    if (!held.Loaded())
        held.Release();
}

// The file loaded under the key, loading it first if it is not loaded; held
// when the answer is true.
bool Load(OpenFileTable& table, const std::string& key, bool readOnly, bool append, uint32_t bufferSize,
          Held& held)
{
    for (;;) {
        bool added = false;
        // The count is taken as signed, so that Load refuses what is not positive.
        std::shared_ptr<ScriptFile> entry =
            table.FindOrAdd(key, readOnly, append, static_cast<int32_t>(bufferSize), added);
        if (!added) {
            held.Take(std::move(entry), key.c_str());
            if (held.Loaded())
                return true;
            // Its load failed, or it was closed meanwhile: as for a key that
            // is not loaded, once this file's lock is let go.
            held.Release();
            continue;
        }
        held.Adopt(std::move(entry));
        ScriptFile& adopted = held.Entry();
        try {
            // One file under two keys (two spellings of its path) gets no
            // second stream when either is for writing.
            LineFile::Registration registration;
            registration.enter = [&table, &adopted](const FileIdentity& identity, bool readOnly) {
                return table.Register(adopted, identity, readOnly);
            };
            registration.leave = [&table, &adopted, &key] { table.Unregister(key, adopted); };
            adopted.file.Load(key, registration);
        } catch (...) {
            held.Forget(table, key);
            throw;
        }
        if (!adopted.file.good) {
            held.Forget(table, key);
            return false;
        }
        adopted.state = State::Loaded;
        return true;
    }
}

// The loaded file for reading, with a line at its cursor (refilled if the
// window was used up), held; nothing held when there is none to read.
void HoldReadable(OpenFileTable& table, StringCache::Ref path, Held& held)
{
    HoldLoaded(table, TextOf(path), held);
    if (!held.Loaded())
        return;
    if (held->good && held->readOnly && held->cursor == held->bufferSize)
        held->Refill();
    if (!held->good || !held->readOnly)
        held.Release();
}

}  // namespace

bool ExistsFile(StaticFunctionTag*, StringCache::Ref path)
{
    // Touches nothing shared: no lock.
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
        Held held;
        return Load(table, TextOf(path), readOnly, append, bufferSize, held);
    });
}

bool CloseFile(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("CloseFile", false, [&](OpenFileTable& table) {
        std::string key = TextOf(path);
        Held held;
        HoldLoaded(table, key.c_str(), held);
        if (!held.Loaded())
            return false;
        bool closed = held->Close();
        held.Forget(table, key);
        return closed;
    });
}

bool DeleteAnyFile(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("DeleteAnyFile", false, [&](OpenFileTable& table) {
        std::string key = TextOf(path);
        Held held;
        // A file that is not loaded is loaded for reading first, through a
        // window of one line.
        if (!Load(table, key, true, false, 1, held))
            return false;
        // Lines that could not reach the file are moot for a file that is to
        // go; only an error raised while closing keeps it. The entry stays
        // registered until the file is deleted, so that no load under another
        // key takes the file for writing in between; the deleted file's
        // number is kept until the entry is gone, so that no new file that
        // takes it meanwhile is taken for the deleted one.
        HeldFile deleted;
        bool removed = held->CloseTelling() != LineFile::Closing::Raised && held->Remove(deleted);
        held.Forget(table, key);
        deleted.LetGo();
        return removed;
    });
}

bool IsLoaded(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("IsLoaded", false, [&](OpenFileTable& table) {
        Held held;
        HoldLoaded(table, TextOf(path), held);
        return held.Loaded();
    });
}

bool IsGood(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("IsGood", false, [&](OpenFileTable& table) {
        Held held;
        HoldLoaded(table, TextOf(path), held);
        return held.Loaded() && held->good;
    });
}

bool IsReadOnly(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("IsReadOnly", false, [&](OpenFileTable& table) {
        Held held;
        HoldLoaded(table, TextOf(path), held);
        return held.Loaded() && held->readOnly;
    });
}

bool IsWriteOnly(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("IsWriteOnly", false, [&](OpenFileTable& table) {
        Held held;
        HoldLoaded(table, TextOf(path), held);
        return held.Loaded() && !held->readOnly;
    });
}

bool HasNextLine(StaticFunctionTag*, StringCache::Ref path)
{
    return Guarded("HasNextLine", false, [&](OpenFileTable& table) {
        Held held;
        HoldReadable(table, path, held);
        return held.Loaded() && !IsEndMarker(held->window[held->cursor]);
    });
}

StringCache::Ref NextLine(StaticFunctionTag*, StringCache::Ref path)
{
    // When not even the empty text can be made, the empty handle is the answer.
    return Guarded("NextLine", StringCache::Ref{nullptr}, [&](OpenFileTable& table) {
        Held held;
        HoldReadable(table, path, held);
        // Past the end of the data the answer stays the empty text and the
        // cursor stays put, rather than handing out the marker and old lines.
        if (!held.Loaded() || IsEndMarker(held->window[held->cursor]))
            return MakeHandle("");
        StringCache::Ref line = MakeHandle(held->window[held->cursor].c_str());
        ++held->cursor;
        return line;
    });
}

bool WriteLine(StaticFunctionTag*, StringCache::Ref path, StringCache::Ref line)
{
    return Guarded("WriteLine", false, [&](OpenFileTable& table) {
        Held held;
        HoldLoaded(table, TextOf(path), held);
        if (!held.Loaded() || !held->good || held->readOnly)
            return false;
        if (held->cursor == held->bufferSize) {
            held->Flush();
            // The window could not be emptied: the line is not taken.
            if (!held->good)
                return false;
        }
        held->window[held->cursor] = TextOf(line);
        ++held->cursor;
        if (held->cursor < held->bufferSize)
            held->window[held->cursor] = EndMarker;
        return true;
    });
}
