#pragma once

// A compiled script (.pex) of the game's script engine: what it holds, and
// how it is written, read back and shown. Only what a script of function
// declarations needs is modelled; the reader refuses the rest by its offset.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace pex {

constexpr uint32_t kMagic = 0xFA57C0DE;

// Bits of Object::userFlags, as the file's user flag table names them.
constexpr uint32_t kHiddenFlag = 1u << 0;
constexpr uint32_t kConditionalFlag = 1u << 1;

// Bits of Function::flags.
constexpr uint8_t kGlobal = 0x01;
constexpr uint8_t kNative = 0x02;

enum Opcode : uint8_t { kAssign = 0x0D, kCallMethod = 0x17, kReturn = 0x1A };

struct Value {
    enum Type : uint8_t { kNone, kIdentifier, kString, kInteger, kFloat, kBool };
    Type type = kNone;
    std::string text;  // identifier or string
    int32_t integer = 0;
    float number = 0;
    uint8_t boolean = 0;

    static Value Identifier(const std::string& name);
    static Value Integer(int32_t value);
};

// Call method: method, object, result, the count of extra arguments, then
// those; the count is kept among the arguments, as it stands in the file.
struct Instruction {
    uint8_t opcode = 0;
    std::vector<Value> arguments;
};

struct Variable {
    std::string name;
    std::string type;
};

struct Function {
    std::string name;
    std::string returnType;
    std::string docstring;
    uint32_t userFlags = 0;
    uint8_t flags = 0;
    std::vector<Variable> parameters;
    std::vector<Variable> locals;
    std::vector<Instruction> instructions;
};

struct State {
    std::string name;
    std::vector<Function> functions;
};

struct Object {
    std::string name;
    std::string parent;
    std::string docstring;
    uint32_t userFlags = 0;
    std::string autoState;
    std::vector<State> states;
};

struct DebugFunction {
    std::string object;
    std::string state;
    std::string function;
    uint8_t kind = 0;  // 0 function, 1 property getter, 2 property setter
    std::vector<uint16_t> lines;
};

struct UserFlag {
    std::string name;
    uint8_t bit = 0;
};

struct File {
    uint8_t majorVersion = 3;
    uint8_t minorVersion = 2;
    uint16_t gameId = 1;
    uint64_t compiledAt = 0;
    std::string sourceName;
    std::string userName;
    std::string machineName;
    // As read; the writer makes its own, each text once, in order of first use.
    std::vector<std::string> strings;
    bool hasDebugInfo = false;
    uint64_t sourceModifiedAt = 0;
    std::vector<DebugFunction> debugFunctions;
    std::vector<UserFlag> userFlags;
    std::vector<Object> objects;
};

// The file's bytes.
std::string Write(const File& file);

struct ReadFailure {
    size_t offset = 0;
    std::string what;
};

// Reads a whole file; on anything it does not know, the offset where it
// stopped and what it met there.
std::optional<ReadFailure> Read(const std::string& bytes, File& file);

// Everything in the file, readably: header, strings, debug info, user flags,
// and each object with its states and functions, one function header a line:
//     Bool ExistsFile(String path) Global Native
void Dump(const File& file, std::ostream& out);

}  // namespace pex
