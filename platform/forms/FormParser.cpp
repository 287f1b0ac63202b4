#include "FormParser.h"

#include <cctype>
#include <limits>

#include "platform/core/SysUtils.h"

void FormError(const std::string& fileName, int line, const std::string& what) {
    throw Exception(fileName + ":" + std::to_string(line) + ": " + what);
}

namespace {

class TParser {
public:
    TParser(const std::string& text, const std::string& fileName) : s_(text), file_(fileName) {}

    std::unique_ptr<TFormObject> Run() {
        SkipBlank();
        if (AtEnd()) Fail("empty form description");
        std::string word = Word();
        if (word != "object") Fail("expected \"object\", found \"" + word + "\"");
        auto root = Object();
        SkipBlank();
        if (!AtEnd()) Fail("text after the form's final \"end\"");
        return root;
    }

private:
    [[noreturn]] void Fail(const std::string& what) { FormError(file_, line_, what); }
    bool AtEnd() const { return pos_ >= s_.size(); }
    char Peek() const { return AtEnd() ? '\0' : s_[pos_]; }

    // Spaces and tabs only; comments run to the end of the line.
    void SkipSpaces() {
        while (!AtEnd()) {
            char c = s_[pos_];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '/') {
                while (!AtEnd() && s_[pos_] != '\n') ++pos_;
            } else {
                break;
            }
        }
    }
    void SkipBlank() {
        for (;;) {
            SkipSpaces();
            if (Peek() == '\n') {
                ++pos_;
                ++line_;
            } else {
                return;
            }
        }
    }
    void EndOfLine() {
        SkipSpaces();
        if (AtEnd()) return;
        if (Peek() != '\n') Fail(std::string("unexpected \"") + Peek() + "\" at the end of the line");
    }

    static bool IsWordChar(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
    }
    std::string Word() {
        SkipSpaces();
        size_t start = pos_;
        while (!AtEnd() && IsWordChar(s_[pos_])) ++pos_;
        if (start == pos_) {
            if (AtEnd()) Fail("unexpected end of the description");
            Fail(std::string("expected a name, found \"") + Peek() + "\"");
        }
        return s_.substr(start, pos_ - start);
    }
    static bool IsIdentifier(const std::string& w) {
        if (w.empty() || !(std::isalpha(static_cast<unsigned char>(w[0])) || w[0] == '_')) return false;
        for (char c : w)
            if (!IsWordChar(c)) return false;
        return true;
    }

    std::unique_ptr<TFormObject> Object() {
        auto obj = std::make_unique<TFormObject>();
        obj->line = line_;
        obj->name = Word();
        if (!IsIdentifier(obj->name) || obj->name.find('.') != std::string::npos)
            Fail("bad object name \"" + obj->name + "\"");
        SkipSpaces();
        if (Peek() != ':') Fail("expected \":\" after the object name \"" + obj->name + "\"");
        ++pos_;
        obj->className = Word();
        EndOfLine();
        for (;;) {
            SkipBlank();
            if (AtEnd()) Fail("missing \"end\" of object \"" + obj->name + "\" (opened on line " +
                              std::to_string(obj->line) + ")");
            std::string word = Word();
            if (word == "end") {
                EndOfLine();
                return obj;
            }
            if (word == "object") {
                obj->children.push_back(Object());
            } else if (word == "item") {
                obj->items.push_back(Item());
            } else {
                obj->properties.push_back(Property(word));
            }
        }
    }

    TFormItem Item() {
        TFormItem item;
        item.line = line_;
        EndOfLine();
        for (;;) {
            SkipBlank();
            if (AtEnd()) Fail("missing \"end\" of the item opened on line " + std::to_string(item.line));
            std::string word = Word();
            if (word == "end") {
                EndOfLine();
                return item;
            }
            if (word == "object" || word == "item") Fail("\"" + word + "\" inside an item");
            item.properties.push_back(Property(word));
        }
    }

    TFormProperty Property(const std::string& name) {
        TFormProperty p;
        p.line = line_;
        p.name = name;
        if (!IsIdentifier(name)) Fail("bad property name \"" + name + "\"");
        SkipSpaces();
        if (Peek() != '=') Fail("expected \"=\" after \"" + name + "\"");
        ++pos_;
        SkipSpaces();
        p.value = Value();
        EndOfLine();
        return p;
    }

    std::string QuotedString() {
        // at the opening quote
        ++pos_;
        std::string out;
        for (;;) {
            if (AtEnd() || Peek() == '\n') Fail("unterminated string");
            char c = s_[pos_++];
            if (c == '"') return out;
            if (c == '\\') {
                if (AtEnd() || Peek() == '\n') Fail("unterminated string");
                char e = s_[pos_++];
                switch (e) {
                    case '"': out += '"'; break;
                    case '\\': out += '\\'; break;
                    case 'n': out += '\n'; break;
                    case 't': out += '\t'; break;
                    default: Fail(std::string("unknown escape \"\\") + e + "\" in a string");
                }
            } else {
                out += c;
            }
        }
    }

    TFormValue Value() {
        TFormValue v;
        char c = Peek();
        if (c == '"') {
            v.kind = TFormValue::String;
            v.text = QuotedString();
            return v;
        }
        if (c == '[') {
            ++pos_;
            v.kind = TFormValue::Set;
            SkipSpaces();
            if (Peek() == ']') {
                ++pos_;
                return v;
            }
            for (;;) {
                std::string w = Word();
                if (!IsIdentifier(w)) Fail("bad set element \"" + w + "\"");
                v.items.push_back(w);
                SkipSpaces();
                if (Peek() == ',') {
                    ++pos_;
                    continue;
                }
                if (Peek() == ']') {
                    ++pos_;
                    return v;
                }
                Fail("expected \",\" or \"]\" in a set");
            }
        }
        if (c == '(') {
            ++pos_;
            v.kind = TFormValue::List;
            int opened = line_;
            for (;;) {
                SkipBlank();
                if (AtEnd()) {
                    line_ = opened;
                    Fail("unterminated string list");
                }
                if (Peek() == ')') {
                    ++pos_;
                    return v;
                }
                if (Peek() != '"') Fail("expected a string or \")\" in a string list");
                v.items.push_back(QuotedString());
            }
        }
        if (c == '-' || c == '$' || std::isdigit(static_cast<unsigned char>(c))) {
            v.kind = TFormValue::Integer;
            v.integer = Integer();
            return v;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            v.text = Word();
            if (!IsIdentifier(v.text)) Fail("bad value \"" + v.text + "\"");
            v.kind = TFormValue::Identifier;
            return v;
        }
        if (AtEnd() || c == '\n') Fail("missing value");
        Fail(std::string("unexpected \"") + c + "\" in a value");
    }

    int64_t Integer() {
        bool negative = false;
        if (Peek() == '-') {
            negative = true;
            ++pos_;
        }
        int base = 10;
        if (Peek() == '$') {
            base = 16;
            ++pos_;
        } else if (Peek() == '0' && pos_ + 1 < s_.size() && (s_[pos_ + 1] == 'x' || s_[pos_ + 1] == 'X')) {
            base = 16;
            pos_ += 2;
        }
        // Values beyond 32 bits are refused: every integer property is one.
        const int64_t limit = int64_t(std::numeric_limits<uint32_t>::max());
        int64_t value = 0;
        int digits = 0;
        while (!AtEnd()) {
            char ch = s_[pos_];
            int d;
            if (ch >= '0' && ch <= '9') d = ch - '0';
            else if (base == 16 && ch >= 'a' && ch <= 'f') d = ch - 'a' + 10;
            else if (base == 16 && ch >= 'A' && ch <= 'F') d = ch - 'A' + 10;
            else break;
            value = value * base + d;
            if (value > limit) Fail("number out of range");
            ++digits;
            ++pos_;
        }
        if (digits == 0) Fail("bad number");
        if (!AtEnd() && IsWordChar(Peek())) Fail("bad number");
        return negative ? -value : value;
    }

    const std::string& s_;
    const std::string& file_;
    size_t pos_ = 0;
    int line_ = 1;
};

}  // namespace

std::unique_ptr<TFormObject> ParseFormDescription(const std::string& text, const std::string& fileName) {
    return TParser(text, fileName).Run();
}
