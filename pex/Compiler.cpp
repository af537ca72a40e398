#include "pex/Compiler.h"

namespace pex {

const char* const kUserName = "linefold-pex";
const char* const kMachineName = "linefold-pex";

namespace {

Function Member(const char* returnType, const char* name, const char* docstring)
{
    Function function;
    function.returnType = returnType;
    function.name = name;
    function.docstring = docstring;
    return function;
}

Instruction CallOnSelf(const char* method)
{
    return {kCallMethod,
            {Value::Identifier(method), Value::Identifier("self"), Value::Identifier("::NoneVar"), Value::Integer(0)}};
}

}  // namespace

File Compile(const papyrus::Script& script, const std::string& sourceName, uint64_t time)
{
    State state;  // the default state, ""
    for (const papyrus::Declaration& declaration : script.functions) {
        Function function;
        function.name = declaration.name;
        function.returnType = declaration.resultType;
        function.docstring = declaration.docstring;
        function.flags = kGlobal | kNative;
        for (const papyrus::Parameter& parameter : declaration.parameters)
            function.parameters.push_back({parameter.name, parameter.type});
        state.functions.push_back(function);
    }

    Function getState = Member("String", "GetState", "Function that returns the current state");
    getState.instructions.push_back({kReturn, {Value::Identifier("::State")}});
    state.functions.push_back(getState);

    Function gotoState = Member("None", "GotoState", "Function that switches this object to the specified state");
    gotoState.parameters.push_back({"newState", "String"});
    gotoState.locals.push_back({"::NoneVar", "None"});
    gotoState.instructions.push_back(CallOnSelf("onEndState"));
    gotoState.instructions.push_back({kAssign, {Value::Identifier("::State"), Value::Identifier("newState")}});
    gotoState.instructions.push_back(CallOnSelf("onBeginState"));
    state.functions.push_back(gotoState);

    // A parent has these events already.
    if (script.parent.empty()) {
        state.functions.push_back(Member("None", "onEndState", "Event received when this state is switched away from"));
        state.functions.push_back(Member("None", "onBeginState", "Event received when this state is switched to"));
    }

    Object object;
    object.name = script.name;
    object.parent = script.parent;
    object.docstring = script.docstring;
    object.userFlags = (script.hidden ? kHiddenFlag : 0) | (script.conditional ? kConditionalFlag : 0);
    object.states.push_back(state);

    File file;
    file.compiledAt = time;
    file.sourceName = sourceName;
    file.userName = kUserName;
    file.machineName = kMachineName;
    file.hasDebugInfo = true;
    file.sourceModifiedAt = time;
    // One entry a function; the generated instructions stand on no line of
    // the source, so their lines are 0.
    for (const Function& function : state.functions)
        file.debugFunctions.push_back({object.name, state.name, function.name, 0,
                                       std::vector<uint16_t>(function.instructions.size(), 0)});
    file.userFlags = {{"conditional", 1}, {"hidden", 0}};
    file.objects.push_back(object);
    return file;
}

}  // namespace pex
