#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#if defined(__MINGW32__)
#define LINEFOLD_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define LINEFOLD_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

// The process-wide debug log: one text file under the user's documents
// folder, and an echo to standard output for the messages important enough.
// A message reaches an output when its level is at most that output's
// threshold; a lower level is more important. Every member is safe to call
// from several threads at once, and none of them throws.
class IDebugLog {
public:
    // Opens (truncating) relativePath under the shell folder folderId; while
    // that file is held open for writing elsewhere, the same name with a
    // digit 0 to 4 appended. Leaves the log closed when no name opens.
    static void OpenInFolder(int32_t folderId, const char* relativePath);

    static void SetFileThreshold(int32_t level);
    static void SetConsoleThreshold(int32_t level);

    // Formats one message and writes it, followed by a line end.
    static void Emit(int32_t level, const char* format, va_list arguments);

    static void ReportAssertion(const char* sourcePath, int32_t line,
                                const char* condition, int64_t code);

    // Where the log file went; empty while the log is closed.
    static std::string OpenPath();

    // Every name the log may take: the file and the five it falls back to,
    // in that order; none before OpenInFolder found its folder.
    static std::vector<std::string> FilePaths();
};

// An ordinary message (level 3).
void LogMessage(const char* format, ...) LINEFOLD_PRINTF(1, 2);
// A report of the log's own failures (level 0).
void LogFailure(const char* format, ...) LINEFOLD_PRINTF(1, 2);
