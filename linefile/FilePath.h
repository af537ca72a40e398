#pragma once

#include <string>

#if defined(_WIN32)
using NativePathString = std::wstring;
#else
using NativePathString = std::string;
#endif

// A script's path text in the form the file system takes: the one conversion
// that the existence test, the open and the delete all use.
//
// On Windows the narrow text is converted in the code page of the process's
// file functions (ANSI, or OEM after SetFileApisToOEM), never by the compiler
// library, whose narrow paths would garble every non-ASCII name, and every
// '/' becomes '\'. Elsewhere the bytes are kept and '\' is taken as a
// separator like '/', so that data\a.txt and data/a.txt name the same file on
// every platform.
class FilePath {
public:
    // False when the text is not valid in that code page.
    static bool FromScript(const std::string& text, FilePath& path);

    // The path for messages: every separator shown as '/', as narrow text
    // (on Windows in the same code page, so a character whose second byte
    // is that of '\' stays whole).
    std::string Generic() const;

    const NativePathString& Native() const { return native; }

private:
    NativePathString native;
};

// Why a script's path may not be used, or null when it may. Scripts come
// from mods, and their language reaches no device and no network of its own:
// a path may name any file the player's account can reach (".." and drive
// paths included), but nothing that is not an ordinary file on a drive, and
// no name that Windows would quietly change into another. The rules are
// Windows' own and hold on every platform, so that one set of tests covers
// them. On Windows they read the path's characters, as converted for the
// file functions; elsewhere its bytes. They are made on the text alone,
// before anything touches the file system.
const char* PathRefusal(const FilePath& path);

// The absolute path the system opens for path: on Windows as it reads every
// path before it opens it (the current folder, of the drive too, put first;
// "." and ".." parts resolved on the text), elsewhere the same on the text.
// Empty when there is none.
NativePathString FullPath(const NativePathString& path);

enum class Existence { Exists, Missing, Failed };

// Whether anything (file, folder or other) is at the path, links followed.
// "Missing" covers the answers that mean nothing is there (no such file or
// path, a bad network path, a name that cannot exist); any other failure is
// "Failed", with the system's description in errorText.
Existence TestExistence(const FilePath& path, std::string& errorText);

// The system's description of an error code of its file calls (errno on
// POSIX, GetLastError on Windows).
std::string SystemErrorText(unsigned long code);

// While it lives, the system shows no dialog for this thread's file errors
// (such as "no disk in the drive" over the game): the call fails instead.
class QuietFileErrors {
public:
    QuietFileErrors();
    ~QuietFileErrors();
    QuietFileErrors(const QuietFileErrors&) = delete;
    QuietFileErrors& operator=(const QuietFileErrors&) = delete;

private:
    // The thread's error mode before (Windows only).
    [[maybe_unused]] unsigned long previous = 0;
};
