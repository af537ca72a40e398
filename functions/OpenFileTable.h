#pragma once

#include "common/Lock.h"
#include "linefile/LineFile.h"

#include <memory>
#include <string>
#include <unordered_map>

// The process-wide map from the path text exactly as a script passed it (its
// bytes; case and separators count) to the LineFile that serves it. It owns
// its LineFiles: removing an entry destroys the file. Only the script
// functions add and remove entries, each under callLock.
class OpenFileTable {
public:
    OpenFileTable() = default;
    // At unload (and at process exit): see CloseForUnload.
    ~OpenFileTable();
    OpenFileTable(const OpenFileTable&) = delete;
    OpenFileTable& operator=(const OpenFileTable&) = delete;

    // The host may call the script functions from several threads: each call
    // holds this lock for its whole run.
    Lock callLock;

    LineFile* Find(const std::string& key) const;
    // The same for a script's path text. Every script call looks its path
    // up, so this builds no key: it tries the entry it found last (calls on
    // one path tend to follow one another), then looks up a reused key.
    LineFile* Find(const char* key);
    // Makes the entry for key, with no file yet; it is found only once its
    // file is set. Made before the file is opened, so that no allocation
    // after the opening can fail a load whose file was just created.
    std::unique_ptr<LineFile>& Reserve(const std::string& key);
    // The key under which the file with this identity is loaded, when
    // another load of it (for reading when readOnly) would make two streams
    // of one file with a writer among them; null when there is none.
    const std::string* LoadedAs(const FileIdentity& identity, bool readOnly) const;
    void Remove(const std::string& key);
    size_t Size() const { return entries.size(); }

    // Flushes and closes every file still loaded for writing, so that lines a
    // script was told were written reach the disk, and empties the table.
    // Never waits and never throws: if another thread holds callLock (or a
    // thread that held it is gone, as at process exit), it does nothing.
    void CloseForUnload() noexcept;

private:
    using Entries = std::unordered_map<std::string, std::unique_ptr<LineFile>>;
    Entries entries;
    // Kept by Find: entries do not move when the map grows, and Remove
    // forgets the last entry found.
    const Entries::value_type* lastFound = nullptr;
    std::string lookupKey;
};

// The one table of the process, created empty when the library is loaded.
OpenFileTable& TheOpenFileTable();
