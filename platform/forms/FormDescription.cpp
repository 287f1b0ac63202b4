#include "platform/forms/FormDescription.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// Deep nesting only comes from a broken or hostile file; the program's
// forms nest four levels.
constexpr int kMaxDepth = 64;

enum class TTok { tEnd, tIdent, tInt, tFloat, tString, tSymbol };

struct TToken {
    TTok Kind = TTok::tEnd;
    std::string Text;  // identifier, string contents, number text, or the symbol
    int Line = 0;
};

class TLexer {
public:
    TLexer(const std::string& text, const std::string& fileName) : s_(text), file_(fileName) { Advance(); }

    const TToken& Peek() const { return cur_; }
    TToken Next() {
        TToken t = cur_;
        Advance();
        return t;
    }
    [[noreturn]] void Fail(int line, const std::string& what) const {
        throw EFormError(file_ + "(" + std::to_string(line) + "): " + what);
    }
    const std::string& FileName() const { return file_; }

private:
    void SkipBlanks() {
        for (;;) {
            while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n')) {
                if (s_[pos_] == '\n') ++line_;
                ++pos_;
            }
            if (pos_ + 1 < s_.size() && s_[pos_] == '/' && s_[pos_ + 1] == '/') {
                while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
                continue;
            }
            return;
        }
    }

    void Advance() {
        SkipBlanks();
        cur_ = TToken{};
        cur_.Line = line_;
        if (pos_ >= s_.size()) return;
        const char c = s_[pos_];
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t b = pos_;
            while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
            cur_.Kind = TTok::tIdent;
            cur_.Text = s_.substr(b, pos_ - b);
            return;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '$' ||
            ((c == '-' || c == '+') && pos_ + 1 < s_.size() &&
             (std::isdigit(static_cast<unsigned char>(s_[pos_ + 1])) || s_[pos_ + 1] == '$'))) {
            LexNumber();
            return;
        }
        if (c == '"') {
            LexString();
            return;
        }
        if (c == '=' || c == ':' || c == '[' || c == ']' || c == ',' || c == '<' || c == '>' || c == '+' || c == '.') {
            cur_.Kind = TTok::tSymbol;
            cur_.Text = std::string(1, c);
            ++pos_;
            return;
        }
        Fail(line_, std::string("unexpected character '") + c + "'");
    }

    void LexNumber() {
        size_t b = pos_;
        if (s_[pos_] == '-' || s_[pos_] == '+') ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '$') {
            ++pos_;
            size_t digits = pos_;
            while (pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
            if (pos_ == digits) Fail(line_, "hexadecimal digits expected after '$'");
            cur_.Kind = TTok::tInt;
            cur_.Text = s_.substr(b, pos_ - b);
            return;
        }
        while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
        cur_.Kind = TTok::tInt;
        if (pos_ + 1 < s_.size() && s_[pos_] == '.' && std::isdigit(static_cast<unsigned char>(s_[pos_ + 1]))) {
            ++pos_;
            while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
            cur_.Kind = TTok::tFloat;
        }
        cur_.Text = s_.substr(b, pos_ - b);
    }

    void LexString() {
        ++pos_;  // opening quote
        std::string out;
        for (;;) {
            if (pos_ >= s_.size() || s_[pos_] == '\n') Fail(line_, "unterminated string");
            char c = s_[pos_++];
            if (c == '"') break;
            if (c == '\\') {
                if (pos_ >= s_.size()) Fail(line_, "unterminated string");
                char e = s_[pos_++];
                switch (e) {
                    case '"': out += '"'; break;
                    case '\\': out += '\\'; break;
                    case 'n': out += '\n'; break;
                    case 't': out += '\t'; break;
                    default: Fail(line_, std::string("unknown escape '\\") + e + "'");
                }
                continue;
            }
            out += c;
        }
        cur_.Kind = TTok::tString;
        cur_.Text = std::move(out);
    }

    const std::string& s_;
    std::string file_;
    size_t pos_ = 0;
    int line_ = 1;
    TToken cur_;
};

class TParser {
public:
    TParser(const std::string& text, const std::string& fileName) : lex_(text, fileName) {}

    TFormObject ParseRoot() {
        const TToken& t = lex_.Peek();
        if (!(t.Kind == TTok::tIdent && t.Text == "object")) lex_.Fail(t.Line, "'object' expected");
        TFormObject root = ParseObject(0);
        const TToken& after = lex_.Peek();
        if (after.Kind != TTok::tEnd) lex_.Fail(after.Line, "text after the form's 'end'");
        return root;
    }

private:
    bool IsSymbol(const TToken& t, char c) const { return t.Kind == TTok::tSymbol && t.Text.size() == 1 && t.Text[0] == c; }
    bool IsWord(const TToken& t, const char* w) const { return t.Kind == TTok::tIdent && t.Text == w; }

    void Expect(char c, const char* what) {
        TToken t = lex_.Next();
        if (!IsSymbol(t, c)) lex_.Fail(t.Line, std::string(what) + " expected");
    }
    std::string ExpectIdent(const char* what) {
        TToken t = lex_.Next();
        if (t.Kind != TTok::tIdent) lex_.Fail(t.Line, std::string(what) + " expected");
        return t.Text;
    }

    TFormObject ParseObject(int depth) {
        if (depth > kMaxDepth) lex_.Fail(lex_.Peek().Line, "objects nested too deeply");
        TToken kw = lex_.Next();  // "object"
        TFormObject obj;
        obj.Line = kw.Line;
        obj.FileName = lex_.FileName();
        obj.Name = ExpectIdent("object name");
        Expect(':', "':'");
        obj.ClassName = ExpectIdent("class name");
        ParseBody(obj, depth, true);
        return obj;
    }

    // Properties and (for objects) nested objects up to "end".
    void ParseBody(TFormObject& obj, int depth, bool allowChildren) {
        for (;;) {
            const TToken& t = lex_.Peek();
            if (t.Kind == TTok::tEnd) lex_.Fail(t.Line, "'end' expected for '" + (obj.Name.empty() ? std::string("item") : obj.Name) + "'");
            if (IsWord(t, "end")) {
                lex_.Next();
                return;
            }
            if (IsWord(t, "object")) {
                if (!allowChildren) lex_.Fail(t.Line, "objects cannot be nested in a collection item");
                obj.Children.push_back(ParseObject(depth + 1));
                continue;
            }
            obj.Properties.push_back(ParseProperty(depth));
        }
    }

    TFormProperty ParseProperty(int depth) {
        TFormProperty p;
        TToken first = lex_.Next();
        if (first.Kind != TTok::tIdent) lex_.Fail(first.Line, "property name expected");
        p.Line = first.Line;
        p.Name = first.Text;
        while (IsSymbol(lex_.Peek(), '.')) {
            lex_.Next();
            p.Name += "." + ExpectIdent("property name");
        }
        Expect('=', "'='");
        p.Value = ParseValue(depth);
        return p;
    }

    TFormValue ParseValue(int depth) {
        if (depth > kMaxDepth) lex_.Fail(lex_.Peek().Line, "values nested too deeply");
        TToken t = lex_.Next();
        TFormValue v;
        v.Line = t.Line;
        v.FileName = lex_.FileName();
        switch (t.Kind) {
            case TTok::tInt: {
                v.Kind = TFormValue::vkInteger;
                v.Integer = ParseInteger(t);
                return v;
            }
            case TTok::tFloat: {
                v.Kind = TFormValue::vkFloat;
                v.Float = std::strtold(t.Text.c_str(), nullptr);
                return v;
            }
            case TTok::tString: {
                v.Kind = TFormValue::vkString;
                v.Text = t.Text;
                while (IsSymbol(lex_.Peek(), '+')) {
                    lex_.Next();
                    TToken more = lex_.Next();
                    if (more.Kind != TTok::tString) lex_.Fail(more.Line, "string expected after '+'");
                    v.Text += more.Text;
                }
                return v;
            }
            case TTok::tIdent:
                v.Kind = TFormValue::vkIdent;
                v.Text = t.Text;
                return v;
            case TTok::tSymbol:
                if (IsSymbol(t, '[')) {
                    v.Kind = TFormValue::vkList;
                    if (IsSymbol(lex_.Peek(), ']')) {
                        lex_.Next();
                        return v;
                    }
                    for (;;) {
                        v.Items.push_back(ParseValue(depth + 1));
                        TToken sep = lex_.Next();
                        if (IsSymbol(sep, ']')) return v;
                        if (!IsSymbol(sep, ',')) lex_.Fail(sep.Line, "',' or ']' expected");
                    }
                }
                if (IsSymbol(t, '<')) {
                    v.Kind = TFormValue::vkCollection;
                    for (;;) {
                        TToken n = lex_.Next();
                        if (IsSymbol(n, '>')) return v;
                        if (!IsWord(n, "item")) lex_.Fail(n.Line, "'item' or '>' expected");
                        TFormObject item;
                        item.Line = n.Line;
                        item.FileName = lex_.FileName();
                        ParseBody(item, depth + 1, false);
                        v.Entries.push_back(std::move(item));
                    }
                }
                lex_.Fail(t.Line, "value expected");
            case TTok::tEnd:
                break;
        }
        lex_.Fail(t.Line, "value expected");
    }

    int64_t ParseInteger(const TToken& t) {
        const std::string& s = t.Text;
        size_t i = 0;
        bool negative = false;
        if (s[i] == '-' || s[i] == '+') negative = s[i++] == '-';
        int base = 10;
        if (s[i] == '$') {
            base = 16;
            ++i;
        }
        errno = 0;
        char* end = nullptr;
        unsigned long long u = std::strtoull(s.c_str() + i, &end, base);
        // Keeps every value inside int64; the properties check their own ranges.
        if (errno == ERANGE || u > static_cast<unsigned long long>(INT64_MAX)) lex_.Fail(t.Line, "number out of range: " + s);
        int64_t v = static_cast<int64_t>(u);
        return negative ? -v : v;
    }

    TLexer lex_;
};

}  // namespace

void TFormValue::Fail(const std::string& message) const {
    throw EFormError(FileName + "(" + std::to_string(Line) + "): " + message);
}

int32_t TFormValue::AsInt() const {
    if (Kind != vkInteger) Fail("integer expected");
    if (Integer < INT32_MIN || Integer > INT32_MAX) {
        // Colours are written as unsigned 32-bit hex ($80000005 is a system colour).
        if (Integer > INT32_MAX && Integer <= static_cast<int64_t>(UINT32_MAX))
            return static_cast<int32_t>(static_cast<uint32_t>(Integer));
        Fail("integer out of range");
    }
    return static_cast<int32_t>(Integer);
}

long double TFormValue::AsFloat() const {
    if (Kind == vkInteger) return static_cast<long double>(Integer);
    if (Kind != vkFloat) Fail("number expected");
    return Float;
}

const std::string& TFormValue::AsString() const {
    if (Kind != vkString) Fail("string expected");
    return Text;
}

const std::string& TFormValue::AsIdent() const {
    if (Kind != vkIdent) Fail("identifier expected");
    return Text;
}

bool TFormValue::AsBool() const {
    if (Kind == vkIdent) {
        if (CompareText(Text, "True") == 0) return true;
        if (CompareText(Text, "False") == 0) return false;
    }
    Fail("True or False expected");
}

std::vector<std::string> TFormValue::AsIdentList() const {
    if (Kind != vkList) Fail("list expected");
    std::vector<std::string> out;
    for (const TFormValue& item : Items) out.push_back(item.AsIdent());
    return out;
}

std::vector<std::string> TFormValue::AsStringList() const {
    if (Kind != vkList) Fail("list of strings expected");
    std::vector<std::string> out;
    for (const TFormValue& item : Items) out.push_back(item.AsString());
    return out;
}

const TFormProperty* TFormObject::Find(const std::string& name) const {
    for (const TFormProperty& p : Properties)
        if (CompareText(p.Name, name) == 0) return &p;
    return nullptr;
}

TFormObject ParseFormDescription(const std::string& text, const std::string& fileName) {
    return TParser(text, fileName).ParseRoot();
}
