// The script declarations that ship with the plugin (papyrus/Linefold.psc)
// must match what the plugin registers: a script compiled against a wrong
// declaration binds to no function, or passes arguments the plugin reads as
// something else.
#include "support/TestSupport.h"

#include "plugin/NativeFunction.h"
#include "standin/StandInHost.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

using Lines = std::vector<std::string>;

namespace {

// The build copies the file beside this program; CTest runs it in that folder.
const char* const kDeclarations = "Linefold.psc";

// Papyrus is case-insensitive: keywords, types and names compare in lower case.
std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

struct Parameter {
    std::string type;  // lower case, "[]" appended for arrays
    std::string name;
};

struct FunctionHeader {
    std::string name;
    std::string resultType;  // lower case; empty when the function answers nothing
    std::vector<Parameter> parameters;
    std::set<std::string> flags;  // lower case: global, native
};

// What the test compares of a script: its header line and its function
// headers. Anything else is an error, since the file should hold nothing else.
struct Script {
    std::string name;
    std::set<std::string> flags;
    std::vector<FunctionHeader> functions;
    Lines errors;
};

// The text with every comment (';' to the line end, ';/ ... /;', '{ ... }')
// made a blank and every continued line ('\' at its end) joined to the next.
// String literals are copied as they are, so that ';' inside one stays.
std::string WithoutComments(const std::string& source)
{
    std::string text;
    for (size_t i = 0; i < source.size();) {
        char c = source[i];
        if (c == '"') {
            size_t end = i + 1;
            while (end < source.size() && source[end] != '"' && source[end] != '\n')
                end += source[end] == '\\' ? 2 : 1;
            end = std::min(end + 1, source.size());
            text += source.substr(i, end - i);
            i = end;
        } else if (source.compare(i, 2, ";/") == 0) {
            size_t end = source.find("/;", i + 2);
            i = end == std::string::npos ? source.size() : end + 2;
            text += ' ';
        } else if (c == ';') {
            i = std::min(source.find('\n', i), source.size());
        } else if (c == '{') {
            size_t end = source.find('}', i + 1);
            i = end == std::string::npos ? source.size() : end + 1;
            text += ' ';
        } else if (c == '\\' && source.find_first_not_of(" \t\r", i + 1) == source.find('\n', i)) {
            size_t lineEnd = source.find('\n', i);
            i = lineEnd == std::string::npos ? source.size() : lineEnd + 1;
            text += ' ';
        } else {
            text += c == '\r' ? ' ' : c;
            ++i;
        }
    }
    return text;
}

// Words, string literals, and every other non-blank character on its own.
Lines Tokens(const std::string& line)
{
    Lines tokens;
    for (size_t i = 0; i < line.size();) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        size_t end = i + 1;
        if (std::isspace(c)) {
            ++i;
            continue;
        }
        if (std::isalnum(c) || c == '_') {
            while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) ||
                                         line[end] == '_' || line[end] == '.'))
                ++end;
        } else if (c == '"') {
            while (end < line.size() && line[end] != '"')
                end += line[end] == '\\' ? 2 : 1;
            end = std::min(end + 1, line.size());
        }
        tokens.push_back(line.substr(i, end - i));
        i = end;
    }
    return tokens;
}

// A type at tokens[at]: a word, "[]" after it for an array.
std::string TypeAt(const Lines& tokens, size_t& at)
{
    std::string type = Lower(tokens[at++]);
    if (at + 1 < tokens.size() && tokens[at] == "[" && tokens[at + 1] == "]") {
        type += "[]";
        at += 2;
    }
    return type;
}

bool IsWord(const std::string& token)
{
    return !token.empty() && (std::isalpha(static_cast<unsigned char>(token[0])) || token[0] == '_');
}

// "[type] Function name(type name [= value], ...) flags"; false when the
// tokens are no such header.
bool ParseHeader(const Lines& tokens, FunctionHeader& header)
{
    size_t at = 0;
    if (Lower(tokens[0]) != "function")
        header.resultType = TypeAt(tokens, at);
    if (at + 3 > tokens.size() || Lower(tokens[at]) != "function" || !IsWord(tokens[at + 1]) ||
        tokens[at + 2] != "(")
        return false;
    header.name = tokens[at + 1];
    at += 3;
    while (at < tokens.size() && tokens[at] != ")") {
        if (!IsWord(tokens[at]))
            return false;
        Parameter parameter;
        parameter.type = TypeAt(tokens, at);
        if (at >= tokens.size() || !IsWord(tokens[at]))
            return false;
        parameter.name = tokens[at++];
        // A default value runs up to the next ',' or ')'.
        while (at < tokens.size() && tokens[at] != "," && tokens[at] != ")")
            ++at;
        header.parameters.push_back(parameter);
        if (at < tokens.size() && tokens[at] == ",")
            ++at;
        else if (at >= tokens.size() || tokens[at] != ")")
            return false;
    }
    if (at >= tokens.size())
        return false;
    for (++at; at < tokens.size(); ++at) {
        if (!IsWord(tokens[at]))
            return false;
        header.flags.insert(Lower(tokens[at]));
    }
    return true;
}

Script ParseScript(const std::string& source)
{
    Script script;
    std::string text = WithoutComments(source);
    bool inBody = false;
    for (size_t from = 0; from <= text.size();) {
        size_t end = std::min(text.find('\n', from), text.size());
        std::string line = text.substr(from, end - from);
        from = end + 1;
        Lines tokens = Tokens(line);
        if (tokens.empty())
            continue;
        std::string first = Lower(tokens[0]);
        if (inBody) {
            inBody = first != "endfunction";
            continue;
        }
        FunctionHeader header;
        if (first == "scriptname" && tokens.size() >= 2 && script.name.empty()) {
            script.name = tokens[1];
            for (size_t i = 2; i < tokens.size(); ++i)
                script.flags.insert(Lower(tokens[i]));
        } else if (tokens.size() >= 2 && ParseHeader(tokens, header)) {
            // A function that is not native has a body, up to EndFunction.
            inBody = header.flags.count("native") == 0;
            script.functions.push_back(header);
        } else {
            script.errors.push_back(line);
        }
    }
    return script;
}

uint32_t TypeCode(const std::string& type)
{
    static const std::map<std::string, uint32_t> codes = {
        {"string", ScriptValue::kString},
        {"int", ScriptValue::kInteger},
        {"float", ScriptValue::kFloat},
        {"bool", ScriptValue::kBool},
    };
    auto code = codes.find(type);
    return code == codes.end() ? ScriptValue::kNone : code->second;
}

std::string Describe(const FunctionHeader& header)
{
    std::string text = header.resultType.empty() ? "" : header.resultType + " ";
    text += header.name + "(";
    for (const Parameter& parameter : header.parameters)
        text += (&parameter == &header.parameters[0] ? "" : ", ") + parameter.type + " " + parameter.name;
    text += ")";
    for (const std::string& flag : header.flags)
        text += " " + flag;
    return text;
}

}  // namespace

TEST(PapyrusParserTest, ReadsHeadersThroughCommentsContinuationsAndAnyCase)
{
    Script script = ParseScript(
        "ScriptName Sample HIDDEN\r\n"
        "{ Documentation: bool Function Hidden1() Global Native\r\n"
        "  over two lines }\r\n"
        "; int Function Hidden2() Global Native\r\n"
        ";/ string Function Hidden3()\n"
        "   Global Native /;\n"
        "BOOL FUNCTION First(STRING path, int[] counts) GLOBAL NATIVE ; trailing\n"
        "string function Second(string a = \"x;y\", \\\n"
        "    float b = -1.5) global native { trailing }\n"
        "Function Third() Global\n"
        "    Debug.Trace(\"in a body ; still\")\n"
        "EndFunction\n"
        "int Function Fourth(bool flag) Native Global \\ ");
    EXPECT_EQ(script.errors, Lines{});
    EXPECT_EQ(script.name, "Sample");
    EXPECT_EQ(script.flags, std::set<std::string>{"hidden"});
    Lines described;
    for (const FunctionHeader& header : script.functions)
        described.push_back(Describe(header));
    EXPECT_EQ(described, (Lines{"bool First(string path, int[] counts) global native",
                                "string Second(string a, float b) global native",
                                "Third() global",
                                "int Fourth(bool flag) global native"}));
}

TEST(PapyrusParserTest, ReportsWhatIsNoFunctionHeader)
{
    Script script = ParseScript(
        "Scriptname Sample\n"
        "bool Function Unclosed(string path Global Native\n"
        "bool Function NoName(string) Global Native\n"
        "int count = 3\n"
        "bool Function Fine() Global Native\n");
    EXPECT_EQ(script.errors.size(), 3u) << ::testing::PrintToString(script.errors);
    ASSERT_EQ(script.functions.size(), 1u);
    EXPECT_EQ(script.functions[0].name, "Fine");
}

TEST(PapyrusDeclarationsTest, LinefoldPscDeclaresExactlyWhatThePluginRegisters)
{
    std::string source = lftest::ReadBytes(kDeclarations);
    ASSERT_FALSE(source.empty()) << kDeclarations << " is missing beside the test program";
    Script script = ParseScript(source);
    EXPECT_EQ(script.errors, Lines{});

    standin::Host host;
    PluginInfoRecord info{};
    ASSERT_TRUE(host.Query(info));
    ASSERT_TRUE(host.Load());
    ASSERT_TRUE(host.Register());
    ASSERT_FALSE(host.Registered().empty());

    std::map<std::string, NativeFunction*> registered;
    for (IFunction* function : host.Registered()) {
        auto* object = static_cast<NativeFunction*>(function);
        registered[Lower(standin::Host::NameOf(function))] = object;
        EXPECT_EQ(Lower(script.name), Lower(TextOf(object->handle2))) << "the script's class";
    }
    EXPECT_TRUE(script.flags.count("hidden")) << "the script holds no object, only functions";

    std::set<std::string> declaredNames;
    for (const FunctionHeader& header : script.functions) {
        SCOPED_TRACE(Describe(header));
        EXPECT_TRUE(declaredNames.insert(Lower(header.name)).second) << "declared twice";
        EXPECT_EQ(header.flags, (std::set<std::string>{"global", "native"}));
        auto found = registered.find(Lower(header.name));
        if (found == registered.end()) {
            ADD_FAILURE() << "the plugin registers no such function";
            continue;
        }
        const NativeFunction& object = *found->second;
        EXPECT_EQ(TypeCode(header.resultType), object.resultType) << "result type";
        ASSERT_EQ(header.parameters.size(), object.hostCount) << "parameter count";
        for (size_t i = 0; i < header.parameters.size(); ++i) {
            EXPECT_EQ(TypeCode(header.parameters[i].type), object.parameterTable[i].typeCode)
                << "type of parameter " << header.parameters[i].name;
        }
    }
    for (const auto& entry : registered)
        EXPECT_TRUE(declaredNames.count(entry.first)) << entry.first << " is registered but not declared";
}
