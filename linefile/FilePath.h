#pragma once

#include <string>

#if defined(_WIN32)
using NativePathString = std::wstring;
#else
using NativePathString = std::string;
#endif

// A script's path text in the form the file system takes.
//
// On Windows the narrow text is converted in the code page of the process's
// file functions (ANSI, or OEM after SetFileApisToOEM), never by the compiler
// library, whose narrow paths would garble every non-ASCII name. Elsewhere the
// bytes are kept and '\' is taken as a separator like '/', so that data\a.txt
// and data/a.txt name the same file on every platform.
class FilePath {
public:
    // False when the text is not valid in that code page.
    static bool FromScript(const std::string& text, FilePath& path);

    // Writes every separator as the platform's own ('\' on Windows).
    void MakePreferred();

    // The path for messages: every separator shown as '/', as narrow text.
    std::string Generic() const;

    const NativePathString& Native() const { return native; }

private:
    NativePathString native;
};

enum class Existence { Exists, Missing, Failed };

// Whether anything (file, folder or other) is at the path, links followed.
// "Missing" covers the answers that mean nothing is there (no such file or
// path, a bad network path, a name that cannot exist); any other failure is
// "Failed", with the system's description in errorText.
Existence TestExistence(const FilePath& path, std::string& errorText);

enum class Removal { Removed, Missing, Failed };

// Deletes the file (or empty folder) at the path. On "Failed", errorText
// names the operation, the system's description and the path.
Removal RemoveFile(const FilePath& path, std::string& errorText);
