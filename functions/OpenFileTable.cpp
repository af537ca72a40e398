#include "functions/OpenFileTable.h"

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

void OpenFileTable::Add(const std::string& key, std::unique_ptr<LineFile> file)
{
    entries.emplace(key, std::move(file));
}

void OpenFileTable::Remove(const std::string& key) { entries.erase(key); }

void OpenFileTable::CloseForUnload() noexcept
{
    if (!callLock.TryEnter())
        return;
    try {
        for (auto& entry : entries) {
            if (!entry.second->readOnly)
                entry.second->Close();
        }
        entries.clear();
    } catch (...) {
        // Nothing may escape at unload; what could not be closed is lost.
    }
    callLock.Leave();
}
