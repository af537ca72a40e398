#pragma once

// The script sources this project compiles: a Scriptname line and Global
// Native function declarations, with comments, docstrings and continued
// lines. Everything else a script may hold is reported as an error at its
// line, so that nothing is compiled into a file that says less than the source.

#include <string>
#include <vector>

namespace papyrus {

// Types as the compiled file writes them: Bool, Int, Float, String however
// the source spells them, script names as written; "[]" ends an array type.
struct Parameter {
    std::string type;
    std::string name;
};

struct Declaration {
    int line = 0;
    std::string name;
    std::string resultType;  // "None" when the function answers nothing
    std::vector<Parameter> parameters;
    std::string docstring;
};

struct Script {
    std::string name;
    std::string parent;  // empty when the script extends nothing
    bool hidden = false;
    bool conditional = false;
    std::string docstring;
    std::vector<Declaration> functions;  // in source order, Global Native all
};

struct Error {
    int line;
    std::string message;
};

// Parses the source of a script whose file is named fileName (the script's
// name must be the file's); the errors come in the order of their lines.
Script Parse(const std::string& source, const std::string& fileName, std::vector<Error>& errors);

}  // namespace papyrus
