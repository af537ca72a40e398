// linefold-host: the reference host. It starts the plugin exactly as the
// script extender does (query, load, then the registration callback with its
// registry) on the stand-in runtime, then runs script calls, one per line,
// from a file or standard input, and prints each call's result.
//
//   linefold-host [--plugin PATH] [--runtime-version HEX] [--editor] [--show-log]
//                 [--frame-rate HZ [--frame-bound]] [FILE]
//
// With --plugin it loads the plugin's own binary, as the extender does, and
// writes the routine file of its stand-in runtime beside it, so that every
// call goes through the binary's function objects to this program's routines.
// Without it, the plugin code linked into this program runs.
//
// With --frame-rate it models the game's main thread, ticking HZ times a
// second: a call to a function whose slot 19 answers false waits for the
// next tick and is made on that thread, as the script engine does; the
// others are made at once on this program's thread, the script's.
// --frame-bound clears that flag of every function through slot 20 after
// registration, as for a plugin that does not set it.
//
// A line is a function name and its arguments:  LoadFile data.txt true false 3.9
//   "..."              a string; escapes \" \\ \n \r \t \xHH
//   true, false        bools
//   123, -7, 0x1F      ints (32 bits)
//   1.5, 2e3, nan, inf, -inf   floats
//   none               a value of no type
//   anything else      a string
// Blank lines and lines starting with # are skipped. Each call prints true or
// false, or for a text result the text in double quotes with the escapes
// above for ", \ and every byte outside 0x20..0x7E.
//
// Like a script's string literals, every text of the calls stays held until
// the program ends. The game's strings are blind to case, so once a text is
// held, an equal text in other case is the first one: the path "A.txt" after
// "a.txt" reaches the plugin as "a.txt", and so does a line read as "A.TXT".

#include "common/IDebugLog.h"
#include "standin/PluginLibrary.h"
#include "standin/StandInHost.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kProgram = "linefold-host";

bool IsDigits(const std::string& text, size_t from, bool hex)
{
    if (from >= text.size())
        return false;
    for (size_t i = from; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!(hex ? std::isxdigit(c) : std::isdigit(c)))
            return false;
    }
    return true;
}

// A number with a '.' or an exponent: [+-] digits [. digits] [e [+-] digits].
bool IsFloatText(const std::string& text)
{
    size_t i = 0, digits = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    bool point = false, exponent = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        ++digits;
    if (i < text.size() && text[i] == '.') {
        point = true;
        for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
            ++digits;
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        exponent = true;
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (!IsDigits(text.substr(0, text.size()), i, false))
            return false;
        i = text.size();
    }
    return i == text.size() && (point || exponent);
}

// The value a bare word stands for.
bool WordValue(const std::string& word, standin::Value& value, std::string& problem)
{
    if (word == "true" || word == "false") {
        value = standin::BoolValue(word == "true");
    } else if (word == "none") {
        value = standin::NoneValue();
    } else if (word == "nan" || word == "inf" || word == "-inf") {
        value = standin::FloatValue(word == "nan" ? NAN : (word == "inf" ? INFINITY : -INFINITY));
    } else if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X') && IsDigits(word, 2, true)) {
        unsigned long long bits = std::strtoull(word.c_str() + 2, nullptr, 16);
        if (word.size() > 10 || bits > 0xFFFFFFFFull) {
            problem = "integer out of range: " + word;
            return false;
        }
        value = standin::IntValue(static_cast<int32_t>(static_cast<uint32_t>(bits)));
    } else if (IsDigits(word, (word[0] == '-' || word[0] == '+') ? 1 : 0, false)) {
        errno = 0;
        long long number = std::strtoll(word.c_str(), nullptr, 10);
        if (errno == ERANGE || number < INT32_MIN || number > INT32_MAX) {
            problem = "integer out of range: " + word;
            return false;
        }
        value = standin::IntValue(static_cast<int32_t>(number));
    } else if (IsFloatText(word)) {
        value = standin::FloatValue(std::strtof(word.c_str(), nullptr));
    } else {
        value = standin::StringValue(word);
    }
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Splits a call line into its words and argument values.
bool ParseLine(const std::string& line, std::string& function, std::vector<standin::Value>& arguments,
               std::string& problem)
{
    size_t i = 0;
    bool first = true;
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i == line.size())
            return true;
        if (line[i] == '"') {
            std::string text;
            for (++i;; ++i) {
                if (i >= line.size()) {
                    problem = "unterminated string";
                    return false;
                }
                char c = line[i];
                if (c == '"')
                    break;
                if (c != '\\') {
                    text += c;
                    continue;
                }
                char escape = i + 1 < line.size() ? line[++i] : '\0';
                switch (escape) {
                case '"': text += '"'; break;
                case '\\': text += '\\'; break;
                case 'n': text += '\n'; break;
                case 'r': text += '\r'; break;
                case 't': text += '\t'; break;
                case 'x': {
                    int high = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
                    int low = i + 2 < line.size() ? HexDigit(line[i + 2]) : -1;
                    if (high < 0 || low < 0) {
                        problem = "\\x needs two hexadecimal digits";
                        return false;
                    }
                    text += static_cast<char>(high * 16 + low);
                    i += 2;
                    break;
                }
                default:
                    problem = escape ? std::string("unknown escape \\") + escape : "unterminated string";
                    return false;
                }
            }
            ++i;
            if (first) {
                problem = "a line starts with a function name, not a string";
                return false;
            }
            arguments.push_back(standin::StringValue(text));
        } else {
            size_t end = line.find_first_of(" \t", i);
            std::string word = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
            i = end == std::string::npos ? line.size() : end;
            if (first) {
                function = word;
            } else {
                standin::Value value;
                if (!WordValue(word, value, problem))
                    return false;
                arguments.push_back(value);
            }
        }
        first = false;
    }
}

std::string Quoted(const char* text)
{
    static const char* const kHex = "0123456789ABCDEF";
    std::string out = "\"";
    for (const char* p = text; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c > 0x7E) {
                out += "\\x";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string Shown(const standin::Value& result)
{
    switch (result.type) {
    case ScriptValue::kBool:
        return result.data.boolean ? "true" : "false";
    case ScriptValue::kString:
        return Quoted(TextOf(result.data.string));
    default:
        return "(a value of type " + std::to_string(result.type) + ")";
    }
}

const char* const kUsage = "usage: %s [--plugin PATH] [--runtime-version HEX] [--editor] [--show-log]\n"
                          "                     [--frame-rate HZ [--frame-bound]] [FILE]\n";

void Usage() { std::fprintf(stderr, kUsage, kProgram); }

void Help()
{
    std::printf(kUsage, kProgram);
    std::printf("  --plugin PATH          run the plugin library at PATH, with this program's routine file beside it\n"
                "  --runtime-version HEX  the runtime version to report to the plugin (default 09200000)\n"
                "  --editor               report the editor instead of the game\n"
                "  --show-log             name the plugin's debug log on standard error at the end\n"
                "  --frame-rate HZ        model the game's main thread, ticking HZ times a second: a call to a\n"
                "                         function that may not run at once (slot 19 false) waits for the next\n"
                "                         tick and is made there; the others at once, on the script's thread.\n"
                "                         A model of the engine: it assumes one frame serves every call handed\n"
                "                         over before it began, and a script waits for its call to be served\n"
                "  --frame-bound          clear that permission of every function after registration (slot 20),\n"
                "                         as for a plugin that does not set it; needs --frame-rate\n"
                "  --help                 print this help and exit\n"
                "  FILE                   the script calls, one per line (default: standard input)\n");
}

// The game's main thread, ticking rate times a second on a timer.
class FrameClock {
public:
    using Period = std::chrono::steady_clock::duration;

    // The period of a frame at rate ticks a second; false when the clock
    // cannot count it. Half the clock's range at most, so that adding it to
    // the present time cannot overflow either.
    static bool PeriodOf(double rate, Period& period)
    {
        const double longest = std::chrono::duration<double>(Period::max()).count() / 2;
        if (!(rate > 0) || 1.0 / rate > longest)
            return false;
        period = std::chrono::duration_cast<Period>(std::chrono::duration<double>(1.0 / rate));
        return true;
    }
    static double LowestRate() { return 2 / std::chrono::duration<double>(Period::max()).count(); }

    explicit FrameClock(Period period) : period(period), ticking([this] { Run(); }) {}
    ~FrameClock() { Stop(); }
    FrameClock(const FrameClock&) = delete;
    FrameClock& operator=(const FrameClock&) = delete;

    // Ends the ticking; a call handed to the main thread after this fails.
    void Stop()
    {
        {
            std::lock_guard<std::mutex> guard(mutex);
            stopping = true;
        }
        wake.notify_all();
        if (ticking.joinable())
            ticking.join();
        main.Stop();
    }

    standin::MainThread main;

private:
    void Run()
    {
        auto next = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            next += period;
            if (wake.wait_until(lock, next, [this] { return stopping; }))
                return;
            lock.unlock();
            main.Tick();
            lock.lock();
        }
    }

    const Period period;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread ticking;  // last: it starts at once
};

struct Options {
    uint32_t runtimeVersion = 0x09200000;
    bool editor = false;
    bool showLog = false;
    const char* inputPath = nullptr;
    const char* pluginPath = nullptr;
    double frameRate = 0;  // 0: no main thread modelled
    FrameClock::Period framePeriod{};
    bool frameBound = false;
};

// Reads the command line into options. False when the program ends here,
// with exitCode: after --help, or on a bad option, which has been reported.
bool ParseOptions(int argc, char** argv, Options& options, int& exitCode)
{
    exitCode = 2;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help") {
            Help();
            exitCode = 0;
            return false;
        } else if (option == "--plugin" && i + 1 < argc) {
            options.pluginPath = argv[++i];
        } else if (option == "--runtime-version" && i + 1 < argc) {
            char* end = nullptr;
            unsigned long value = std::strtoul(argv[++i], &end, 16);
            if (!*argv[i] || *end || value > 0xFFFFFFFFul) {
                Usage();
                return false;
            }
            options.runtimeVersion = static_cast<uint32_t>(value);
        } else if (option == "--editor") {
            options.editor = true;
        } else if (option == "--show-log") {
            options.showLog = true;
        } else if (option == "--frame-rate" && i + 1 < argc) {
            char* end = nullptr;
            double rate = std::strtod(argv[++i], &end);
            if (!*argv[i] || *end || !(rate > 0 && rate <= 1e6)) {
                Usage();
                return false;
            }
            if (!FrameClock::PeriodOf(rate, options.framePeriod)) {
                std::fprintf(stderr, "%s: --frame-rate %s: a frame would last longer than the clock counts; "
                                     "the lowest rate is %g a second\n",
                             kProgram, argv[i], FrameClock::LowestRate());
                return false;
            }
            options.frameRate = rate;
        } else if (option == "--frame-bound") {
            options.frameBound = true;
        } else if ((option.size() > 1 && option[0] == '-') || options.inputPath) {
            Usage();
            return false;
        } else {
            options.inputPath = argv[i];
        }
    }
    if (options.frameBound && options.frameRate == 0) {
        std::fprintf(stderr, "%s: --frame-bound needs --frame-rate\n", kProgram);
        return false;
    }
    return true;
}

// With --plugin, loads the plugin's binary, with this program's routine file
// written beside it, and keeps it loaded; false (reported) when that fails.
bool LoadPlugin(const char* pluginPath, std::unique_ptr<standin::PluginLibrary>& library,
                standin::PluginEntryPoints& plugin)
{
    plugin = standin::LinkedPlugin();
    if (!pluginPath)
        return true;
    std::string problem = standin::WriteRoutineFileBeside(pluginPath);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
        return false;
    }
    library = std::make_unique<standin::PluginLibrary>(pluginPath);
    if (!library->Loaded()) {
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, library->Path().c_str(), library->Problem().c_str());
        return false;
    }
    library->StayLoaded();
    plugin = library->EntryPoints();
    return true;
}

// The function object a call line names, with its arguments; null (with
// the reason in problem) when the line is no call of a registered function.
IFunction* CallOf(const standin::Host& host, const std::string& line, std::vector<standin::Value>& arguments,
                  std::string& problem)
{
    std::string function;
    if (!ParseLine(line, function, arguments, problem))
        return nullptr;
    IFunction* object = host.Find(function);
    if (!object) {
        problem = "unknown function '" + function + "'";
        return nullptr;
    }
    size_t expected = standin::Host::ParameterCountOf(object);
    if (arguments.size() != expected) {
        problem = function + " takes " + std::to_string(expected) + " argument" + (expected == 1 ? "" : "s") + ", " +
                  std::to_string(arguments.size()) + " given";
        return nullptr;
    }
    return object;
}

// Makes the calls of input, one a line, printing each result; counts the
// calls made. False when a line was no call (reported, and skipped).
bool RunCalls(std::istream& input, standin::Host& host, size_t& calls)
{
    bool wellFormed = true;
    // The file's texts stay held, as a script holds its string literals.
    std::vector<standin::Value> scriptTexts;
    std::string line;
    for (int number = 1; std::getline(input, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        std::string problem;
        std::vector<standin::Value> arguments;
        IFunction* object = CallOf(host, line, arguments, problem);
        if (!object) {
            std::fprintf(stderr, "%s: line %d: %s\n", kProgram, number, problem.c_str());
            wellFormed = false;
            continue;
        }
        scriptTexts.insert(scriptTexts.end(), arguments.begin(), arguments.end());
        std::printf("%s\n", Shown(host.Call(object, std::move(arguments))).c_str());
        std::fflush(stdout);
        ++calls;
    }
    return wellFormed;
}

void ReportFrames(const standin::MainThread& main, size_t calls, double frameRate)
{
    standin::MainThread::Statistics totals = main.Totals();
    std::string served = std::to_string(totals.callsServed) + " of " + std::to_string(calls);
    std::fprintf(stderr, "%s: %s calls made on the main thread, in %s frames at %g a second "
                         "(the longest frame spent %.3f ms in calls)\n",
                 kProgram, served.c_str(), std::to_string(totals.frames).c_str(), frameRate,
                 std::chrono::duration<double, std::milli>(totals.longestFrameWork).count());
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    int exitCode = 0;
    if (!ParseOptions(argc, argv, options, exitCode))
        return exitCode;

    std::ifstream file;
    if (options.inputPath) {
        file.open(options.inputPath, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "%s: cannot read %s\n", kProgram, options.inputPath);
            return 2;
        }
    }
    std::istream& input = options.inputPath ? static_cast<std::istream&>(file) : std::cin;

    std::unique_ptr<standin::PluginLibrary> library;
    standin::PluginEntryPoints plugin;
    if (!LoadPlugin(options.pluginPath, library, plugin))
        return 2;
    // The loaded plugin keeps its own log; this program's copy stays closed.
    auto logPath = [&library] { return library ? standin::PluginLogPath() : IDebugLog::OpenPath(); };

    standin::Host host(plugin);
    host.SetRuntimeVersion(options.runtimeVersion);
    host.SetEditor(options.editor);
    PluginInfoRecord info{};
    if (!host.Query(info)) {
        std::fprintf(stderr, "%s: the plugin refused the game (runtime %08X%s); its debug log says why: %s\n",
                     kProgram, options.runtimeVersion, options.editor ? ", editor" : "", logPath().c_str());
        return 3;
    }
    host.Load();
    host.Register();
    std::unique_ptr<FrameClock> frames;
    if (options.frameRate > 0) {
        if (options.frameBound)
            host.KeepOnMainThread();
        frames = std::make_unique<FrameClock>(options.framePeriod);
        host.UseMainThread(&frames->main);
    }

    size_t calls = 0;
    bool wellFormed = RunCalls(input, host, calls);
    if (frames) {
        frames->Stop();
        host.UseMainThread(nullptr);
        ReportFrames(frames->main, calls, options.frameRate);
    }
    if (options.showLog)
        std::fprintf(stderr, "%s: debug log: %s\n", kProgram, logPath().c_str());
    return wellFormed ? 0 : 1;
}
