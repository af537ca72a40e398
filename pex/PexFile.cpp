#include "pex/PexFile.h"

#include "common/HexText.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

namespace pex {

Value Value::Identifier(const std::string& name)
{
    Value value;
    value.type = kIdentifier;
    value.text = name;
    return value;
}

Value Value::Integer(int32_t number)
{
    Value value;
    value.type = kInteger;
    value.integer = number;
    return value;
}

namespace {

// Every integer is big-endian, whatever the machine.
void PutInteger(std::string& out, uint64_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

void PutText(std::string& out, const std::string& text)
{
    if (text.size() > 0xFFFF)
        throw std::length_error("a text of " + std::to_string(text.size()) + " bytes; 65535 is the most");
    PutInteger(out, text.size(), 2);
    out += text;
}

// The body after the string table, with the table made as the body refers
// to its texts.
class BodyWriter {
public:
    std::string body;
    std::vector<std::string> strings;

    void U8(uint64_t value) { PutInteger(body, value, 1); }
    void U16(uint64_t value) { PutInteger(body, value, 2); }
    void U32(uint64_t value) { PutInteger(body, value, 4); }
    void U64(uint64_t value) { PutInteger(body, value, 8); }

    void Count(size_t count)
    {
        if (count > 0xFFFF)
            throw std::length_error("a list of " + std::to_string(count) + " entries; 65535 is the most");
        U16(count);
    }

    void Ref(const std::string& text)
    {
        auto found = indexes.find(text);
        if (found == indexes.end()) {
            if (strings.size() == 0xFFFF)
                throw std::length_error("more than 65535 different texts");
            found = indexes.emplace(text, strings.size()).first;
            strings.push_back(text);
        }
        U16(found->second);
    }

    void Put(const Value& value)
    {
        U8(value.type);
        switch (value.type) {
        case Value::kIdentifier:
        case Value::kString:
            Ref(value.text);
            break;
        case Value::kInteger:
            U32(static_cast<uint32_t>(value.integer));
            break;
        case Value::kFloat: {
            uint32_t bits;
            std::memcpy(&bits, &value.number, 4);
            U32(bits);
            break;
        }
        case Value::kBool:
            U8(value.boolean);
            break;
        case Value::kNone:
            break;
        }
    }

    void Put(const std::vector<Variable>& variables)
    {
        Count(variables.size());
        for (const Variable& variable : variables) {
            Ref(variable.name);
            Ref(variable.type);
        }
    }

    void Put(const Function& function)
    {
        Ref(function.returnType);
        Ref(function.docstring);
        U32(function.userFlags);
        U8(function.flags);
        Put(function.parameters);
        Put(function.locals);
        Count(function.instructions.size());
        for (const Instruction& instruction : function.instructions) {
            U8(instruction.opcode);
            for (const Value& argument : instruction.arguments)
                Put(argument);
        }
    }

    void Put(const Object& object)
    {
        Ref(object.name);
        // The size counts the bytes after it, and its own four once more.
        size_t sizeAt = body.size();
        U32(0);
        Ref(object.parent);
        Ref(object.docstring);
        U32(object.userFlags);
        Ref(object.autoState);
        Count(0);  // variables
        Count(0);  // properties
        Count(object.states.size());
        for (const State& state : object.states) {
            Ref(state.name);
            Count(state.functions.size());
            for (const Function& function : state.functions) {
                Ref(function.name);
                Put(function);
            }
        }
        std::string size;
        PutInteger(size, body.size() - sizeAt, 4);
        body.replace(sizeAt, 4, size);
    }

private:
    std::map<std::string, size_t> indexes;
};

}  // namespace

std::string Write(const File& file)
{
    BodyWriter writer;
    writer.U8(file.hasDebugInfo ? 1 : 0);
    if (file.hasDebugInfo) {
        writer.U64(file.sourceModifiedAt);
        writer.Count(file.debugFunctions.size());
        for (const DebugFunction& entry : file.debugFunctions) {
            writer.Ref(entry.object);
            writer.Ref(entry.state);
            writer.Ref(entry.function);
            writer.U8(entry.kind);
            writer.Count(entry.lines.size());
            for (uint16_t line : entry.lines)
                writer.U16(line);
        }
    }
    writer.Count(file.userFlags.size());
    for (const UserFlag& flag : file.userFlags) {
        writer.Ref(flag.name);
        writer.U8(flag.bit);
    }
    writer.Count(file.objects.size());
    for (const Object& object : file.objects)
        writer.Put(object);

    std::string out;
    PutInteger(out, kMagic, 4);
    PutInteger(out, file.majorVersion, 1);
    PutInteger(out, file.minorVersion, 1);
    PutInteger(out, file.gameId, 2);
    PutInteger(out, file.compiledAt, 8);
    PutText(out, file.sourceName);
    PutText(out, file.userName);
    PutText(out, file.machineName);
    PutInteger(out, writer.strings.size(), 2);
    for (const std::string& text : writer.strings)
        PutText(out, text);
    return out + writer.body;
}

namespace {

class Reader {
public:
    explicit Reader(const std::string& bytes) : bytes(bytes) {}

    const std::string& bytes;
    size_t at = 0;
    std::vector<std::string> strings;

    [[noreturn]] void Fail(size_t offset, const std::string& what) { throw ReadFailure{offset, what}; }

    uint64_t Integer(int size, const char* what)
    {
        if (bytes.size() - at < static_cast<size_t>(size))
            Fail(at, "the file ends inside " + std::string(what));
        uint64_t value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes[at++]);
        return value;
    }
    uint8_t U8(const char* what) { return static_cast<uint8_t>(Integer(1, what)); }
    uint16_t U16(const char* what) { return static_cast<uint16_t>(Integer(2, what)); }
    uint32_t U32(const char* what) { return static_cast<uint32_t>(Integer(4, what)); }
    uint64_t U64(const char* what) { return Integer(8, what); }

    std::string Text(const char* what)
    {
        size_t size = U16(what);
        if (bytes.size() - at < size)
            Fail(at, "the file ends inside " + std::string(what) + " (" + std::to_string(size) + " bytes)");
        std::string text = bytes.substr(at, size);
        at += size;
        return text;
    }

    std::string Ref(const char* what)
    {
        size_t start = at;
        uint16_t index = U16(what);
        if (index >= strings.size())
            Fail(start, std::string(what) + ": string index " + std::to_string(index) + ", but the table has " +
                            std::to_string(strings.size()));
        return strings[index];
    }

    Value ReadValue(const char* what)
    {
        size_t start = at;
        Value value;
        uint8_t type = U8(what);
        switch (type) {
        case Value::kNone:
            break;
        case Value::kIdentifier:
        case Value::kString:
            value.text = Ref(what);
            break;
        case Value::kInteger:
            value.integer = static_cast<int32_t>(U32(what));
            break;
        case Value::kFloat: {
            uint32_t bits = U32(what);
            std::memcpy(&value.number, &bits, 4);
            break;
        }
        case Value::kBool:
            value.boolean = U8(what);
            break;
        default:
            Fail(start, std::string(what) + ": unknown value type " + std::to_string(type));
        }
        value.type = static_cast<Value::Type>(type);
        return value;
    }

    // A list of a u16 count; grown item by item, so that what a false count
    // claims costs nothing until the bytes are there.
    template <typename ReadOne>
    auto List(const char* what, ReadOne readOne) -> std::vector<decltype(readOne())>
    {
        std::vector<decltype(readOne())> items;
        for (uint16_t count = U16(what); items.size() < count;)
            items.push_back(readOne());
        return items;
    }

    std::vector<Variable> Variables(const char* countWhat, const char* nameWhat, const char* typeWhat)
    {
        return List(countWhat, [&] { return Variable{Ref(nameWhat), Ref(typeWhat)}; });
    }

    Instruction ReadInstruction()
    {
        size_t start = at;
        Instruction instruction;
        instruction.opcode = U8("an opcode");
        size_t fixed = 0;
        switch (instruction.opcode) {
        case kAssign: fixed = 2; break;
        case kReturn: fixed = 1; break;
        case kCallMethod: fixed = 3; break;
        default: Fail(start, "unknown opcode " + HexText(instruction.opcode, 2));
        }
        for (size_t i = 0; i < fixed; ++i)
            instruction.arguments.push_back(ReadValue("an argument"));
        if (instruction.opcode == kCallMethod) {
            size_t countAt = at;
            Value count = ReadValue("the count of extra arguments");
            if (count.type != Value::kInteger || count.integer < 0)
                Fail(countAt, "the count of extra arguments is no count");
            instruction.arguments.push_back(count);
            // Each argument takes a byte at least, so a false count ends at
            // the file's end rather than in a huge allocation.
            for (int32_t i = 0; i < count.integer; ++i)
                instruction.arguments.push_back(ReadValue("an extra argument"));
        }
        return instruction;
    }

    Function ReadFunction(const std::string& name)
    {
        Function function;
        function.name = name;
        function.returnType = Ref("a return type");
        function.docstring = Ref("a function docstring");
        function.userFlags = U32("a function's user flags");
        function.flags = U8("a function's flags");
        function.parameters = Variables("a parameter count", "a parameter name", "a parameter type");
        function.locals = Variables("a local count", "a local name", "a local type");
        function.instructions = List("an instruction count", [&] { return ReadInstruction(); });
        return function;
    }

    Object ReadObject()
    {
        Object object;
        object.name = Ref("an object name");
        size_t sizeAt = at;
        uint32_t size = U32("an object size");
        object.parent = Ref("a parent name");
        object.docstring = Ref("an object docstring");
        object.userFlags = U32("an object's user flags");
        object.autoState = Ref("an auto state name");
        size_t countAt = at;
        if (uint16_t variables = U16("a variable count"))
            Fail(countAt, std::to_string(variables) + " variables; only objects without variables are read");
        countAt = at;
        if (uint16_t properties = U16("a property count"))
            Fail(countAt, std::to_string(properties) + " properties; only objects without properties are read");
        object.states = List("a state count", [&] {
            State state;
            state.name = Ref("a state name");
            state.functions = List("a function count", [&] { return ReadFunction(Ref("a function name")); });
            return state;
        });
        if (at - sizeAt != size)
            Fail(sizeAt, "object size " + std::to_string(size) + ", but the object takes " +
                             std::to_string(at - sizeAt - 4) + " bytes after it (plus 4)");
        return object;
    }

    void ReadFile(File& file)
    {
        uint32_t magic = U32("the magic number");
        if (magic != kMagic)
            Fail(0, "no compiled script: magic number " + HexText(magic, 8));
        file.majorVersion = U8("the version");
        file.minorVersion = U8("the version");
        if (file.majorVersion != 3 || file.minorVersion != 2)
            Fail(4, "version " + std::to_string(file.majorVersion) + "." + std::to_string(file.minorVersion) +
                        "; only 3.2 is read");
        file.gameId = U16("the game id");
        if (file.gameId != 1)
            Fail(6, "game id " + std::to_string(file.gameId) + "; only 1 is read");
        file.compiledAt = U64("the compilation time");
        file.sourceName = Text("the source file name");
        file.userName = Text("the user name");
        file.machineName = Text("the machine name");
        strings = List("the string count", [&] { return Text("a string"); });
        file.strings = strings;

        size_t flagAt = at;
        uint8_t debug = U8("the debug info flag");
        if (debug > 1)
            Fail(flagAt, "debug info flag " + std::to_string(debug));
        file.hasDebugInfo = debug == 1;
        if (file.hasDebugInfo) {
            file.sourceModifiedAt = U64("the source modification time");
            file.debugFunctions = List("the debug function count", [&] {
                DebugFunction entry;
                entry.object = Ref("a debug object name");
                entry.state = Ref("a debug state name");
                entry.function = Ref("a debug function name");
                size_t kindAt = at;
                entry.kind = U8("a debug function kind");
                if (entry.kind > 2)
                    Fail(kindAt, "debug function kind " + std::to_string(entry.kind));
                entry.lines = List("a line count", [&] { return U16("a line number"); });
                return entry;
            });
        }
        file.userFlags = List("the user flag count", [&] {
            UserFlag flag;
            flag.name = Ref("a user flag name");
            flag.bit = U8("a user flag bit");
            return flag;
        });
        file.objects = List("the object count", [&] { return ReadObject(); });
        if (at != bytes.size())
            Fail(at, "data after the last object (" + std::to_string(bytes.size() - at) + " bytes)");
    }
};

}  // namespace

std::optional<ReadFailure> Read(const std::string& bytes, File& file)
{
    file = File();
    try {
        Reader(bytes).ReadFile(file);
    } catch (const ReadFailure& failure) {
        return failure;
    }
    return std::nullopt;
}

namespace {

// Texts in double quotes, with '"', '\' and every byte outside 0x20-0x7E
// escaped, so that a dump shows exactly what the file holds.
std::string Quoted(const std::string& text)
{
    std::string shown = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            shown += '\\';
            shown += static_cast<char>(c);
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c < 0x20 || c > 0x7E) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\x%02X", c);
            shown += escape;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown + "\"";
}

std::string Shown(const Value& value)
{
    switch (value.type) {
    case Value::kIdentifier:
        return value.text;
    case Value::kString:
        return Quoted(value.text);
    case Value::kInteger:
        return std::to_string(value.integer);
    case Value::kFloat: {
        char text[32];
        std::snprintf(text, sizeof(text), "%.9g", static_cast<double>(value.number));
        std::string shown = text;
        // So that a float never reads as an integer.
        if (shown.find_first_of(".eni") == std::string::npos)
            shown += ".0";
        return shown;
    }
    case Value::kBool:
        return value.boolean == 0 ? "false" : value.boolean == 1 ? "true" : "bool " + HexText(value.boolean, 2);
    case Value::kNone:
        break;
    }
    return "none";
}

const char* OpcodeName(uint8_t opcode)
{
    switch (opcode) {
    case kAssign: return "assign";
    case kCallMethod: return "callmethod";
    case kReturn: return "return";
    }
    return "?";
}

std::string Signature(const Function& function)
{
    std::string text = function.returnType + " " + function.name + "(";
    for (size_t i = 0; i < function.parameters.size(); ++i)
        text += (i ? ", " : "") + function.parameters[i].type + " " + function.parameters[i].name;
    text += ")";
    if (function.flags & kGlobal)
        text += " Global";
    if (function.flags & kNative)
        text += " Native";
    if (uint8_t other = function.flags & ~(kGlobal | kNative))
        text += " flags " + HexText(other, 2);
    return text;
}

// User flags with the names the file's own table gives their bits.
std::string ShownFlags(uint32_t flags, const std::vector<UserFlag>& names)
{
    std::string text = HexText(flags, 1);
    for (const UserFlag& flag : names) {
        if (flag.bit < 32 && (flags >> flag.bit & 1))
            text += " " + flag.name;
    }
    return text;
}

}  // namespace

void Dump(const File& file, std::ostream& out)
{
    out << "header\n"
        << "  magic " << HexText(kMagic, 8) << ", version " << int(file.majorVersion) << "."
        << int(file.minorVersion) << ", game " << file.gameId << "\n"
        << "  compiled at " << file.compiledAt << "\n"
        << "  source " << Quoted(file.sourceName) << "\n"
        << "  user " << Quoted(file.userName) << "\n"
        << "  machine " << Quoted(file.machineName) << "\n";
    out << "strings " << file.strings.size() << "\n";
    for (size_t i = 0; i < file.strings.size(); ++i)
        out << "  " << i << " " << Quoted(file.strings[i]) << "\n";
    if (file.hasDebugInfo) {
        out << "debug info\n  source modified at " << file.sourceModifiedAt << "\n";
        static const char* const kKinds[] = {"function", "getter", "setter"};
        for (const DebugFunction& entry : file.debugFunctions) {
            out << "  " << kKinds[entry.kind % 3] << " " << entry.object << " " << Quoted(entry.state) << " "
                << entry.function << ", lines";
            for (uint16_t line : entry.lines)
                out << " " << line;
            out << (entry.lines.empty() ? " none\n" : "\n");
        }
    } else {
        out << "no debug info\n";
    }
    out << "user flags\n";
    for (const UserFlag& flag : file.userFlags)
        out << "  " << flag.name << " bit " << int(flag.bit) << "\n";
    for (const Object& object : file.objects) {
        out << "object " << object.name << "\n"
            << "  parent " << Quoted(object.parent) << "\n"
            << "  docstring " << Quoted(object.docstring) << "\n"
            << "  user flags " << ShownFlags(object.userFlags, file.userFlags) << "\n"
            << "  auto state " << Quoted(object.autoState) << "\n";
        for (const State& state : object.states) {
            out << "  state " << Quoted(state.name) << "\n";
            for (const Function& function : state.functions) {
                out << "    " << Signature(function) << "\n"
                    << "      docstring " << Quoted(function.docstring) << "\n"
                    << "      user flags " << ShownFlags(function.userFlags, file.userFlags) << "\n";
                for (const Variable& local : function.locals)
                    out << "      local " << local.type << " " << local.name << "\n";
                for (const Instruction& instruction : function.instructions) {
                    out << "      " << OpcodeName(instruction.opcode);
                    for (size_t i = 0; i < instruction.arguments.size(); ++i)
                        out << (i ? ", " : " ") << Shown(instruction.arguments[i]);
                    out << "\n";
                }
            }
        }
    }
}

}  // namespace pex
