#include "functions/OpenFileTable.h"

#include <cstring>

namespace {
OpenFileTable openFileTable;
}

OpenFileTable& TheOpenFileTable() { return openFileTable; }

OpenFileTable::~OpenFileTable() { CloseForUnload(); }

LineFile* OpenFileTable::Find(const std::string& key) const
{
    auto entry = entries.find(key);
    return entry == entries.end() ? nullptr : entry->second.get();
}

LineFile* OpenFileTable::Find(const char* key)
{
    // Keys are made from such texts, so they hold no NUL of their own:
    // one strcmp decides, where == would measure the text first.
    if (lastFound && std::strcmp(lastFound->first.c_str(), key) == 0)
        return lastFound->second.get();
    lookupKey.assign(key);
    auto entry = entries.find(lookupKey);
    if (entry == entries.end())
        return nullptr;
    lastFound = &*entry;
    return entry->second.get();
}

std::unique_ptr<LineFile>& OpenFileTable::Reserve(const std::string& key) { return entries[key]; }

const std::string* OpenFileTable::LoadedAs(const FileIdentity& identity, bool readOnly) const
{
    for (const auto& entry : entries) {
        const LineFile* file = entry.second.get();
        if (file && file->identity == identity && (!readOnly || !file->readOnly))
            return &entry.first;
    }
    return nullptr;
}

void OpenFileTable::Remove(const std::string& key)
{
    lastFound = nullptr;
    entries.erase(key);
}

void OpenFileTable::CloseForUnload() noexcept
{
    if (!callLock.TryEnter())
        return;
    try {
        for (auto& entry : entries) {
            if (entry.second && !entry.second->readOnly)
                entry.second->Close();
        }
        lastFound = nullptr;
        entries.clear();
    } catch (...) {
        // Nothing may escape at unload; what could not be closed is lost.
    }
    callLock.Leave();
}
