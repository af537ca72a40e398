// The script declarations that ship with the plugin (papyrus/Linefold.psc)
// and the compiled script the build makes of them must match what the plugin
// registers: a script compiled against a wrong declaration binds to no
// function, or passes arguments the plugin reads as something else.
#include "support/TestSupport.h"

#include "pex/Compiler.h"
#include "plugin/NativeFunction.h"
#include "standin/StandInHost.h"

#include <cctype>
#include <map>
#include <set>

using Lines = std::vector<std::string>;
using papyrus::Declaration;

namespace {

// The build copies the file beside this program; CTest runs it in that folder.
const char* const kDeclarations = "Linefold.psc";

// Papyrus is case-insensitive: names compare in lower case.
std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

uint32_t TypeCode(const std::string& type)
{
    static const std::map<std::string, uint32_t> codes = {
        {"String", ScriptValue::kString},
        {"Int", ScriptValue::kInteger},
        {"Float", ScriptValue::kFloat},
        {"Bool", ScriptValue::kBool},
    };
    auto code = codes.find(type);
    return code == codes.end() ? ScriptValue::kNone : code->second;
}

std::string Describe(const Declaration& header)
{
    std::string text = header.resultType + " " + header.name + "(";
    for (const papyrus::Parameter& parameter : header.parameters)
        text += (&parameter == &header.parameters[0] ? "" : ", ") + parameter.type + " " + parameter.name;
    return text + ")";
}

Lines Described(const std::vector<Declaration>& functions)
{
    Lines described;
    for (const Declaration& header : functions)
        described.push_back(Describe(header));
    return described;
}

Lines Messages(const std::vector<papyrus::Error>& errors)
{
    Lines messages;
    for (const papyrus::Error& error : errors)
        messages.push_back(std::to_string(error.line) + ": " + error.message);
    return messages;
}

// The Global Native functions of a compiled script, as declarations.
std::vector<Declaration> Declared(const pex::Object& object)
{
    std::vector<Declaration> functions;
    for (const pex::State& state : object.states) {
        for (const pex::Function& function : state.functions) {
            if (function.flags != (pex::kGlobal | pex::kNative))
                continue;
            Declaration header;
            header.name = function.name;
            header.resultType = function.returnType;
            for (const pex::Variable& parameter : function.parameters)
                header.parameters.push_back({parameter.type, parameter.name});
            functions.push_back(header);
        }
    }
    return functions;
}

}  // namespace

TEST(PapyrusParserTest, ReadsHeadersThroughCommentsContinuationsAndAnyCase)
{
    std::vector<papyrus::Error> errors;
    papyrus::Script script = papyrus::Parse(
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
        "{ a comment, since a body stands between it and its function }\n"
        "int Function Fourth(bool flag, Sample[] others = None) Native Global \\ ",
        "Sample.psc", errors);
    // A body is refused, and skipped whole.
    EXPECT_EQ(Messages(errors), Lines{"10: function 'Third' has a body: only Global Native functions are compiled"});
    EXPECT_EQ(script.name, "Sample");
    EXPECT_TRUE(script.hidden);
    EXPECT_FALSE(script.conditional);
    EXPECT_EQ(script.docstring, "Documentation: bool Function Hidden1() Global Native\n  over two lines");
    EXPECT_EQ(Described(script.functions), (Lines{"Bool First(String path, Int[] counts)",
                                                  "String Second(String a, Float b)",
                                                  "Int Fourth(Bool flag, Sample[] others)"}));
    ASSERT_EQ(script.functions.size(), 3u);
    EXPECT_EQ(script.functions[1].docstring, "trailing");
    EXPECT_EQ(script.functions[2].docstring, "");
    EXPECT_EQ(script.functions[2].line, 14);
}

TEST(PapyrusParserTest, ReportsWhatIsNoFunctionHeader)
{
    std::vector<papyrus::Error> errors;
    papyrus::Script script = papyrus::Parse(
        "Scriptname Sample\n"
        "bool Function Unclosed(string path Global Native\n"
        "bool Function NoName(string) Global Native\n"
        "int count = 3\n"
        "bool Function Fine() Global Native\n", "Sample.psc", errors);
    EXPECT_EQ(errors.size(), 3u) << ::testing::PrintToString(Messages(errors));
    ASSERT_EQ(script.functions.size(), 1u);
    EXPECT_EQ(script.functions[0].name, "Fine");
}

// The source, the compiled script made of it and the plugin's registration
// name the same functions with the same types.
TEST(PapyrusDeclarationsTest, LinefoldPscAndItsCompiledScriptDeclareExactlyWhatThePluginRegisters)
{
    std::string source = lftest::ReadBytes(kDeclarations);
    ASSERT_FALSE(source.empty()) << kDeclarations << " is missing beside the test program";
    std::vector<papyrus::Error> errors;
    papyrus::Script script = papyrus::Parse(source, kDeclarations, errors);
    EXPECT_EQ(Messages(errors), Lines{});

    pex::File compiled;
    std::optional<pex::ReadFailure> failure =
        pex::Read(pex::Write(pex::Compile(script, kDeclarations, 0)), compiled);
    ASSERT_FALSE(failure) << failure->offset << ": " << failure->what;
    ASSERT_EQ(compiled.objects.size(), 1u);
    const pex::Object& object = compiled.objects[0];
    EXPECT_EQ(object.userFlags, pex::kHiddenFlag) << "the script holds no object, only functions";
    std::vector<Declaration> functions = Declared(object);
    EXPECT_EQ(Described(functions), Described(script.functions));

    standin::Host host;
    PluginInfoRecord info{};
    ASSERT_TRUE(host.Query(info));
    ASSERT_TRUE(host.Load());
    ASSERT_TRUE(host.Register());
    ASSERT_FALSE(host.Registered().empty());

    std::map<std::string, NativeFunction*> registered;
    for (IFunction* function : host.Registered()) {
        auto* binding = static_cast<NativeFunction*>(function);
        registered[Lower(standin::Host::NameOf(function))] = binding;
        EXPECT_EQ(Lower(object.name), Lower(TextOf(binding->handle2))) << "the script's class";
    }

    std::set<std::string> declaredNames;
    for (const Declaration& header : functions) {
        SCOPED_TRACE(Describe(header));
        EXPECT_TRUE(declaredNames.insert(Lower(header.name)).second) << "declared twice";
        auto found = registered.find(Lower(header.name));
        if (found == registered.end()) {
            ADD_FAILURE() << "the plugin registers no such function";
            continue;
        }
        const NativeFunction& binding = *found->second;
        EXPECT_EQ(TypeCode(header.resultType), binding.resultType) << "result type";
        ASSERT_EQ(header.parameters.size(), binding.hostCount) << "parameter count";
        for (size_t i = 0; i < header.parameters.size(); ++i) {
            EXPECT_EQ(TypeCode(header.parameters[i].type), binding.parameterTable[i].typeCode)
                << "type of parameter " << header.parameters[i].name;
        }
    }
    for (const auto& entry : registered)
        EXPECT_TRUE(declaredNames.count(entry.first)) << entry.first << " is registered but not declared";
}
