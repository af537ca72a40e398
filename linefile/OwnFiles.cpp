#include "linefile/OwnFiles.h"

#include "common/Lock.h"

#include <memory>
#include <optional>

namespace {

struct OwnFile {
    NativePathString path;  // full
    NativePathString folder, name;
    std::shared_ptr<HeldFile> held;  // null when nothing was there to hold
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

// The own files as they are now, for a check made outside the registry's
// lock: the holds stay alive while the check uses them.
std::vector<OwnFile> OwnFilesNow()
{
    Registry& registry = TheRegistry();
    LockGuard guard(registry.lock);
    return registry.files;
}

// The identity of each own file's folder now, looked up once per folder
// (the log's six names share one); none where it cannot be opened.
std::vector<std::optional<FileIdentity>> FoldersNow(const std::vector<OwnFile>& files)
{
    std::vector<std::optional<FileIdentity>> folders(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        size_t same = 0;
        while (same < i && files[same].folder != files[i].folder)
            ++same;
        FileIdentity folder;
        if (same < i)
            folders[i] = folders[same];
        else if (IdentifyPath(files[i].folder, folder))
            folders[i] = folder;
    }
    return folders;
}

// Whether the file a path's text leads to by its last name would be one of
// files: the same folder, by identity, and the same name, as the file system
// compares names. Taken on the path as the system reads it, and (where that
// differs, as on Linux, whose ".." follows the links before it) as given.
bool NamedAsOwn(const NativePathString& path, const std::vector<OwnFile>& files)
{
    std::vector<std::optional<FileIdentity>> ownFolders;
    const NativePathString full = FullPath(path);
    for (const NativePathString* place : {&full, &path}) {
        if (place == &path && path == full)
            break;
        NativePathString folderPath, name;
        SplitAtLastName(*place, folderPath, name);
        FileIdentity folder;
        if (!IdentifyPath(folderPath, folder))
            continue;
        if (ownFolders.empty())
            ownFolders = FoldersNow(files);
        for (size_t i = 0; i < files.size(); ++i) {
            if (ownFolders[i] == folder && SameFileName(name, files[i].name))
                return true;
        }
    }
    return false;
}

}  // namespace

void SetOwnFiles(const std::vector<NativePathString>& inUse, const std::vector<NativePathString>& notInUse)
{
    std::vector<OwnFile> files;
    for (const auto* paths : {&inUse, &notInUse}) {
        for (const NativePathString& path : *paths) {
            OwnFile file;
            file.path = FullPath(path);
            SplitAtLastName(file.path, file.folder, file.name);
            auto held = std::make_shared<HeldFile>();
            if (paths == &inUse && held->Hold(file.path))
                file.held = std::move(held);
            files.push_back(std::move(file));
        }
    }
    Registry& registry = TheRegistry();
    {
        LockGuard guard(registry.lock);
        registry.files.swap(files);
    }
    // The holds of the files named before are let go here, outside the lock.
}

bool NamesOwnFile(const FilePath& path)
{
    std::vector<OwnFile> files = OwnFilesNow();
    return !files.empty() && NamedAsOwn(path.Native(), files);
}

bool IsOwnFile(const FileIdentity& identity)
{
    for (const OwnFile& file : OwnFilesNow()) {
        FileIdentity now;
        if ((file.held && file.held->Identity() == identity) || (IdentifyPath(file.path, now) && now == identity))
            return true;
    }
    return false;
}
