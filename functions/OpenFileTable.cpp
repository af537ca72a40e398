#include "functions/OpenFileTable.h"

#include <cstring>

namespace {
OpenFileTable openFileTable;
}

OpenFileTable& TheOpenFileTable() { return openFileTable; }

void (*tableseams::beforeAdding)(const std::string& key) = nullptr;
void (*tableseams::beforeWaiting)(const std::string& key) = nullptr;
void (*tableseams::beforeRegistering)(const FileIdentity& identity) = nullptr;
void (*tableseams::beforeRemoving)(const std::string& key) = nullptr;

OpenFileTable::~OpenFileTable() { CloseForUnload(); }

std::shared_ptr<ScriptFile> OpenFileTable::Find(const char* key)
{
    LockGuard guard(lock);
    // Keys are made from such texts, so they hold no NUL of their own:
    // one strcmp decides, where == would measure the text first.
    if (lastFound && std::strcmp(lastFound->first.c_str(), key) == 0)
        return lastFound->second.file;
    lookupKey.assign(key);
    auto entry = entries.find(lookupKey);
    if (entry == entries.end())
        return nullptr;
    lastFound = &*entry;
    return entry->second.file;
}

std::shared_ptr<ScriptFile> OpenFileTable::FindOrAdd(const std::string& key, bool readOnly, bool append,
                                                   int32_t bufferSize, bool& added)
{
    added = false;
    if (std::shared_ptr<ScriptFile> found = Find(key))
        return found;
    // Locked before the table's lock is taken, as the lock order says; nobody
    // else can see the new file yet, so this never waits.
    auto file = std::make_shared<ScriptFile>(readOnly, append, bufferSize);
    file->file.lock.Enter();
    if (tableseams::beforeAdding)
        tableseams::beforeAdding(key);
    LockGuard guard(lock);
    auto found = entries.find(key);
    if (found != entries.end()) {
        // Another thread added the key meanwhile.
        file->file.lock.Leave();
        return found->second.file;
    }
    Entry entry;
    entry.file = file;
    try {
        entries.emplace(key, std::move(entry));
    } catch (...) {
        file->file.lock.Leave();
        throw;
    }
    added = true;
    return file;
}

std::optional<std::string> OpenFileTable::Register(const ScriptFile& file, const FileIdentity& identity, bool readOnly)
{
    if (tableseams::beforeRegistering)
        tableseams::beforeRegistering(identity);
    LockGuard guard(lock);
    Entry* own = nullptr;
    for (auto& entry : entries) {
        if (entry.second.file.get() == &file)
            own = &entry.second;
        else if (entry.second.registered && entry.second.identity == identity && (!readOnly || !entry.second.readOnly))
            return entry.first;
    }
    if (own) {
        own->registered = true;
        own->identity = identity;
        own->readOnly = readOnly;
    }
    return std::nullopt;
}

void OpenFileTable::Unregister(const std::string& key, const ScriptFile& file)
{
    LockGuard guard(lock);
    auto entry = entries.find(key);
    if (entry != entries.end() && entry->second.file.get() == &file)
        entry->second.registered = false;
}

void OpenFileTable::Remove(const std::string& key, const ScriptFile& file)
{
    if (tableseams::beforeRemoving)
        tableseams::beforeRemoving(key);
    LockGuard guard(lock);
    auto entry = entries.find(key);
    if (entry != entries.end() && entry->second.file.get() == &file) {
        lastFound = nullptr;
        // The caller still holds a reference: the file is not destroyed here.
        entries.erase(entry);
    }
}

size_t OpenFileTable::Size()
{
    LockGuard guard(lock);
    return entries.size();
}

void OpenFileTable::CloseForUnload() noexcept
{
    if (!lock.TryEnter())
        return;
    lastFound = nullptr;
    for (auto entry = entries.begin(); entry != entries.end();) {
        ScriptFile& open = *entry->second.file;
        // Only ever tried, so the order of the two locks cannot matter.
        if (!open.file.lock.TryEnter()) {
            ++entry;
            continue;
        }
        try {
            if (open.state == ScriptFile::State::Loaded && !open.file.readOnly)
                open.file.Close();
        } catch (...) {
            // Nothing may escape at unload; what could not be closed is lost.
        }
        open.state = ScriptFile::State::Gone;
        open.file.lock.Leave();
        entry = entries.erase(entry);
    }
    lock.Leave();
}
