// The compiled script made of declarations, byte for byte; what the compiler
// refuses; and the reader on files it cannot read.
#include "support/TestSupport.h"

#include "pex/Compiler.h"

#include <sstream>

using Lines = std::vector<std::string>;

namespace {

const char* const kTinySource =
    "Scriptname Tiny Conditional\n"
    "{A tiny script.}\n"
    "int Function Twice(int n, string[] names = none) Global Native\n"
    "{Doubles n.}\n";

// Big-endian fields, as the format lays them down.
struct Bytes {
    std::string data;

    Bytes& Integer(uint64_t value, int size)
    {
        for (int i = size - 1; i >= 0; --i)
            data += static_cast<char>(value >> (8 * i) & 0xFF);
        return *this;
    }
    Bytes& U8(uint64_t value) { return Integer(value, 1); }
    Bytes& U16(uint64_t value) { return Integer(value, 2); }
    Bytes& U32(uint64_t value) { return Integer(value, 4); }
    Bytes& U64(uint64_t value) { return Integer(value, 8); }
    Bytes& Text(const std::string& text)
    {
        U16(text.size());
        data += text;
        return *this;
    }
    Bytes& Identifier(uint16_t ref) { return U8(1).U16(ref); }
    Bytes& Add(const Bytes& more)
    {
        data += more.data;
        return *this;
    }
};

// Where the golden file holds what the corruption cases change.
struct Offsets {
    size_t objectSize = 0;
    size_t firstOpcode = 0;
    size_t firstArgument = 0;
};

// The file kTinySource compiles to at time 0x0102030405060708, field by
// field: the strings in order of first use, the declared function first,
// then GetState, GotoState, onEndState and onBeginState.
std::string ExpectedTiny(Offsets& offsets)
{
    enum : uint16_t {
        kTiny, kEmpty, kTwice, kGetState, kGotoState, kOnEndState, kOnBeginState, kConditional, kHidden,
        kScriptDoc, kInt, kTwiceDoc, kN, kNames, kStringArray, kString, kGetStateDoc, kState, kNone,
        kGotoStateDoc, kNewState, kNoneVar, kSelf, kOnEndStateDoc, kOnBeginStateDoc
    };
    const Lines strings = {
        "Tiny", "", "Twice", "GetState", "GotoState", "onEndState", "onBeginState", "conditional", "hidden",
        "A tiny script.", "Int", "Doubles n.", "n", "names", "String[]", "String",
        "Function that returns the current state", "::State", "None",
        "Function that switches this object to the specified state", "newState", "::NoneVar", "self",
        "Event received when this state is switched away from", "Event received when this state is switched to"};

    Bytes file;
    file.U32(0xFA57C0DE).U8(3).U8(2).U16(1).U64(0x0102030405060708);
    file.Text("Tiny.psc").Text("linefold-pex").Text("linefold-pex");
    file.U16(strings.size());
    for (const std::string& text : strings)
        file.Text(text);

    // Debug info: one entry a function, a line (0) for each instruction.
    file.U8(1).U64(0x0102030405060708).U16(5);
    file.U16(kTiny).U16(kEmpty).U16(kTwice).U8(0).U16(0);
    file.U16(kTiny).U16(kEmpty).U16(kGetState).U8(0).U16(1).U16(0);
    file.U16(kTiny).U16(kEmpty).U16(kGotoState).U8(0).U16(3).U16(0).U16(0).U16(0);
    file.U16(kTiny).U16(kEmpty).U16(kOnEndState).U8(0).U16(0);
    file.U16(kTiny).U16(kEmpty).U16(kOnBeginState).U8(0).U16(0);

    file.U16(2).U16(kConditional).U8(1).U16(kHidden).U8(0);

    Bytes object;  // after its size field
    object.U16(kEmpty).U16(kScriptDoc).U32(0x2).U16(kEmpty).U16(0).U16(0);
    object.U16(1).U16(kEmpty).U16(5);
    // name, result, docstring, user flags, flags, parameters, locals, instructions
    object.U16(kTwice).U16(kInt).U16(kTwiceDoc).U32(0).U8(0x03);
    object.U16(2).U16(kN).U16(kInt).U16(kNames).U16(kStringArray).U16(0).U16(0);
    object.U16(kGetState).U16(kString).U16(kGetStateDoc).U32(0).U8(0).U16(0).U16(0).U16(1);
    size_t firstOpcode = object.data.size();
    object.U8(0x1A).Identifier(kState);
    object.U16(kGotoState).U16(kNone).U16(kGotoStateDoc).U32(0).U8(0);
    object.U16(1).U16(kNewState).U16(kString).U16(1).U16(kNoneVar).U16(kNone).U16(3);
    object.U8(0x17).Identifier(kOnEndState).Identifier(kSelf).Identifier(kNoneVar).U8(3).U32(0);
    object.U8(0x0D).Identifier(kState).Identifier(kNewState);
    object.U8(0x17).Identifier(kOnBeginState).Identifier(kSelf).Identifier(kNoneVar).U8(3).U32(0);
    object.U16(kOnEndState).U16(kNone).U16(kOnEndStateDoc).U32(0).U8(0).U16(0).U16(0).U16(0);
    object.U16(kOnBeginState).U16(kNone).U16(kOnBeginStateDoc).U32(0).U8(0).U16(0).U16(0).U16(0);

    file.U16(1).U16(kTiny);
    offsets.objectSize = file.data.size();
    file.U32(object.data.size() + 4);
    offsets.firstOpcode = file.data.size() + firstOpcode;
    offsets.firstArgument = offsets.firstOpcode + 1;
    return file.Add(object).data;
}

std::string Compiled(const std::string& source, const std::string& fileName, Lines& errors)
{
    std::vector<papyrus::Error> found;
    papyrus::Script script = papyrus::Parse(source, fileName, found);
    for (const papyrus::Error& error : found)
        errors.push_back(std::to_string(error.line) + ": " + error.message);
    return pex::Write(pex::Compile(script, fileName, 0x0102030405060708));
}

std::string Failure(const std::string& bytes)
{
    pex::File file;
    std::optional<pex::ReadFailure> failure = pex::Read(bytes, file);
    return failure ? std::to_string(failure->offset) + ": " + failure->what : "";
}

}  // namespace

TEST(PexFileTest, ATinyScriptCompilesToTheBytesOfTheFormat)
{
    Lines errors;
    std::string bytes = Compiled(kTinySource, "Tiny.psc", errors);
    EXPECT_EQ(errors, Lines{});
    Offsets offsets;
    EXPECT_EQ(bytes, ExpectedTiny(offsets));

    pex::File file;
    ASSERT_EQ(Failure(bytes), "");
    pex::Read(bytes, file);
    std::ostringstream dump;
    pex::Dump(file, dump);
    EXPECT_NE(dump.str().find("\n  user flags 0x2 conditional\n"), std::string::npos) << dump.str();
    EXPECT_NE(dump.str().find("\n    Int Twice(Int n, String[] names) Global Native\n"
                              "      docstring \"Doubles n.\"\n"),
              std::string::npos);
    EXPECT_NE(dump.str().find("\n      local None ::NoneVar\n"
                              "      callmethod onEndState, self, ::NoneVar, 0\n"
                              "      assign ::State, newState\n"),
              std::string::npos);
}

TEST(PexFileTest, AScriptWithAParentGetsNoStateEvents)
{
    Lines errors;
    pex::File file;
    ASSERT_EQ(Failure(Compiled("Scriptname Child extends Quest Hidden\n", "Child.psc", errors)), "");
    pex::Read(Compiled("Scriptname Child extends Quest Hidden\n", "Child.psc", errors), file);
    EXPECT_EQ(errors, Lines{});
    ASSERT_EQ(file.objects.size(), 1u);
    EXPECT_EQ(file.objects[0].parent, "Quest");
    Lines names;
    for (const pex::Function& function : file.objects[0].states.at(0).functions)
        names.push_back(function.name);
    EXPECT_EQ(names, (Lines{"GetState", "GotoState"}));
    EXPECT_EQ(file.debugFunctions.size(), 2u);
}

// Everything but Global Native declarations, and every malformed one, is
// refused at its line (continued lines keep their own numbers).
TEST(PexFileTest, RefusalsNameTheLineAndTheFault)
{
    const std::string only = ": only Global Native functions are compiled";
    struct Case {
        const char* source;  // after "Scriptname Case\n"
        std::string error;
    };
    const Case cases[] = {
        {"Function F() Global\n  Return\nEndFunction\n", "2: function 'F' has a body" + only},
        {"bool Function F() Native\n", "2: function 'F' is not Global" + only},
        {"int Property P Auto\n", "2: a Property is refused" + only},
        {"int count = 3\n", "2: a variable is refused" + only},
        {"Event OnInit()\nEndEvent\n", "2: an Event is refused" + only},
        {"Auto State Busy\nEndState\n", "2: a State is refused" + only},
        {"Import Debug\n", "2: Import is refused" + only},
        {"EndFunction\n", "2: 'EndFunction' ends nothing"},
        {"If x\n", "2: expected a declaration, found 'If'"},
        {"int[][] Function F() Global Native\n", "2: an array of arrays is no type"},
        {"int[ Function F() Global Native\n", "2: expected ']', found 'Function'"},
        {"bool Function F(none x) Global Native\n", "2: expected a type, found 'none'"},
        {"bool Function F(int self) Global Native\n", "2: 'self' is a keyword, not a name"},
        {"bool Function F-G() Global Native\n", "2: expected '(', found '-'"},
        {"bool Function F(int a,\\\n  int) Global Native\n", "3: expected a parameter name, found ')'"},
        {"bool Function F(int a int b) Global Native\n", "2: expected ',' or ')', found 'int'"},
        {"bool Function F(int a, int A) Global Native\n", "2: parameter 'A' is declared twice"},
        {"bool Function F(int a = 1x) Global Native\n", "2: '1x' is no number"},
        {"bool Function F(int a = b) Global Native\n", "2: expected a value after '=', found 'b'"},
        {"bool Function F() Global Native DebugOnly\n", "2: expected Global or Native, found 'DebugOnly'"},
        {"bool Function F() Global Native\nint Function f() Global Native\n",
         "3: function 'f' is declared twice (first on line 2)"},
        {"string Function getstate() Global Native\n", "2: function 'getstate' is one that every script has already"},
        {"Scriptname Case\n", "2: a second Scriptname line"},
        {";/ open\n\n", "2: ';/' has no '/;'"},
        {"\n{ open\n", "3: '{' has no '}'"},
        {"bool Function F(string a = \"open) Global Native\n", "2: a string has no closing '\"'"},
    };
    for (const Case& c : cases) {
        Lines errors;
        Compiled(std::string("Scriptname Case\n") + c.source, "Case.psc", errors);
        EXPECT_EQ(errors, Lines{c.error}) << c.source;
    }

    const Case scriptLines[] = {
        {"", "1: no Scriptname line"},
        {"bool Function F() Global Native\nScriptname Case\n", "1: the script must begin with its Scriptname line"},
        {"Scriptname Other\n", "1: the script is named 'Other' but its file is 'Case.psc'"},
        {"Scriptname Case Hidden Global\n", "1: expected Hidden or Conditional, found 'Global'"},
    };
    for (const Case& c : scriptLines) {
        Lines errors;
        Compiled(c.source, "Case.psc", errors);
        EXPECT_EQ(errors, Lines{c.error}) << c.source;
    }
}

// A cut file stops the reader where the bytes run out, never past them.
TEST(PexFileTest, EveryTruncationOfAValidFileFailsCleanly)
{
    Offsets offsets;
    std::string bytes = ExpectedTiny(offsets);
    for (size_t size = 0; size < bytes.size(); ++size) {
        pex::File file;
        std::optional<pex::ReadFailure> failure = pex::Read(bytes.substr(0, size), file);
        ASSERT_TRUE(failure) << size;
        EXPECT_LE(failure->offset, size);
        EXPECT_EQ(failure->what.rfind("the file ends inside ", 0), 0u) << size << ": " << failure->what;
    }
}

TEST(PexFileTest, WhatTheReaderDoesNotKnowStopsItAtItsOffset)
{
    Offsets at;
    const std::string valid = ExpectedTiny(at);
    struct Case {
        size_t offset;
        std::string bytes;  // written over the valid file there
        std::string failure;
    };
    const Case cases[] = {
        {0, "\xFA\x57\xC0\xDF", "0: no compiled script: magic number 0xFA57C0DF"},
        {4, "\x03\x03", "4: version 3.3; only 3.2 is read"},
        {6, std::string("\x00\x02", 2), "6: game id 2; only 1 is read"},
        {at.firstOpcode, "\x2A", std::to_string(at.firstOpcode) + ": unknown opcode 0x2A"},
        {at.firstArgument, "\x07", std::to_string(at.firstArgument) + ": an argument: unknown value type 7"},
        {at.firstArgument + 1, std::string("\x01\x00", 2),
         std::to_string(at.firstArgument + 1) + ": an argument: string index 256, but the table has 25"},
        {at.objectSize, std::string("\x00\x00\x00\x05", 4),
         std::to_string(at.objectSize) + ": object size 5, but the object takes " +
             std::to_string(valid.size() - at.objectSize - 4) + " bytes after it (plus 4)"},
        {valid.size(), std::string(1, '\0'), std::to_string(valid.size()) + ": data after the last object (1 bytes)"},
    };
    for (const Case& c : cases) {
        std::string bytes = valid;
        bytes.replace(c.offset, c.bytes.size(), c.bytes);
        EXPECT_EQ(Failure(bytes), c.failure);
    }
}
