#include "rcparse.h"

#include <cctype>
#include <cstdio>
#include <sstream>

namespace rc {
namespace {

// The Windows constants a script of ours may name (the script includes <windows.h> for the
// resource compiler; here that header is not read).
const std::map<std::string, int64_t>& windowsConstants() {
    static const std::map<std::string, int64_t> constants = {
        {"WS_OVERLAPPED", 0x00000000}, {"WS_POPUP", 0x80000000},    {"WS_CHILD", 0x40000000},
        {"WS_VISIBLE", 0x10000000},    {"WS_DISABLED", 0x08000000}, {"WS_CAPTION", 0x00C00000},
        {"WS_BORDER", 0x00800000},     {"WS_DLGFRAME", 0x00400000}, {"WS_VSCROLL", 0x00200000},
        {"WS_HSCROLL", 0x00100000},    {"WS_SYSMENU", 0x00080000},  {"WS_THICKFRAME", 0x00040000},
        {"WS_GROUP", 0x00020000},      {"WS_TABSTOP", 0x00010000},  {"WS_EX_LEFT", 0},
        {"DS_SETFONT", 0x40},          {"DS_MODALFRAME", 0x80},     {"DS_FIXEDSYS", 0x08},
        {"DS_SHELLFONT", 0x48},        {"DS_CENTER", 0x0800},       {"ES_LEFT", 0},
        {"ES_CENTER", 1},              {"ES_RIGHT", 2},             {"ES_AUTOHSCROLL", 0x80},
        {"ES_NUMBER", 0x2000},         {"SS_LEFT", 0},              {"SS_CENTER", 1},
        {"SS_RIGHT", 2},               {"BS_PUSHBUTTON", 0},        {"BS_DEFPUSHBUTTON", 1},
        {"IDOK", 1},                   {"IDCANCEL", 2},             {"IDC_STATIC", -1},
    };
    return constants;
}

constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_VISIBLE = 0x10000000;
constexpr uint32_t WS_BORDER = 0x00800000;
constexpr uint32_t WS_GROUP = 0x00020000;
constexpr uint32_t WS_TABSTOP = 0x00010000;

struct Token {
    enum Kind { End, Word, Number, String, Punct } kind = End;
    std::string text;
    int64_t value = 0;
    int line = 0;
};

class Lexer {
public:
    Lexer(const std::string& text, std::map<std::string, int64_t>& defines, const IncludeReader& readInclude)
        : text_(text), defines_(defines), readInclude_(readInclude) {}

    Token next() {
        skipSpaceAndDirectives();
        Token token;
        token.line = line_;
        if (pos_ >= text_.size()) return token;
        char c = text_[pos_];
        if (c == '"') return readString(token);
        if (std::isdigit(static_cast<unsigned char>(c))) return readNumber(token);
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            token.kind = Token::Word;
            while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
                token.text += text_[pos_++];
            }
            return token;
        }
        token.kind = Token::Punct;
        token.text = std::string(1, c);
        ++pos_;
        return token;
    }

    [[noreturn]] void fail(int line, const std::string& what) const {
        throw Error("line " + std::to_string(line) + ": " + what);
    }

private:
    void skipSpaceAndDirectives() {
        bool lineStart = pos_ == 0 || text_[pos_ - 1] == '\n';
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
                lineStart = true;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (text_.compare(pos_, 2, "//") == 0) {
                pos_ = text_.find('\n', pos_);
                if (pos_ == std::string::npos) pos_ = text_.size();
            } else if (text_.compare(pos_, 2, "/*") == 0) {
                std::size_t end = text_.find("*/", pos_ + 2);
                if (end == std::string::npos) fail(line_, "unterminated comment");
                for (std::size_t k = pos_; k < end; ++k) line_ += text_[k] == '\n';
                pos_ = end + 2;
            } else if (c == '#' && lineStart) {
                std::size_t end = text_.find('\n', pos_);
                if (end == std::string::npos) end = text_.size();
                directive(text_.substr(pos_ + 1, end - pos_ - 1));
                pos_ = end;
            } else {
                return;
            }
        }
    }

    void directive(const std::string& body) {
        std::istringstream in(body);
        std::string name;
        in >> name;
        if (name == "define") {
            std::string symbol, value;
            in >> symbol;
            std::getline(in, value);
            defines_[symbol] = evaluateDefine(value);
        } else if (name == "include") {
            std::string target;
            in >> target;
            // System headers are the resource compiler's business; only our own are read.
            if (target.size() >= 2 && target.front() == '"' && target.back() == '"') {
                std::string included = readInclude_(target.substr(1, target.size() - 2));
                Lexer inner(included, defines_, readInclude_);
                if (inner.next().kind != Token::End) fail(line_, "an included header may only hold directives");
            }
        } else if (name == "pragma") {
            std::string rest;
            std::getline(in, rest);
            if (rest.find("code_page") != std::string::npos && rest.find("65001") == std::string::npos) {
                fail(line_, "only code page 65001 (UTF-8) is read");
            }
        } else if (name == "ifndef" || name == "ifdef" || name == "endif" || name == "if" || name == "else") {
            // The headers we read guard only against double definition: every branch applies.
        } else {
            fail(line_, "unknown directive #" + name);
        }
    }

    int64_t evaluateDefine(const std::string& value) {
        std::string expression;
        for (char c : value) {
            if (c != '(' && c != ')' && !std::isspace(static_cast<unsigned char>(c))) expression += c;
        }
        bool negative = !expression.empty() && expression[0] == '-';
        if (negative) expression.erase(0, 1);
        if (expression.empty()) fail(line_, "#define without a value");
        int64_t result;
        if (std::isdigit(static_cast<unsigned char>(expression[0]))) {
            std::size_t used = 0;
            result = static_cast<int64_t>(std::stoll(expression, &used, 0));
            if (used != expression.size() && expression.substr(used) != "L") fail(line_, "bad number " + value);
        } else {
            auto found = defines_.find(expression);
            if (found == defines_.end()) fail(line_, "unknown name " + expression);
            result = found->second;
        }
        return negative ? -result : result;
    }

    Token readString(Token& token) {
        token.kind = Token::String;
        ++pos_;
        for (;;) {
            if (pos_ >= text_.size() || text_[pos_] == '\n') fail(token.line, "unterminated string");
            char c = text_[pos_++];
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {
                    token.text += '"';
                    ++pos_;
                    continue;
                }
                return token;
            }
            if (c == '\\' && pos_ < text_.size()) {
                char e = text_[pos_++];
                switch (e) {
                case 'n': token.text += '\n'; break;
                case 't': token.text += '\t'; break;
                case 'a': token.text += '\b'; break;
                case '\\': token.text += '\\'; break;
                case '"': token.text += '"'; break;
                default: fail(token.line, std::string("unknown escape \\") + e);
                }
                continue;
            }
            token.text += c;
        }
    }

    Token readNumber(Token& token) {
        token.kind = Token::Number;
        std::size_t start = pos_;
        while (pos_ < text_.size() && std::isalnum(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        token.text = text_.substr(start, pos_ - start);
        std::string digits = token.text;
        if (!digits.empty() && (digits.back() == 'L' || digits.back() == 'l')) digits.pop_back();
        std::size_t used = 0;
        try {
            token.value = static_cast<int64_t>(std::stoull(digits, &used, 0));
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != digits.size()) fail(token.line, "bad number " + token.text);
        return token;
    }

    const std::string& text_;
    std::map<std::string, int64_t>& defines_;
    const IncludeReader& readInclude_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

class Parser {
public:
    Parser(const std::string& text, const IncludeReader& readInclude) : lexer_(text, defines_, readInclude) {
        advance();
    }

    Script run() {
        Script script;
        while (current_.kind != Token::End) {
            int id = static_cast<int>(value());
            std::string kind = word();
            if (kind == "MENU") {
                script.menus.push_back(menu(id));
            } else if (kind == "DIALOGEX") {
                script.dialogs.push_back(dialog(id));
            } else {
                lexer_.fail(previous_.line, "unsupported resource type " + kind);
            }
        }
        return script;
    }

private:
    void advance() {
        previous_ = current_;
        current_ = lexer_.next();
    }

    bool at(const char* text) const {
        return (current_.kind == Token::Word || current_.kind == Token::Punct) && current_.text == text;
    }

    void expect(const char* text) {
        if (!at(text)) lexer_.fail(current_.line, std::string("expected ") + text + ", found '" + current_.text + "'");
        advance();
    }

    bool accept(const char* text) {
        if (!at(text)) return false;
        advance();
        return true;
    }

    std::string word() {
        if (current_.kind != Token::Word) lexer_.fail(current_.line, "expected a keyword, found '" + current_.text + "'");
        advance();
        return previous_.text;
    }

    std::string string() {
        if (current_.kind != Token::String) lexer_.fail(current_.line, "expected a string, found '" + current_.text + "'");
        advance();
        return previous_.text;
    }

    int64_t term() {
        if (accept("-")) return -term();
        if (accept("(")) {
            int64_t inner = value();
            expect(")");
            return inner;
        }
        if (current_.kind == Token::Number) {
            advance();
            return previous_.value;
        }
        if (current_.kind == Token::Word) {
            auto found = defines_.find(current_.text);
            if (found == defines_.end()) {
                auto known = windowsConstants().find(current_.text);
                if (known == windowsConstants().end()) lexer_.fail(current_.line, "unknown name " + current_.text);
                found = defines_.emplace(current_.text, known->second).first;
            }
            advance();
            return found->second;
        }
        lexer_.fail(current_.line, "expected a number, found '" + current_.text + "'");
    }

    // Terms joined by '|', the only operator our scripts use.
    int64_t value() {
        int64_t result = term();
        while (accept("|")) result |= term();
        return result;
    }

    int integer() {
        int64_t v = value();
        if (v < INT32_MIN || v > INT32_MAX) lexer_.fail(previous_.line, "number out of range");
        return static_cast<int>(v);
    }

    uint32_t style() { return static_cast<uint32_t>(value()); }

    void block(const std::function<void()>& entry) {
        if (!accept("BEGIN")) expect("{");
        while (!at("END") && !at("}")) {
            if (current_.kind == Token::End) lexer_.fail(current_.line, "missing END");
            entry();
        }
        advance();
    }

    Menu menu(int id) {
        Menu result;
        result.id = id;
        menuBody(result.entries);
        return result;
    }

    void menuBody(std::vector<MenuEntry>& entries) {
        block([&] {
            std::string kind = word();
            if (kind == "POPUP") {
                entries.push_back({MenuEntry::PopupBegin, string(), 0});
                menuBody(entries);
                entries.push_back({MenuEntry::PopupEnd, "", 0});
            } else if (kind == "MENUITEM") {
                if (accept("SEPARATOR")) {
                    entries.push_back({MenuEntry::Separator, "", 0});
                    return;
                }
                std::string text = string();
                expect(",");
                entries.push_back({MenuEntry::Item, text, integer()});
            } else {
                lexer_.fail(previous_.line, "unsupported menu statement " + kind);
            }
        });
    }

    Dialog dialog(int id) {
        Dialog d;
        d.id = id;
        d.x = integer();
        expect(",");
        d.y = integer();
        expect(",");
        d.width = integer();
        expect(",");
        d.height = integer();
        for (;;) {
            if (accept("STYLE")) {
                d.style = style();
            } else if (accept("EXSTYLE")) {
                d.exStyle = style();
            } else if (accept("CAPTION")) {
                d.caption = string();
            } else if (accept("FONT")) {
                d.pointSize = integer();
                expect(",");
                d.fontName = string();
                if (accept(",")) d.weight = integer();
                if (accept(",")) d.italic = integer() != 0;
                if (accept(",")) d.charset = integer();
            } else {
                break;
            }
        }
        block([&] { d.controls.push_back(control()); });
        return d;
    }

    // The statements and the style bits each adds by itself to WS_CHILD | WS_VISIBLE.
    Control control() {
        std::string kind = word();
        Control c;
        uint32_t defaults = 0;
        bool hasText = true;
        if (kind == "DEFPUSHBUTTON" || kind == "PUSHBUTTON") {
            c.className = "BUTTON";
            defaults = WS_TABSTOP | (kind == "DEFPUSHBUTTON" ? 1u : 0u);
        } else if (kind == "LTEXT" || kind == "CTEXT" || kind == "RTEXT") {
            c.className = "STATIC";
            defaults = WS_GROUP | (kind == "CTEXT" ? 1u : kind == "RTEXT" ? 2u : 0u);
        } else if (kind == "EDITTEXT") {
            c.className = "EDIT";
            defaults = WS_BORDER | WS_TABSTOP;
            hasText = false;
        } else if (kind == "CONTROL") {
            c.text = string();
            expect(",");
            c.id = integer();
            expect(",");
            c.className = string();
            expect(",");
            c.style = style() | WS_CHILD | WS_VISIBLE;
            expect(",");
            geometry(c);
            if (accept(",")) c.exStyle = style();
            return c;
        } else {
            lexer_.fail(previous_.line, "unsupported control statement " + kind);
        }
        if (hasText) {
            c.text = string();
            expect(",");
        }
        c.id = integer();
        expect(",");
        geometry(c);
        c.style = WS_CHILD | WS_VISIBLE | defaults;
        if (accept(",")) c.style |= style();
        if (accept(",")) c.exStyle = style();
        return c;
    }

    void geometry(Control& c) {
        c.x = integer();
        expect(",");
        c.y = integer();
        expect(",");
        c.width = integer();
        expect(",");
        c.height = integer();
    }

    std::map<std::string, int64_t> defines_;
    Lexer lexer_;
    Token current_;
    Token previous_;
};

// Octal escapes for everything outside printable ASCII: they end after three digits, so a
// following character can never join them the way it joins a hex escape.
std::string literal(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03o", c);
            out += escape;
        }
    }
    return out + "\"";
}

const char* menuKind(MenuEntry::Kind kind) {
    switch (kind) {
    case MenuEntry::Item: return "Item";
    case MenuEntry::Separator: return "Separator";
    case MenuEntry::PopupBegin: return "PopupBegin";
    case MenuEntry::PopupEnd: return "PopupEnd";
    }
    return "Item";
}

}  // namespace

Script parseScript(const std::string& text, const IncludeReader& readInclude) {
    return Parser(text, readInclude).run();
}

std::string emitTables(const Script& script) {
    std::ostringstream out;
    out << "// Made by rc2tables from the resource script; edit the script, not this file.\n"
           "#include \"resources.h\"\n\nnamespace port {\nnamespace {\n";
    for (std::size_t m = 0; m < script.menus.size(); ++m) {
        out << "const MenuEntry menu" << m << "[] = {\n";
        for (const MenuEntry& e : script.menus[m].entries) {
            out << "    {MenuEntryKind::" << menuKind(e.kind) << ", " << literal(e.text) << ", " << e.id << "},\n";
        }
        out << "};\n";
    }
    for (std::size_t d = 0; d < script.dialogs.size(); ++d) {
        out << "const DialogControl dialog" << d << "Controls[] = {\n";
        for (const Control& c : script.dialogs[d].controls) {
            out << "    {" << literal(c.className) << ", " << literal(c.text) << ", " << c.id << ", " << c.x << ", "
                << c.y << ", " << c.width << ", " << c.height << ", 0x" << std::hex << c.style << "u, 0x"
                << c.exStyle << std::dec << "u},\n";
        }
        out << "};\n";
    }
    out << "const MenuResource menus[] = {\n";
    for (std::size_t m = 0; m < script.menus.size(); ++m) {
        out << "    {" << script.menus[m].id << ", menu" << m << ", " << script.menus[m].entries.size() << "},\n";
    }
    if (script.menus.empty()) out << "    {0, nullptr, 0},\n";
    out << "};\nconst DialogResource dialogs[] = {\n";
    for (std::size_t k = 0; k < script.dialogs.size(); ++k) {
        const Dialog& d = script.dialogs[k];
        out << "    {" << d.id << ", 0x" << std::hex << d.style << "u, 0x" << d.exStyle << std::dec << "u, " << d.x << ", "
            << d.y << ", " << d.width << ", " << d.height << ", " << literal(d.caption) << ", " << literal(d.fontName)
            << ", " << d.pointSize << ", " << d.weight << ", " << (d.italic ? "true" : "false") << ", " << d.charset
            << ", dialog" << k << "Controls, " << d.controls.size() << "},\n";
    }
    if (script.dialogs.empty()) out << "    {0, 0, 0, 0, 0, 0, 0, \"\", \"\", 0, 0, false, 0, nullptr, 0},\n";
    out << "};\n}  // namespace\n\nconst ResourceTables resourceTables = {menus, " << script.menus.size()
        << ", dialogs, " << script.dialogs.size() << "};\n\n}  // namespace port\n";
    return out.str();
}

}  // namespace rc
