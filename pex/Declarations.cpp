#include "pex/Declarations.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace papyrus {

namespace {

// The language is case-insensitive: keywords, types and names compare in
// lower case.
std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsWordStart(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}

bool IsWordPart(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

const std::set<std::string> kKeywords = {
    "as", "auto", "autoreadonly", "bool", "else", "elseif", "endevent", "endfunction", "endif",
    "endproperty", "endstate", "endwhile", "event", "extends", "false", "float", "function", "global",
    "if", "import", "int", "length", "native", "new", "none", "parent", "property", "return",
    "scriptname", "self", "state", "string", "true", "while"};

// The members the compiler gives every script; a declaration cannot take their names.
const std::set<std::string> kGeneratedMembers = {"getstate", "gotostate", "onbeginstate", "onendstate"};

const std::string kOnlyDeclarations = "only Global Native functions are compiled";

struct Token {
    enum Kind { kWord, kNumber, kString, kSymbol, kDocstring, kLineEnd };
    Kind kind;
    std::string text;
    int line;
};

// One logical line: its tokens, and the {...} right after it, if any.
struct Statement {
    std::vector<Token> tokens;
    bool hasDocstring = false;
    std::string docstring;
};

// The text of a {...}: without the blanks around it, each line end an LF.
std::string DocstringText(const std::string& raw)
{
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\r' || i + 1 >= raw.size() || raw[i + 1] != '\n')
            text += raw[i];
    }
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

class Lexer {
public:
    Lexer(const std::string& source, std::vector<Error>& errors) : source(source), errors(errors) {}

    std::vector<Token> Tokens()
    {
        std::vector<Token> tokens;
        while (at < source.size()) {
            char c = source[at];
            size_t start = at;
            int startLine = line;
            if (c == '\n') {
                tokens.push_back({Token::kLineEnd, "", line++});
                ++at;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++at;
            } else if (source.compare(at, 2, ";/") == 0) {
                Skip(source.find("/;", at + 2), 2, "';/' has no '/;'");
            } else if (c == ';') {
                at = std::min(source.find('\n', at), source.size());
            } else if (c == '{') {
                size_t end = source.find('}', at + 1);
                Skip(end, 1, "'{' has no '}'");
                if (end != std::string::npos)
                    tokens.push_back({Token::kDocstring, DocstringText(source.substr(start + 1, end - start - 1)),
                                      startLine});
            } else if (c == '\\' && IsLineEndFrom(at + 1)) {
                // A continued line: the next line is part of this one.
                at = std::min(source.find('\n', at), source.size());
                if (at < source.size()) {
                    ++at;
                    ++line;
                }
            } else if (c == '"') {
                for (++at; at < source.size() && source[at] != '"' && source[at] != '\n';)
                    at += source[at] == '\\' && at + 1 < source.size() && source[at + 1] != '\n' ? 2 : 1;
                if (at >= source.size() || source[at] != '"') {
                    errors.push_back({line, "a string has no closing '\"'"});
                    at = std::min(at, source.size());
                } else {
                    ++at;
                }
                tokens.push_back({Token::kString, source.substr(start, at - start), startLine});
            } else if (IsWordStart(c) || std::isdigit(static_cast<unsigned char>(c))) {
                // Numbers take their letters and points along: 0x1F, 1.5.
                bool number = !IsWordStart(c);
                while (at < source.size() && (IsWordPart(source[at]) || (number && source[at] == '.')))
                    ++at;
                tokens.push_back({number ? Token::kNumber : Token::kWord, source.substr(start, at - start), line});
            } else {
                tokens.push_back({Token::kSymbol, std::string(1, c), line});
                ++at;
            }
        }
        tokens.push_back({Token::kLineEnd, "", line});
        return tokens;
    }

private:
    const std::string& source;
    std::vector<Error>& errors;
    size_t at = 0;
    int line = 1;

    bool IsLineEndFrom(size_t from) const
    {
        size_t next = source.find_first_not_of(" \t\r", from);
        return next == std::string::npos || source[next] == '\n';
    }

    // Past a comment or docstring that ends in a closing mark of the given
    // size found at end (npos: never closed), counting its lines.
    void Skip(size_t end, size_t closeSize, const char* unclosed)
    {
        if (end == std::string::npos) {
            errors.push_back({line, unclosed});
            end = source.size();
            closeSize = 0;
        }
        line += static_cast<int>(std::count(source.begin() + at, source.begin() + end, '\n'));
        at = end + closeSize;
    }
};

// Logical lines; a {...} that follows a line, with nothing but line ends and
// comments between, is that line's docstring, any other is a comment.
std::vector<Statement> Statements(const std::vector<Token>& tokens)
{
    std::vector<Statement> statements;
    Statement current;
    bool docstringMayFollow = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind == Token::kLineEnd) {
            if (!current.tokens.empty()) {
                statements.push_back(current);
                current = Statement();
                docstringMayFollow = true;
            }
        } else if (token.kind == Token::kDocstring) {
            bool endsLine = tokens[i + 1].kind == Token::kLineEnd;
            if (!current.tokens.empty() && endsLine && !current.hasDocstring) {
                current.hasDocstring = true;
                current.docstring = token.text;
            } else if (current.tokens.empty() && docstringMayFollow && !statements.back().hasDocstring) {
                statements.back().hasDocstring = true;
                statements.back().docstring = token.text;
            }
        } else {
            current.tokens.push_back(token);
        }
    }
    return statements;
}

std::string Found(const Token* token)
{
    return token ? "'" + token->text + "'" : "the line's end";
}

class Parser {
public:
    Parser(const std::string& fileName, std::vector<Error>& errors) : fileName(fileName), errors(errors) {}

    Script Parse(const std::vector<Statement>& statements)
    {
        std::string skipTo;  // the End word that closes what is being skipped
        bool scriptnameSeen = false, lateScriptnameReported = false;
        for (const Statement& statement : statements) {
            tokens = &statement.tokens;
            at = 0;
            line = statement.tokens[0].line;
            std::string first = Lower(statement.tokens[0].text);
            std::string second = statement.tokens.size() > 1 ? Lower(statement.tokens[1].text) : "";
            if (!skipTo.empty()) {
                if (first == skipTo)
                    skipTo.clear();
                continue;
            }
            if (first == "scriptname") {
                if (scriptnameSeen)
                    Fail("a second Scriptname line");
                else
                    ParseScriptname(statement);
                scriptnameSeen = true;
                continue;
            }
            if (!scriptnameSeen && !lateScriptnameReported) {
                Fail("the script must begin with its Scriptname line");
                lateScriptnameReported = true;
            }
            if (first == "import") {
                Fail("Import is refused: " + kOnlyDeclarations);
            } else if (first == "event") {
                Fail("an Event is refused: " + kOnlyDeclarations);
                skipTo = "endevent";
            } else if (first == "state" || (first == "auto" && second == "state")) {
                Fail("a State is refused: " + kOnlyDeclarations);
                skipTo = "endstate";
            } else if (first.compare(0, 3, "end") == 0 && kKeywords.count(first)) {
                Fail(Found(&statement.tokens[0]) + " ends nothing");
            } else {
                skipTo = ParseMember(statement);
            }
        }
        if (statements.empty())
            errors.push_back({1, "no Scriptname line"});
        return script;
    }

private:
    std::string fileName;
    std::vector<Error>& errors;
    Script script;
    std::map<std::string, int> declaredOn;  // lower-case function name: its line

    // The statement being parsed.
    const std::vector<Token>* tokens = nullptr;
    size_t at = 0;
    int line = 0;

    void Fail(const std::string& message) { errors.push_back({line, message}); }

    const Token* Next() const { return at < tokens->size() ? &(*tokens)[at] : nullptr; }

    bool NextIs(const char* text) const
    {
        const Token* next = Next();
        return next && next->kind != Token::kString && Lower(next->text) == text;
    }

    bool Take(const char* text)
    {
        if (!NextIs(text))
            return false;
        ++at;
        return true;
    }

    // Reports what was expected and what stands there instead; false.
    bool Expected(const std::string& what)
    {
        if (const Token* next = Next())
            line = next->line;
        Fail("expected " + what + ", found " + Found(Next()));
        return false;
    }

    bool Name(const char* what, std::string& name)
    {
        const Token* next = Next();
        if (!next || next->kind != Token::kWord)
            return Expected(what);
        if (kKeywords.count(Lower(next->text))) {
            line = next->line;
            Fail(Found(next) + " is a keyword, not a name");
            return false;
        }
        name = next->text;
        ++at;
        return true;
    }

    bool Type(std::string& type)
    {
        static const std::map<std::string, std::string> kBuiltIn = {
            {"bool", "Bool"}, {"int", "Int"}, {"float", "Float"}, {"string", "String"}};
        const Token* next = Next();
        auto builtIn = next ? kBuiltIn.find(Lower(next->text)) : kBuiltIn.end();
        if (builtIn != kBuiltIn.end() && next->kind == Token::kWord) {
            type = builtIn->second;
            ++at;
        } else if (!next || next->kind != Token::kWord || kKeywords.count(Lower(next->text))) {
            return Expected("a type");
        } else {
            type = next->text;  // a script's name
            ++at;
        }
        if (Take("[")) {
            if (!Take("]"))
                return Expected("']'");
            if (NextIs("[")) {
                Fail("an array of arrays is no type");
                return false;
            }
            type += "[]";
        }
        return true;
    }

    // A literal: not written to the file, but it must be one.
    bool DefaultValue()
    {
        const Token* value = Next();
        if (value && value->kind == Token::kSymbol && value->text == "-") {
            ++at;
            value = Next();
            if (!value || value->kind != Token::kNumber)
                return Expected("a number after '-'");
        }
        if (value && value->kind == Token::kNumber) {
            const std::string& text = value->text;
            bool hex = text.size() > 2 && Lower(text.substr(0, 2)) == "0x" &&
                       text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
            size_t point = text.find('.');
            bool decimal = text.find_first_not_of("0123456789.") == std::string::npos &&
                           std::count(text.begin(), text.end(), '.') <= 1 && point != 0 &&
                           point != text.size() - 1;
            if (!hex && !decimal) {
                Fail(Found(value) + " is no number");
                return false;
            }
        } else if (!value || !(value->kind == Token::kString || NextIs("true") || NextIs("false") ||
                               NextIs("none"))) {
            return Expected("a value after '='");
        }
        ++at;
        return true;
    }

    void ParseScriptname(const Statement& statement)
    {
        ++at;
        if (!Name("the script's name", script.name))
            return;
        std::string stem = fileName.substr(fileName.find_last_of("/\\") + 1);
        if (Lower(stem.size() > 4 ? stem.substr(stem.size() - 4) : "") == ".psc")
            stem.resize(stem.size() - 4);
        if (Lower(stem) != Lower(script.name))
            Fail("the script is named '" + script.name + "' but its file is '" + fileName + "'");
        if (Take("extends") && !Name("the name of the script it extends", script.parent))
            return;
        for (; Next(); ++at) {
            if (NextIs("hidden"))
                script.hidden = true;
            else if (NextIs("conditional"))
                script.conditional = true;
            else
                return (void)Expected("Hidden or Conditional");
        }
        script.docstring = statement.docstring;
    }

    // A function declaration, or what the statement is if it is none.
    // Answers the End word up to which the lines that follow are skipped.
    std::string ParseMember(const Statement& statement)
    {
        std::string type = "None";
        const Token& first = (*tokens)[0];
        std::string word = Lower(first.text);
        if (first.kind != Token::kWord ||
            (kKeywords.count(word) && word != "function" && word != "bool" && word != "int" && word != "float" &&
             word != "string")) {
            Expected("a declaration");
            return "";
        }
        if (!NextIs("function")) {
            if (!Type(type))
                return "";
            if (NextIs("property")) {
                Fail("a Property is refused: " + kOnlyDeclarations);
                bool hasBody = std::none_of(tokens->begin(), tokens->end(), [](const Token& token) {
                    std::string word = Lower(token.text);
                    return word == "auto" || word == "autoreadonly";
                });
                return hasBody ? "endproperty" : "";
            }
            if (Next() && Next()->kind == Token::kWord && !NextIs("function")) {
                Fail("a variable is refused: " + kOnlyDeclarations);
                return "";
            }
            if (!NextIs("function")) {
                at = 0;
                Expected("a declaration");
                return "";
            }
        }
        ++at;
        Declaration function;
        function.line = line;
        function.resultType = type;
        function.docstring = statement.docstring;
        // Without Native a body follows, up to EndFunction, whatever else is wrong.
        bool native = std::any_of(tokens->begin(), tokens->end(),
                                  [](const Token& token) { return Lower(token.text) == "native"; });
        std::string skipTo = native ? "" : "endfunction";
        if (!Name("a function name", function.name) || !ParseParameters(function.parameters))
            return skipTo;
        bool global = false;
        for (; Next(); ++at) {
            if (NextIs("global"))
                global = true;
            else if (!NextIs("native"))
                return Expected("Global or Native"), skipTo;
        }
        std::string lower = Lower(function.name);
        if (!native)
            Fail("function '" + function.name + "' has a body: " + kOnlyDeclarations);
        else if (!global)
            Fail("function '" + function.name + "' is not Global: " + kOnlyDeclarations);
        else if (kGeneratedMembers.count(lower))
            Fail("function '" + function.name + "' is one that every script has already");
        else if (declaredOn.count(lower))
            Fail("function '" + function.name + "' is declared twice (first on line " +
                 std::to_string(declaredOn[lower]) + ")");
        else {
            declaredOn[lower] = line;
            script.functions.push_back(function);
        }
        return skipTo;
    }

    bool ParseParameters(std::vector<Parameter>& parameters)
    {
        if (!Take("("))
            return Expected("'('");
        std::set<std::string> names;
        if (Take(")"))
            return true;
        do {
            Parameter parameter;
            if (!Type(parameter.type) || !Name("a parameter name", parameter.name))
                return false;
            if (!names.insert(Lower(parameter.name)).second) {
                Fail("parameter '" + parameter.name + "' is declared twice");
                return false;
            }
            if (Take("=") && !DefaultValue())
                return false;
            parameters.push_back(parameter);
        } while (Take(","));
        return Take(")") || Expected("',' or ')'");
    }
};

}  // namespace

Script Parse(const std::string& source, const std::string& fileName, std::vector<Error>& errors)
{
    std::vector<Error> lexical, syntax;
    std::vector<Statement> statements = Statements(Lexer(source, lexical).Tokens());
    Script script = Parser(fileName, syntax).Parse(statements);
    // A line with an unclosed string or comment has no other faults worth telling.
    errors.insert(errors.end(), lexical.begin(), lexical.end());
    for (const Error& error : syntax) {
        if (std::none_of(lexical.begin(), lexical.end(), [&](const Error& other) { return other.line == error.line; }))
            errors.push_back(error);
    }
    std::stable_sort(errors.begin(), errors.end(),
                     [](const Error& a, const Error& b) { return a.line < b.line; });
    return script;
}

}  // namespace papyrus
