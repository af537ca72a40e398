#pragma once

#include "common/Lock.h"
#include "linefile/LineFile.h"

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

// The script functions may be called from several threads at once. Two kinds
// of lock keep them apart, so that one file's disk work never stalls a call
// on another file:
// - The table's lock guards the map from keys to files, with its lookup cache
//   and which files count for the one-writer rule: held only to find, add or
//   remove an entry, never across disk work and never while waiting for any
//   other lock.
// - Each file's own lock (LineFile::lock) guards everything of that file: its
//   stream, window, cursor and flags, and its entry's state. A call holds it
//   for its whole work on the file, disk work included.
// A thread holding a file's lock may take the table's; never the reverse
// (CloseForUnload only tries a file's lock, so it never waits), and never two
// files' locks at once: a call lets go of one file before it waits for
// another, also when it finds that a load it waited for failed. The debug log's lock and that of the plugin's own
// files (OwnFiles.h) come last: nothing else is taken while one is held. A
// call keeps a reference to its file, so that a file removed meanwhile by
// another thread stays alive until the call lets go of it; the last reference
// destroys the file outside every lock.

// A script's file as the table holds it.
struct ScriptFile {
    ScriptFile(bool readOnly, bool append, int32_t bufferSize) : file(readOnly, append, bufferSize) {}

    // Guarded by file.lock. Loading while the load that added the entry runs
    // (its thread holds the lock throughout, so others never see this state);
    // Loaded once it succeeded; Gone once it failed or the file was closed or
    // deleted, and the entry left the table.
    enum class State { Loading, Loaded, Gone };

    LineFile file;
    State state = State::Loading;
};

// The process-wide map from the path text exactly as a script passed it (its
// bytes; case and separators count) to the file that serves it.
class OpenFileTable {
public:
    OpenFileTable() = default;
    // At unload (and at process exit): see CloseForUnload.
    ~OpenFileTable();
    OpenFileTable(const OpenFileTable&) = delete;
    OpenFileTable& operator=(const OpenFileTable&) = delete;

    // The entry under the key, or null. Every script call looks its path up,
    // so this builds no key: it tries the entry it found last (calls on one
    // path tend to follow one another), then looks up a reused key.
    std::shared_ptr<ScriptFile> Find(const char* key);
    std::shared_ptr<ScriptFile> Find(const std::string& key) { return Find(key.c_str()); }

    // The entry under the key; when there is none, a new entry of a file
    // with these flags, not yet loaded, whose lock this thread then holds
    // (added says so), so that every other call on the key waits for the
    // outcome of its load.
    std::shared_ptr<ScriptFile> FindOrAdd(const std::string& key, bool readOnly, bool append, int32_t bufferSize,
                                        bool& added);

    // For the load of an entry whose lock this thread holds, once its stream
    // is open and before anything is emptied: the key under which the file
    // with this identity is loaded already, when this load (for reading when
    // readOnly) would make two streams of one file with a writer among them.
    // When there is none, the entry is entered with its identity, in the same
    // hold of the lock, so that no other load of the file can slip in between.
    // The entry keeps it until it leaves the table (or Unregister), its file
    // deleted by then if it is to be: so a load of the file under another key
    // either comes before the delete and is refused, or finds it deleted.
    std::optional<std::string> Register(const ScriptFile& entry, const FileIdentity& identity, bool readOnly);

    // Takes back Register, for a load that opens its file anew.
    void Unregister(const std::string& key, const ScriptFile& entry);

    // Removes the entry under the key, if it is still this one.
    void Remove(const std::string& key, const ScriptFile& entry);

    size_t Size();

    // Flushes and closes every file still loaded for writing, so that lines a
    // script was told were written reach the disk, and empties the table.
    // Never waits and never throws: when another thread holds the table's
    // lock, it does nothing, and a file whose lock another thread holds (a
    // call on it under way, or a thread gone, as at process exit) is left
    // as it is, in the table.
    void CloseForUnload() noexcept;

private:
    struct Entry {
        std::shared_ptr<ScriptFile> file;
        // Set by Register: the file's identity counts from then on.
        bool registered = false;
        FileIdentity identity;
        bool readOnly = false;
    };
    using Entries = std::unordered_map<std::string, Entry>;

    Lock lock;
    Entries entries;
    // Kept by Find: entries do not move when the map grows, and every
    // removal forgets the last entry found.
    const Entries::value_type* lastFound = nullptr;
    std::string lookupKey;
};

// The one table of the process, created empty when the library is loaded.
OpenFileTable& TheOpenFileTable();

// Seams for tests: when set, each runs on the calling thread at its point of
// a script call, so that a test can put another call exactly there.
namespace tableseams {
// A load found no entry under its key and made one, before it takes the
// table's lock to add it.
extern void (*beforeAdding)(const std::string& key);
// A call found an entry, before it waits for the entry's lock.
extern void (*beforeWaiting)(const std::string& key);
// A load opened its file, before it registers it.
extern void (*beforeRegistering)(const FileIdentity& identity);
// A call ends an entry (a close, a delete, a failed load), before it takes
// the entry out of the table.
extern void (*beforeRemoving)(const std::string& key);
}  // namespace tableseams
