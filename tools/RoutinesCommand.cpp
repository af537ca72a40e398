#include "tools/RoutinesCommand.h"

#include "plugin/PluginMain.h"
#include "plugin/RoutineFile.h"

namespace {

// What the two platform halves below provide.
namespace platform {
// A program's argument as a path; false when it names none.
bool PathOfArgument(const std::string& argument, NativePathString& path);
}  // namespace platform

const char* const kProgram = "linefold-routines";

int Usage(std::ostream& err)
{
    err << "usage: " << kProgram << " check EXE FILE   check the routine file FILE against the executable EXE\n"
        << "       " << kProgram << " new EXE          print a routine file to start from for EXE\n"
        << "EXE is the game's TESV.exe (1.9.32.0); FILE is " << RoutineFileName(kSupportedRuntime)
        << " as it will lie beside Linefold.dll. Nothing is written but the output.\n";
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

int New(const std::string& executable, std::ostream& out, std::ostream& err)
{
    ExecutableImage image;
    if (!Describe(executable, image, err))
        return 1;
    out << StartingRoutineFileText(kSupportedRuntime, image);
    return 0;
}

}  // namespace

int RoutinesCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    try {
        if (arguments.size() == 3 && arguments[0] == "check")
            return Check(arguments[1], arguments[2], out, err);
        if (arguments.size() == 2 && arguments[0] == "new")
            return New(arguments[1], out, err);
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
