#include "linefile/OwnFiles.h"

#include "common/Lock.h"

namespace {

struct OwnFile {
    bool exists = false;
    FileIdentity identity;  // when it exists
    bool folderKnown = false;
    FileIdentity folder;
    NativePathString name;
};

struct Registry {
    Lock lock;
    std::vector<OwnFile> files;
};

// Never destroyed: script calls may still come while static objects go.
Registry& TheRegistry()
{
    static Registry* registry = new Registry;
    return *registry;
}

}  // namespace

void SetOwnFiles(const std::vector<NativePathString>& paths)
{
    std::vector<OwnFile> files(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        files[i].exists = IdentifyPath(paths[i], files[i].identity);
        files[i].folderKnown = IdentifyFolderOf(paths[i], files[i].folder, files[i].name);
    }
    Registry& registry = TheRegistry();
    LockGuard guard(registry.lock);
    registry.files.swap(files);
}

bool IsOwnFile(const FileIdentity& identity)
{
    Registry& registry = TheRegistry();
    LockGuard guard(registry.lock);
    for (const OwnFile& file : registry.files) {
        if (file.exists && file.identity == identity)
            return true;
    }
    return false;
}

bool NamesOwnFile(const FilePath& path)
{
    Registry& registry = TheRegistry();
    {
        LockGuard guard(registry.lock);
        if (registry.files.empty())
            return false;
    }
    FileIdentity folder;
    NativePathString name;
    if (!IdentifyFolderOf(path.Native(), folder, name))
        return false;
    LockGuard guard(registry.lock);
    for (const OwnFile& file : registry.files) {
        if (file.folderKnown && file.folder == folder && SameFileName(file.name, name))
            return true;
    }
    return false;
}
