// linefold-fuzz: turns each input into a run of script calls, made through
// the function objects exactly as the host makes them, and checks every
// answer, and at the end every file, against the model in Model.cpp.
//
// The calls run under a file size limit at which the file full lies, so that
// lines appended to it are refused as on a full disk: a WriteLine whose flush
// fails answers false, and so does the CloseFile after any line.
//
// Input: a header, then calls until the bytes run out (past the end every
// byte reads as 0). A symbol byte picks kSymbols[byte % 8].
//   header  flags (bit 0: d/f.txt exists, bit 1: g.txt exists; bit 7: a
//           byte follows that chooses how each file begins, bits 0-1 for
//           d/f.txt and 2-3 for g.txt: no mark, UTF-8's, or UTF-16's,
//           little- or big-endian, with the symbols as UTF-16 code units;
//           bit 4 gives the UTF-16 files an odd last byte), then for each
//           file that exists a length byte (mod 64) and that many symbols
//   call    a function byte (its low four bits index kByCode), a path, then
//           the function's other arguments, each taking one byte or more:
//   path    below 0xF0, model::kKeys[byte % model::kKeyCount]; else a value
//           of another type, which the plugin takes as the empty path
//   flag    top three bits 0-3: a bool (the low bit); 4 an int, 5 a float,
//           6 a bool byte of any value, 7 a string or none
//   count   top three bits 0-3: an int from a menu (the low five bits);
//           4 a float, 5 a bool byte, 6 a string, 7 none
//   line    below 0xF0, byte % 8 symbols; else the big line, a value of
//           another type, a lone BEL, or up to 63 symbols

#include "Model.h"

#include "standin/StandInHost.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using model::Model;

// A window count refused by the allocator must fail the way it does in the
// product, with a null window, not end the run; and what is refused is fixed
// here, below every count from model::kRefusedWindow up. A smaller quarantine
// keeps long runs far from libFuzzer's memory limit; an input's own blocks
// fit in it many times over.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options()
{
    return "allocator_may_return_null=1:max_allocation_size_mb=1024:quarantine_size_mb=64";
}

namespace {

const char kSymbols[] = {'a', 'b', ' ', '\r', '\n', '\a', '\x1a', '\0'};
constexpr size_t kSymbolCount = sizeof(kSymbols);

// A line that overflows a stream's buffer; only a key whose lines reach no
// file gets it, since files get short lines.
constexpr size_t kBigLine = 70000;
// All that one input writes to files, far below the stream buffer; with the
// files' first bytes, far below the file size limit too.
constexpr size_t kWriteBudget = 16 * 1024;
static_assert(kWriteBudget + 131 < model::kFileLimit, "only full reaches the file size limit");

// While it lives, no file may grow past model::kFileLimit bytes: a write
// beyond fails, with SIGXFSZ ignored. Only around calls on full, so that
// libFuzzer's own files and logs, and its handler of that signal, stay as
// they are (a sanitizer's report of a crash in such a call to a log file
// may be lost: scripts/fuzz replay shows it on the terminal).
class FileSizeLimit {
public:
    FileSizeLimit()
    {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &previousAction);
        getrlimit(RLIMIT_FSIZE, &previousLimit);
        rlimit limit = previousLimit;
        limit.rlim_cur = model::kFileLimit;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previousLimit);
        sigaction(SIGXFSZ, &previousAction, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    struct sigaction previousAction = {};
    rlimit previousLimit = {};
};

enum Function {
    kExistsFile, kLoadFile, kCloseFile, kDeleteAnyFile, kIsLoaded, kIsGood, kIsReadOnly,
    kIsWriteOnly, kHasNextLine, kNextLine, kWriteLine, kFunctionCount
};
const char* const kFunctionNames[kFunctionCount] = {
    "ExistsFile", "LoadFile", "CloseFile", "DeleteAnyFile", "IsLoaded", "IsGood",
    "IsReadOnly", "IsWriteOnly", "HasNextLine", "NextLine", "WriteLine"};

// One argument as the fuzzer chose it: its type and value.
struct Argument {
    uint32_t type = ScriptValue::kNone;
    std::string text;
    int32_t integer = 0;
    float number = 0;
    uint8_t boolByte = 0;

    static Argument String(const std::string& text)
    {
        Argument argument;
        argument.type = ScriptValue::kString;
        argument.text = text;
        return argument;
    }
    static Argument Int(int32_t value)
    {
        Argument argument;
        argument.type = ScriptValue::kInteger;
        argument.integer = value;
        return argument;
    }
    static Argument Float(float value)
    {
        Argument argument;
        argument.type = ScriptValue::kFloat;
        argument.number = value;
        return argument;
    }
    static Argument Bool(uint8_t byte)
    {
        Argument argument;
        argument.type = ScriptValue::kBool;
        argument.boolByte = byte;
        return argument;
    }
    static Argument None() { return Argument(); }

    standin::Value Value() const
    {
        switch (type) {
        case ScriptValue::kString:
            return standin::StringValue(text);
        case ScriptValue::kInteger:
            return standin::IntValue(integer);
        case ScriptValue::kFloat:
            return standin::FloatValue(number);
        case ScriptValue::kBool: {
            // Any byte, as a host may store it, not only 0 and 1.
            standin::Value value = standin::BoolValue(false);
            std::memcpy(&value.data, &boolByte, 1);
            return value;
        }
        default:
            return standin::NoneValue();
        }
    }
};

// The conversions a script's values go through on their way in.
std::string TextArgument(const Argument& argument)
{
    return argument.type == ScriptValue::kString ? argument.text : std::string();
}

bool BoolArgument(const Argument& argument)
{
    switch (argument.type) {
    case ScriptValue::kInteger: return argument.integer != 0;
    case ScriptValue::kFloat: return std::isnan(argument.number) || argument.number != 0;
    case ScriptValue::kBool: return argument.boolByte != 0;
    default: return false;
    }
}

uint32_t CountArgument(const Argument& argument)
{
    switch (argument.type) {
    case ScriptValue::kInteger:
        return static_cast<uint32_t>(argument.integer);
    case ScriptValue::kFloat: {
        // Toward zero; what no count can hold is the largest count.
        double number = argument.number;
        if (std::isnan(number) || number <= -1.0 || number >= 4294967296.0)
            return 0xFFFFFFFFu;
        return number < 0 ? 0 : static_cast<uint32_t>(number);
    }
    case ScriptValue::kBool:
        return argument.boolByte;
    default:
        return 0;
    }
}

// linefold-host's call syntax, so that a failing run reads like a call file.
std::string Quoted(const std::string& text)
{
    if (text.size() == kBigLine && text.find_first_not_of('x') == std::string::npos)
        return "\"x...\" (" + std::to_string(kBigLine) + " times x)";
    std::string shown = "\"";
    for (unsigned char c : text) {
        char escape[8];
        if (c == '"' || c == '\\') {
            shown += '\\';
            shown += static_cast<char>(c);
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c < 0x20 || c > 0x7E) {
            std::snprintf(escape, sizeof(escape), "\\x%02X", c);
            shown += escape;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown + "\"";
}

std::string Shown(const Argument& argument)
{
    switch (argument.type) {
    case ScriptValue::kString:
        return Quoted(argument.text);
    case ScriptValue::kInteger:
        return std::to_string(argument.integer);
    case ScriptValue::kFloat: {
        if (std::isnan(argument.number))
            return "nan";
        if (std::isinf(argument.number))
            return argument.number > 0 ? "inf" : "-inf";
        char text[32];
        std::snprintf(text, sizeof(text), "%.9g", static_cast<double>(argument.number));
        std::string shown = text;
        if (shown.find_first_of(".e") == std::string::npos)
            shown += ".0";
        return shown;
    }
    case ScriptValue::kBool:
        if (argument.boolByte > 1)
            return "true(byte " + std::to_string(argument.boolByte) + ")";
        return argument.boolByte ? "true" : "false";
    default:
        return "none";
    }
}

std::string Shown(const standin::StringCounts& counts)
{
    return std::to_string(counts.entries) + " texts of " + std::to_string(counts.bytes) +
           " bytes with " + std::to_string(counts.references) + " references";
}

// Takes the input a byte at a time; past its end every byte is 0.
class Decoder {
public:
    Decoder(const uint8_t* data, size_t size) : data(data), size(size) {}
    bool Done() const { return position >= size; }
    uint8_t Byte() { return position < size ? data[position++] : 0; }
    std::string Symbols(size_t count)
    {
        std::string text;
        for (size_t i = 0; i < count; ++i)
            text += kSymbols[Byte() % kSymbolCount];
        return text;
    }

    // A path: mostly one of the keys, sometimes a value of another type,
    // which reaches the plugin as the empty text.
    Argument Path(int& key)
    {
        uint8_t byte = Byte();
        if (byte < 0xF0) {
            key = byte % model::kKeyCount;
            return Argument::String(model::kKeys[key].text);
        }
        key = model::kEmptyKey;
        switch (byte & 3) {
        case 0: return Argument::Int(1);
        case 1: return Argument::Float(1.5f);
        case 2: return Argument::Bool(1);
        default: return Argument::None();
        }
    }

    Argument Flag()
    {
        uint8_t byte = Byte();
        static const int32_t ints[] = {0, 1, 7, -1};
        static const float floats[] = {0.0f, -0.0f, NAN, 0.25f};
        static const uint8_t bytes[] = {0, 1, 2, 0xFF};
        switch (byte >> 5) {
        case 4: return Argument::Int(ints[byte & 3]);
        case 5: return Argument::Float(floats[byte & 3]);
        case 6: return Argument::Bool(bytes[byte & 3]);
        case 7: return byte & 1 ? Argument::None() : Argument::String("true");
        default: return Argument::Bool(byte & 1);
        }
    }

    // A window size: small counts mostly, then 0, negatives, sizes too large
    // to allocate, floats of every kind, bools, and values of no count type.
    Argument Count()
    {
        uint8_t byte = Byte();
        static const int32_t ints[32] = {
            1, 2, 3, 4, 5, 1, 2, 3, 1, 2, 3, 4, 6, 7, 8, 9,
            0, -1, -5, 16, 100, 1000, 65536, 100000,
            INT32_MAX, INT32_MIN, 1 << 27, 1 << 30, -2, 0x7FFFFFF0, 10, 3};
        static const float floats[16] = {
            NAN, INFINITY, -INFINITY, -0.0f, 0.0f, 0.5f, -0.5f, -1.0f,
            -2.0f, 1.0f, 3.9f, 7.99f, 4294967296.0f, 2147483648.0f, 1e9f, 99999.5f};
        static const uint8_t bytes[4] = {0, 1, 2, 0xFF};
        switch (byte >> 5) {
        case 4: return Argument::Float(floats[byte & 15]);
        case 5: return Argument::Bool(bytes[byte & 3]);
        case 6: return Argument::String("3");
        case 7: return Argument::None();
        default: return Argument::Int(ints[byte & 31]);
        }
    }

    // A line: a few symbols mostly; a longer one, a lone BEL, a value of
    // another type, or the big line now and then.
    Argument Line()
    {
        uint8_t byte = Byte();
        if (byte < 0xF0)
            return Argument::String(Symbols(byte % 8));
        switch (byte & 15) {
        case 0:
        case 1: return Argument::String(std::string(kBigLine, 'x'));
        case 2: return Argument::Int(5);
        case 3: return Argument::Float(NAN);
        case 4: return Argument::Bool(1);
        case 5: return Argument::None();
        case 6: return Argument::String("\a");
        default: return Argument::String(Symbols(Byte() % 64));
        }
    }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

// The plugin, started once per process as the host starts it.
struct Plugin {
    standin::Host host;
    IFunction* functions[kFunctionCount] = {};
};
Plugin* plugin = nullptr;
fs::path scratchRoot;

[[noreturn]] void Fatal(const std::string& what)
{
    std::fprintf(stderr, "linefold-fuzz: %s\n", what.c_str());
    std::abort();
}

void StartPlugin()
{
    // The debug log goes to a private documents folder and from there to
    // /dev/null: formatted and written like every message, never kept.
    fs::path logFolder = scratchRoot / "home/Documents/My Games/Skyrim/SKSE";
    fs::create_directories(logFolder);
    fs::create_symlink("/dev/null", logFolder / "Linefold.log");
    setenv("HOME", (scratchRoot / "home").c_str(), 1);

    plugin = new Plugin;
    PluginInfoRecord info{};
    if (!plugin->host.Query(info) || !plugin->host.Load() || !plugin->host.Register())
        Fatal("the plugin did not start");
    // Found once, by name.
    for (int i = 0; i < kFunctionCount; ++i) {
        plugin->functions[i] = plugin->host.Find(kFunctionNames[i]);
        if (!plugin->functions[i])
            Fatal(std::string("no function ") + kFunctionNames[i]);
    }
}

const std::string kScratchPrefix = "linefold-fuzz-";

void RemoveScratch()
{
    std::error_code ignored;
    fs::remove_all(scratchRoot, ignored);
}

// A run that crashed leaves its scratch folder as it was, to be looked at;
// the next start removes those of processes that are gone.
void RemoveStaleScratch(const fs::path& parent)
{
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(parent, error)) {
        std::string name = entry.path().filename().string();
        if (name.compare(0, kScratchPrefix.size(), kScratchPrefix) != 0)
            continue;
        std::string pid = name.substr(kScratchPrefix.size());
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (!fs::exists("/proc/" + pid, error))
            fs::remove_all(entry.path(), error);
    }
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A file's first text as an editor saves it: after a byte order mark
// (mark 1: UTF-8's), or as UTF-16 (2: little-endian, 3: big-endian).
std::string Saved(const std::string& text, int mark, bool oddByte)
{
    if (mark == 1)
        return "\xEF\xBB\xBF" + text;
    if (mark == 0)
        return text;
    std::string bytes = mark == 2 ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : text)
        bytes += mark == 2 ? std::string{c, '\0'} : std::string{'\0', c};
    return oddByte ? bytes + "a" : bytes;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// One input's run: the calls so far, for the report.
class Run {
public:
    Run(const uint8_t* data, size_t size) : input(data, size) {}

    void Execute()
    {
        standin::StringCounts before = standin::Strings();
        for (const model::Key& key : model::kKeys)
            held.push_back(standin::StringValue(key.text));
        for (const char* line : model::kHeldLines)
            held.push_back(standin::StringValue(line));
        SetUp();
        while (!input.Done())
            Step();
        CloseAll();
        CheckFiles();
        // Every handle made on the way was given back, none twice.
        held.clear();
        if (!(standin::Strings() == before))
            Mismatch("at the end the string cache holds " + Shown(standin::Strings()) +
                     "; before the input it held " + Shown(before));
        if (std::getenv("LINEFOLD_FUZZ_SHOW"))
            Report("linefold-fuzz: input passed");
    }

private:
    void SetUp()
    {
        uint8_t flags = input.Byte();
        bool fExists = flags & 1, gExists = flags & 2;
        uint8_t marks = flags & 0x80 ? input.Byte() : 0;
        std::string fBytes, gBytes;
        if (fExists)
            fBytes = Saved(input.Symbols(input.Byte() % 64), marks & 3, marks & 16);
        if (gExists)
            gBytes = Saved(input.Symbols(input.Byte() % 64), (marks >> 2) & 3, marks & 16);
        fs::create_directory("d");
        WriteFile(model::kNamePaths[model::kFull], model::FullFileBytes());
        setup.push_back("mkdir d && yes ab | head -n " + std::to_string(model::kFileLimit / 4) +
                        " | sed 's/$/\\r/' > full");
        setup.push_back("ulimit -f " + std::to_string(model::kFileLimit / 1024) +
                        "  # for the calls: no file grows past the size of full");
        if (fExists) {
            WriteFile("d/f.txt", fBytes);
            setup.push_back("printf '%b' " + Quoted(fBytes) + " > d/f.txt");
        }
        if (gExists) {
            WriteFile("g.txt", gBytes);
            setup.push_back("printf '%b' " + Quoted(gBytes) + " > g.txt");
        }
        expected.reset(new Model(fExists, fBytes, gExists, gBytes));
    }

    void Step()
    {
        uint8_t byte = input.Byte();
        static const Function kByCode[16] = {
            kExistsFile, kLoadFile, kCloseFile, kDeleteAnyFile, kIsLoaded, kIsGood,
            kIsReadOnly, kIsWriteOnly, kHasNextLine, kNextLine, kWriteLine,
            kLoadFile, kWriteLine, kNextLine, kHasNextLine, kCloseFile};
        Function function = kByCode[byte & 15];
        int key = 0;
        std::vector<Argument> arguments{input.Path(key)};
        Model& model = *expected;

        switch (function) {
        case kLoadFile: {
            arguments.push_back(input.Flag());
            arguments.push_back(input.Flag());
            arguments.push_back(input.Count());
            bool readOnly = BoolArgument(arguments[1]), append = BoolArgument(arguments[2]);
            uint32_t count = CountArgument(arguments[3]);
            CheckBool(function, arguments, model.LoadFile(key, readOnly, append, count));
            return;
        }
        case kWriteLine: {
            arguments.push_back(input.Line());
            std::string line = TextArgument(arguments[1]);
            if (model.WritesFile(key)) {
                // Regular files get short lines only, within the budget.
                if (line.size() == kBigLine)
                    arguments[1] = Argument::String(line = "x");
                written += (line.size() * 2 + 2) * (model.WritesUtf16(key) ? 2 : 1);
                if (written > kWriteBudget)
                    return;
            }
            CheckBool(function, arguments, model.WriteLine(key, line));
            return;
        }
        case kHasNextLine:
        case kNextLine:
            if (function == kHasNextLine)
                CheckBool(function, arguments, model.HasNextLine(key));
            else
                CheckText(function, arguments, model.NextLine(key));
            return;
        case kExistsFile: CheckBool(function, arguments, model.ExistsFile(key)); return;
        case kCloseFile: CheckBool(function, arguments, model.CloseFile(key)); return;
        case kDeleteAnyFile: CheckBool(function, arguments, model.DeleteAnyFile(key)); return;
        case kIsLoaded: CheckBool(function, arguments, model.IsLoaded(key)); return;
        case kIsGood: CheckBool(function, arguments, model.IsGood(key)); return;
        case kIsReadOnly: CheckBool(function, arguments, model.IsReadOnly(key)); return;
        case kIsWriteOnly: CheckBool(function, arguments, model.IsWriteOnly(key)); return;
        default: return;
        }
    }

    // Makes the call through the function object and notes it for the report.
    standin::Value Call(Function function, const std::vector<Argument>& arguments)
    {
        std::string shown = kFunctionNames[function];
        std::vector<standin::Value> values;
        for (const Argument& argument : arguments) {
            shown += " " + Shown(argument);
            values.push_back(argument.Value());
        }
        calls.push_back(shown);
        bool answered = false;
        standin::Value result;
        auto call = [&] { result = plugin->host.Call(plugin->functions[function], std::move(values), &answered); };
        // No other file comes near the limit: only calls on full need it.
        if (arguments[0].type == ScriptValue::kString && arguments[0].text == model::kNamePaths[model::kFull]) {
            FileSizeLimit limit;
            call();
        } else {
            call();
        }
        if (!answered)
            Mismatch("Invoke answered false to the host");
        return result;
    }

    void CheckBool(Function function, const std::vector<Argument>& arguments, bool expectedAnswer)
    {
        standin::Value result = Call(function, arguments);
        uint8_t byte = 0;
        std::memcpy(&byte, &result.data, 1);
        calls.back() += byte == 1 ? "  => true" : byte == 0 ? "  => false" : "  => byte " + std::to_string(byte);
        if (result.type != ScriptValue::kBool)
            Mismatch("the result's type is " + std::to_string(result.type) + ", not bool");
        if (byte != (expectedAnswer ? 1 : 0))
            Mismatch(std::string("the model expects ") + (expectedAnswer ? "true" : "false"));
    }

    void CheckText(Function function, const std::vector<Argument>& arguments, const std::string& expectedText)
    {
        standin::Value result = Call(function, arguments);
        std::string text = result.type == ScriptValue::kString ? TextOf(result.data.string) : "";
        calls.back() += "  => " + Quoted(text);
        if (result.type != ScriptValue::kString)
            Mismatch("the result's type is " + std::to_string(result.type) + ", not string");
        if (text != expectedText)
            Mismatch("the model expects " + Quoted(expectedText));
    }

    // Closes every key still loaded, in key order, as a script would at its
    // end; nothing may stay loaded.
    void CloseAll()
    {
        for (int key = 0; key < model::kKeyCount; ++key) {
            std::vector<Argument> path{Argument::String(model::kKeys[key].text)};
            if (expected->IsLoaded(key))
                CheckBool(kCloseFile, path, expected->CloseFile(key));
        }
        for (int key = 0; key < model::kKeyCount; ++key)
            CheckBool(kIsLoaded, {Argument::String(model::kKeys[key].text)}, false);
    }

    void CheckFiles()
    {
        std::set<std::string> expectedNames{"d"}, foundNames;
        for (int name = model::kF; name <= model::kFull; ++name) {
            model::Name which = static_cast<model::Name>(name);
            const char* path = model::kNamePaths[name];
            model::Kind kind = expected->KindOf(which);
            std::error_code error;
            fs::file_status status = fs::symlink_status(path, error);
            bool there = fs::exists(status);
            if (kind == model::Kind::Missing) {
                if (there)
                    Mismatch(std::string("at the end ") + path + " exists; the model has it missing");
                continue;
            }
            if (name != model::kF)
                expectedNames.insert(path);
            if (!fs::is_regular_file(status))
                Mismatch(std::string("at the end ") + path + " is not a file");
            std::string bytes = ReadFile(path);
            if (bytes != expected->BytesOf(which))
                Mismatch(std::string("at the end ") + path + " holds " + Quoted(bytes) +
                         "; the model expects " + Quoted(expected->BytesOf(which)));
        }
        for (const fs::directory_entry& entry : fs::directory_iterator("."))
            foundNames.insert(entry.path().filename().string());
        if (foundNames != expectedNames)
            Mismatch("at the end the folder holds other names than d, and the files the model has");
        bool fThere = expected->KindOf(model::kF) == model::Kind::File;
        size_t inFolder = std::distance(fs::directory_iterator("d"), fs::directory_iterator());
        if (inFolder != (fThere ? 1u : 0u))
            Mismatch("at the end d holds other names than the model's f.txt");
    }

    [[noreturn]] void Mismatch(const std::string& what)
    {
        Report("linefold-fuzz: MISMATCH after call " + std::to_string(calls.size()) + ": " + what);
        std::abort();
    }

    void Report(const std::string& headline)
    {
        std::fprintf(stderr, "\n%s\n", headline.c_str());
        std::fprintf(stderr, "Set-up in an empty folder (bash):\n");
        for (const std::string& line : setup)
            std::fprintf(stderr, "  %s\n", line.c_str());
        std::fprintf(stderr, "Calls (linefold-host syntax) and the plugin's answers:\n");
        for (const std::string& line : calls)
            std::fprintf(stderr, "  %s\n", line.c_str());
        std::fprintf(stderr, "Scratch folder: %s\n", fs::current_path().c_str());
        std::fflush(stderr);
    }

    Decoder input;
    std::vector<standin::Value> held;
    std::unique_ptr<Model> expected;
    std::vector<std::string> setup;
    std::vector<std::string> calls;
    size_t written = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The inputs change the current folder; what libFuzzer writes after a
    // crash must land where it was started.
    static std::vector<char*> arguments(*argv, *argv + *argc);
    static std::string prefix = "-artifact_prefix=" + fs::current_path().string() + "/";
    bool hasPrefix = false;
    for (char* argument : arguments)
        hasPrefix = hasPrefix || std::strncmp(argument, "-artifact_prefix=", 17) == 0;
    if (!hasPrefix) {
        arguments.push_back(&prefix[0]);
        arguments.push_back(nullptr);
        *argc = static_cast<int>(arguments.size()) - 1;
        *argv = arguments.data();
    }

    // A memory file system where there is one: every input makes and
    // removes a folder tree.
    fs::path parent = fs::is_directory("/dev/shm") && access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    RemoveStaleScratch(parent);
    scratchRoot = parent / (kScratchPrefix + std::to_string(getpid()));
    RemoveScratch();
    std::error_code error;
    if (!fs::create_directory(scratchRoot, error))
        Fatal("no scratch folder " + scratchRoot.string() + ": " + error.message());
    std::atexit(RemoveScratch);
    StartPlugin();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fs::path start = fs::current_path();
    fs::path work = scratchRoot / "work";
    std::error_code ignored;
    fs::remove_all(work, ignored);
    fs::create_directory(work);
    fs::current_path(work);
    {
        Run run(data, size);
        run.Execute();
    }
    fs::current_path(start);
    return 0;
}
