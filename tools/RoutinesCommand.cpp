#include "tools/RoutinesCommand.h"

#include "plugin/PluginMain.h"
#include "plugin/RoutineFile.h"

namespace {

// What the two platform halves below provide.
namespace platform {
// A program's argument as a path; false when it names none.
bool PathOfArgument(const std::string& argument, NativePathString& path);
// Makes a new file holding bytes; false, with the reason, when it cannot, or
// when a file is there already.
bool WriteNewFile(const NativePathString& path, const std::string& bytes, std::string& error);
}  // namespace platform

const char* const kProgram = "linefold-routines";

int Usage(std::ostream& err)
{
    err << "usage: " << kProgram << " check EXE FILE    check the routine file FILE against the executable EXE\n"
        << "       " << kProgram << " new EXE -o FILE   make FILE, a routine file to start from for EXE\n"
        << "       " << kProgram << " new EXE           print that file instead\n"
        << "EXE is the game's TESV.exe (1.9.32.0); FILE is " << RoutineFileName(kSupportedRuntime)
        << " as it will lie beside Linefold.dll. Nothing is written but the output, and new -o\n"
        << "makes a new file only, never over one that is there.\n";
    return 2;
}

// An argument as a path, as the system gave it to the program; false (with a
// message) when it names none.
bool PathOf(const std::string& argument, NativePathString& path, std::ostream& err)
{
    if (argument.empty() || !platform::PathOfArgument(argument, path)) {
        err << kProgram << ": " << argument << ": not a valid path\n";
        return false;
    }
    return true;
}

bool Describe(const std::string& argument, ExecutableImage& image, std::ostream& err)
{
    NativePathString path;
    if (!PathOf(argument, path, err))
        return false;
    std::string problem = DescribeExecutableFile(path, image);
    if (!problem.empty())
        err << kProgram << ": " << problem << "\n";
    return problem.empty();
}

int Check(const std::string& executable, const std::string& file, std::ostream& out, std::ostream& err)
{
    ExecutableImage image;
    NativePathString path;
    if (!Describe(executable, image, err) || !PathOf(file, path, err))
        return 1;
    RuntimeRoutines table{};
    std::vector<std::string> problems = CheckRoutineFile(path, kSupportedRuntime, image, table);
    for (const std::string& problem : problems)
        out << problem << "\n";
    if (!problems.empty()) {
        out << problems.size() << (problems.size() == 1 ? " problem" : " problems")
            << ": the plugin would refuse the game with the first of them\n";
        return 1;
    }
    out << file << ": would be taken: every entry passes against " << executable << "\n";
    return 0;
}

// Into a file of its own, the text is the same in every shell: PowerShell's
// redirection, for one, would write it as UTF-16. It gets CR LF line ends,
// which every Notepad shows.
int New(const std::string& executable, const std::string& file, std::ostream& out, std::ostream& err)
{
    ExecutableImage image;
    NativePathString path;
    if (!Describe(executable, image, err) || (!file.empty() && !PathOf(file, path, err)))
        return 1;
    std::string text = StartingRoutineFileText(kSupportedRuntime, image);
    if (file.empty()) {
        out << text;
        return 0;
    }
    std::string bytes, error;
    for (char c : text)
        bytes += c == '\n' ? "\r\n" : std::string(1, c);
    if (!platform::WriteNewFile(path, bytes, error)) {
        err << kProgram << ": " << file << ": " << error << "\n";
        return 1;
    }
    out << file << ": written for " << executable << "; write each routine's address under its comment\n";
    return 0;
}

}  // namespace

int RoutinesCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    try {
        if (arguments.size() == 3 && arguments[0] == "check")
            return Check(arguments[1], arguments[2], out, err);
        if (arguments.size() == 2 && arguments[0] == "new")
            return New(arguments[1], "", out, err);
        if (arguments.size() == 4 && arguments[0] == "new" && arguments[2] == "-o")
            return New(arguments[1], arguments[3], out, err);
        if (arguments.size() == 4 && arguments[0] == "new" && arguments[1] == "-o")
            return New(arguments[3], arguments[2], out, err);
        return Usage(err);
    } catch (const std::exception& error) {
        err << kProgram << ": " << error.what() << "\n";
        return 1;
    }
}

#if defined(_WIN32)
#include "tools/Windows/RoutinesCommand.inc"
#else
#include "tools/Unix/RoutinesCommand.inc"
#endif
