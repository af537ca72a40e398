#include "common/IDebugLog.h"

#include "common/Lock.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// What the two platform halves below provide.
namespace platform {
// The path of a shell folder; the result is an HRESULT (negative on failure).
int32_t GetFolderPath(int32_t folderId, std::string& folder);
// The calling thread's last error code, taken right after a failure.
uint32_t LastError();
// The log's path from the folder and the relative path (which brings its own
// leading separator).
std::string JoinPath(const std::string& folder, const char* relativePath);
// Result ignored: the directory may exist already or be a bare drive.
void CreateDirectoryAt(const std::string& path);
// Opens for writing, truncating; others may read the file but not write it.
FILE* OpenDenyWrite(const std::string& path);
// Writes text so that every line feed reaches the file as CR LF.
void WriteText(FILE* file, const char* text, size_t size);
}  // namespace platform

constexpr int32_t kFailureLevel = 0;
constexpr int32_t kMessageLevel = 3;
constexpr size_t kMessageBufferSize = 8192;

struct LogState {
    FILE* logFile = nullptr;
    std::string logPath;
    std::string firstPath;  // the name tried first; the others add a digit
    int32_t fileThreshold = 5;
    int32_t consoleThreshold = 3;
    bool flushEachWrite = true;
    char messageBuffer[kMessageBufferSize] = {};
    // Held from the formatting of a message to its final line feed, so that
    // two threads neither share the buffer nor interleave their text.
    Lock lock;
};

// Never destroyed: messages may still come from static destructors (the
// files flushed at unload) after this unit's own statics are gone.
LogState& State()
{
    static LogState* state = new LogState;
    return *state;
}

void WriteToFile(LogState& state, const char* text, size_t size)
{
    if (state.logFile) {
        platform::WriteText(state.logFile, text, size);
        if (state.flushEachWrite)
            std::fflush(state.logFile);
    }
}

}  // namespace

void IDebugLog::OpenInFolder(int32_t folderId, const char* relativePath)
{
    std::string folder;
    int32_t result = platform::GetFolderPath(folderId, folder);
    uint32_t lastError = result < 0 ? platform::LastError() : 0;
    {
        LogState& state = State();
        LockGuard guard(state.lock);
        // Opening again (only tests do) starts afresh.
        if (state.logFile)
            std::fclose(state.logFile);
        state.logFile = nullptr;
        state.logPath.clear();
        state.firstPath.clear();
    }
    if (result < 0) {
        LogFailure("SHGetFolderPath %08X failed (result = %08X lasterr = %08X)",
                   static_cast<uint32_t>(folderId), static_cast<uint32_t>(result), lastError);
        ReportAssertion("common/IDebugLog", 64, "SUCCEEDED(err)", static_cast<int64_t>(result));
        return;
    }

    // Built in a string rather than a fixed MAX_PATH buffer, so that a long
    // documents folder can neither overflow nor be cut to a wrong name.
    std::string path;
    try {
        path = platform::JoinPath(folder, relativePath);
    } catch (...) {
        return;
    }

    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '\\' || path[i] == '/')
            platform::CreateDirectoryAt(path.substr(0, i));
    }

    LogState& state = State();
    LockGuard guard(state.lock);
    state.firstPath = path;
    for (int attempt = -1; attempt <= 4; ++attempt) {
        std::string name = attempt < 0 ? path : path + std::to_string(attempt);
        state.logFile = platform::OpenDenyWrite(name);
        if (state.logFile) {
            state.logPath = name;
            return;
        }
    }
}

void IDebugLog::SetFileThreshold(int32_t level)
{
    LogState& state = State();
    LockGuard guard(state.lock);
    state.fileThreshold = level;
}

void IDebugLog::SetConsoleThreshold(int32_t level)
{
    LogState& state = State();
    LockGuard guard(state.lock);
    state.consoleThreshold = level;
}

std::string IDebugLog::OpenPath()
{
    LogState& state = State();
    LockGuard guard(state.lock);
    return state.logPath;
}

std::vector<std::string> IDebugLog::FilePaths()
{
    LogState& state = State();
    LockGuard guard(state.lock);
    std::vector<std::string> paths;
    if (state.firstPath.empty())
        return paths;
    paths.push_back(state.firstPath);
    for (int digit = 0; digit <= 4; ++digit)
        paths.push_back(state.firstPath + std::to_string(digit));
    return paths;
}

void IDebugLog::Emit(int32_t level, const char* format, va_list arguments)
{
    LogState& state = State();
    LockGuard guard(state.lock);
    bool toFile = level <= state.fileThreshold;
    bool toConsole = level <= state.consoleThreshold;
    if (!toFile && !toConsole)
        return;

    va_list again;
    va_copy(again, arguments);
    const char* text = state.messageBuffer;
    int needed = std::vsnprintf(state.messageBuffer, kMessageBufferSize, format, arguments);
    size_t size = needed < 0 ? 0 : static_cast<size_t>(needed);
    if (needed < 0)
        state.messageBuffer[0] = '\0';
    // A message longer than the buffer (a long path in it) is written whole,
    // from a buffer of its own; if even that cannot be had, it is cut.
    std::vector<char> longText;
    if (size >= kMessageBufferSize) {
        try {
            longText.resize(size + 1);
            std::vsnprintf(longText.data(), longText.size(), format, again);
            text = longText.data();
        } catch (...) {
            size = kMessageBufferSize - 1;
        }
    }
    va_end(again);

    if (toFile) {
        WriteToFile(state, text, size);
        WriteToFile(state, "\n", 1);
    }
    if (toConsole) {
        std::fwrite(text, 1, size, stdout);
        std::fputc('\n', stdout);
    }
}

void IDebugLog::ReportAssertion(const char* sourcePath, int32_t line,
                                const char* condition, int64_t code)
{
    uint64_t bits = static_cast<uint64_t>(code);
    if ((bits >> 32) == 0) {
        LogFailure("Assertion failed in %s (%d): %s (code = %08X (%d))", sourcePath,
                   static_cast<int>(line), condition, static_cast<uint32_t>(bits),
                   static_cast<int32_t>(static_cast<uint32_t>(bits)));
    } else {
        LogFailure("Assertion failed in %s (%d): %s (code = %16" PRIX64 " (%" PRId64 "))",
                   sourcePath, static_cast<int>(line), condition, bits, code);
    }
}

void LogMessage(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    IDebugLog::Emit(kMessageLevel, format, arguments);
    va_end(arguments);
}

void LogFailure(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    IDebugLog::Emit(kFailureLevel, format, arguments);
    va_end(arguments);
}

#if defined(_WIN32)
#include "common/Windows/IDebugLog.inc"
#else
#include "common/Unix/IDebugLog.inc"
#endif
