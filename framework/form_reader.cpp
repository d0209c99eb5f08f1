#include "framework/form_reader.h"

#include <limits>

#include "framework/string_list.h"
#include "framework/text.h"

namespace qv {

// ======================================================================
// Tokenizer and parser
// ======================================================================
namespace {

constexpr int kMaxDepth = 64;  // nesting of objects and lists

enum class Tok { End, Ident, String, Integer, LBrace, RBrace, LBracket, RBracket, Equals, Comma };

struct Token {
    Tok kind = Tok::End;
    std::string text;
    int64_t number = 0;
    int line = 1;
};

const char* TokName(Tok t) {
    switch (t) {
        case Tok::End: return "end of text";
        case Tok::Ident: return "name";
        case Tok::String: return "string";
        case Tok::Integer: return "number";
        case Tok::LBrace: return "'{'";
        case Tok::RBrace: return "'}'";
        case Tok::LBracket: return "'['";
        case Tok::RBracket: return "']'";
        case Tok::Equals: return "'='";
        case Tok::Comma: return "','";
    }
    return "?";
}

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Lexer {
public:
    Lexer(std::string_view text, const std::string& source) : s_(text), source_(source) {}

    [[noreturn]] void Fail(int line, const std::string& what) const {
        throw EFormError(source_ + ", line " + IntToStr(line) + ": " + what, line);
    }

    Token Next() {
        SkipBlanks();
        Token t;
        t.line = line_;
        if (p_ >= s_.size()) return t;
        char c = s_[p_];
        switch (c) {
            case '{': ++p_; t.kind = Tok::LBrace; return t;
            case '}': ++p_; t.kind = Tok::RBrace; return t;
            case '[': ++p_; t.kind = Tok::LBracket; return t;
            case ']': ++p_; t.kind = Tok::RBracket; return t;
            case '=': ++p_; t.kind = Tok::Equals; return t;
            case ',': ++p_; t.kind = Tok::Comma; return t;
            case '"': return ReadString();
            default: break;
        }
        if (IsIdentStart(c)) {
            size_t b = p_;
            while (p_ < s_.size() && IsIdentChar(s_[p_])) ++p_;
            t.kind = Tok::Ident;
            t.text = std::string(s_.substr(b, p_ - b));
            return t;
        }
        if ((c >= '0' && c <= '9') || c == '-' || c == '+') return ReadNumber();
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) >= 127)
            Fail(line_, Sprintf("unexpected character (code %u)", static_cast<unsigned char>(c)));
        Fail(line_, std::string("unexpected character '") + c + "'");
    }

private:
    void SkipBlanks() {
        while (p_ < s_.size()) {
            char c = s_[p_];
            if (c == '\n') {
                ++line_;
                ++p_;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++p_;
            } else if (c == '#') {
                while (p_ < s_.size() && s_[p_] != '\n') ++p_;
            } else {
                break;
            }
        }
    }

    Token ReadString() {
        Token t;
        t.kind = Tok::String;
        t.line = line_;
        ++p_;  // opening quote
        for (;;) {
            if (p_ >= s_.size() || s_[p_] == '\n' || s_[p_] == '\r') Fail(t.line, "unterminated string");
            auto c = static_cast<unsigned char>(s_[p_]);
            if (c == '"') {
                ++p_;
                return t;
            }
            if (c >= 0x81 && c <= 0xFE) {
                // A double-byte character: its trail byte is never taken for
                // a quote or an escape.
                if (p_ + 1 >= s_.size() || s_[p_ + 1] == '\n' || s_[p_ + 1] == '\r')
                    Fail(t.line, "unterminated string (lead byte without trail byte)");
                t.text.append(s_.substr(p_, 2));
                p_ += 2;
                continue;
            }
            if (c == '\\') {
                if (p_ + 1 >= s_.size()) Fail(t.line, "unterminated string");
                char e = s_[p_ + 1];
                p_ += 2;
                switch (e) {
                    case '\\': t.text += '\\'; break;
                    case '"': t.text += '"'; break;
                    case 'r': t.text += '\r'; break;
                    case 'n': t.text += '\n'; break;
                    case 't': t.text += '\t'; break;
                    case 'x': {
                        int h = p_ < s_.size() ? HexDigit(s_[p_]) : -1;
                        int l = p_ + 1 < s_.size() ? HexDigit(s_[p_ + 1]) : -1;
                        if (h < 0 || l < 0) Fail(t.line, "\\x needs two hexadecimal digits");
                        t.text += static_cast<char>(h * 16 + l);
                        p_ += 2;
                        break;
                    }
                    default: Fail(t.line, std::string("unknown escape \\") + e);
                }
                continue;
            }
            if (c < 32 && c != '\t') Fail(t.line, Sprintf("control character (code %u) in string", c));
            t.text += static_cast<char>(c);
            ++p_;
        }
    }

    Token ReadNumber() {
        Token t;
        t.kind = Tok::Integer;
        t.line = line_;
        size_t b = p_;
        if (s_[p_] == '-' || s_[p_] == '+') ++p_;
        while (p_ < s_.size() && (IsIdentChar(s_[p_]))) ++p_;
        std::string_view lit = s_.substr(b, p_ - b);
        bool negative = !lit.empty() && lit[0] == '-';
        std::string_view digits = lit.substr((!lit.empty() && (lit[0] == '-' || lit[0] == '+')) ? 1 : 0);
        int base = 10;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            base = 16;
            digits.remove_prefix(2);
        }
        if (digits.empty()) Fail(t.line, "invalid number '" + std::string(lit) + "'");
        uint64_t v = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0 || d >= base) Fail(t.line, "invalid number '" + std::string(lit) + "'");
            v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
            if (v > 0xFFFFFFFFull) Fail(t.line, "number out of range '" + std::string(lit) + "'");
        }
        // Hexadecimal literals may spell a 32-bit pattern; decimals must fit
        // a signed 32-bit integer.
        if (base == 10 && v > (negative ? 0x80000000ull : 0x7FFFFFFFull))
            Fail(t.line, "number out of range '" + std::string(lit) + "'");
        int64_t value = base == 16 ? static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(v)))
                                   : static_cast<int64_t>(v);
        t.number = negative ? -value : value;
        return t;
    }

    std::string_view s_;
    const std::string& source_;
    size_t p_ = 0;
    int line_ = 1;
};

class Parser {
public:
    Parser(std::string_view text, const std::string& source) : lex_(text, source) { Advance(); }

    FormObject ParseRoot() {
        if (cur_.kind != Tok::Ident) Fail("expected the class name of the form, found " + Describe(cur_));
        Token cls = cur_;
        Advance();
        FormObject root = ParseObject(cls, 0);
        if (cur_.kind != Tok::End) Fail("text after the end of the form: " + Describe(cur_));
        return root;
    }

private:
    [[noreturn]] void Fail(const std::string& what) { lex_.Fail(cur_.line, what); }
    void Advance() { cur_ = peeked_ ? std::move(*peeked_) : lex_.Next(), peeked_.reset(); }
    const Token& Peek() {
        if (!peeked_) peeked_ = std::make_unique<Token>(lex_.Next());
        return *peeked_;
    }
    static std::string Describe(const Token& t) {
        switch (t.kind) {
            case Tok::Ident: return "'" + t.text + "'";
            case Tok::String: return "a string";
            case Tok::Integer: return "the number " + IntToStr(t.number);
            default: return TokName(t.kind);
        }
    }
    void Expect(Tok kind, const std::string& context) {
        if (cur_.kind != kind)
            Fail(std::string("expected ") + TokName(kind) + " " + context + ", found " + Describe(cur_));
        Advance();
    }

    // cur_ stands on the component name; cls is the class token before it.
    FormObject ParseObject(const Token& cls, int depth) {
        if (depth > kMaxDepth) Fail("objects nested too deeply");
        FormObject obj;
        obj.className = cls.text;
        obj.line = cls.line;
        if (cur_.kind != Tok::Ident) Fail("expected the name of the " + cls.text + " object, found " + Describe(cur_));
        obj.name = cur_.text;
        Advance();
        Expect(Tok::LBrace, "after the object's name");
        while (cur_.kind != Tok::RBrace) {
            if (cur_.kind == Tok::End) Fail("missing '}' for object " + obj.name + " of line " + IntToStr(obj.line));
            if (cur_.kind != Tok::Ident) Fail("expected a property or object, found " + Describe(cur_));
            Token first = cur_;
            const Token& next = Peek();
            if (next.kind == Tok::Ident) {
                Advance();
                obj.children.push_back(ParseObject(first, depth + 1));
            } else {
                obj.properties.push_back(ParseProperty(depth));
            }
        }
        Advance();  // '}'
        return obj;
    }

    FormProperty ParseProperty(int depth) {
        if (depth > kMaxDepth) Fail("objects nested too deeply");
        FormProperty prop;
        prop.name = cur_.text;
        prop.line = cur_.line;
        Advance();
        if (cur_.kind == Tok::LBrace) {
            prop.isObject = true;
            Advance();
            while (cur_.kind != Tok::RBrace) {
                if (cur_.kind == Tok::End) Fail("missing '}' for " + prop.name + " of line " + IntToStr(prop.line));
                if (cur_.kind != Tok::Ident) Fail("expected a property of " + prop.name + ", found " + Describe(cur_));
                prop.members.push_back(ParseProperty(depth + 1));
            }
            Advance();
            return prop;
        }
        Expect(Tok::Equals, "after " + prop.name);
        prop.value = ParseValue(depth);
        return prop;
    }

    FormValue ParseValue(int depth) {
        if (depth > kMaxDepth) Fail("lists nested too deeply");
        FormValue v;
        v.line = cur_.line;
        switch (cur_.kind) {
            case Tok::String: v.kind = FormValue::Kind::String; v.text = cur_.text; Advance(); return v;
            case Tok::Integer: v.kind = FormValue::Kind::Integer; v.number = cur_.number; Advance(); return v;
            case Tok::Ident: v.kind = FormValue::Kind::Ident; v.text = cur_.text; Advance(); return v;
            case Tok::LBracket: {
                v.kind = FormValue::Kind::List;
                Advance();
                while (cur_.kind != Tok::RBracket) {
                    if (cur_.kind == Tok::End) Fail("missing ']' for the list of line " + IntToStr(v.line));
                    v.items.push_back(ParseValue(depth + 1));
                    if (cur_.kind == Tok::Comma) Advance();
                }
                Advance();
                return v;
            }
            default: Fail("expected a value, found " + Describe(cur_));
        }
    }

    Lexer lex_;
    Token cur_;
    std::unique_ptr<Token> peeked_;
};

}  // namespace

FormObject ParseForm(std::string_view text, const std::string& source) {
    Parser parser(text, source);
    return parser.ParseRoot();
}

// ======================================================================
// Registries
// ======================================================================
ClassRegistry& ClassRegistry::Instance() {
    static ClassRegistry registry;
    return registry;
}

void ClassRegistry::Register(const std::string& className, Factory factory) {
    for (auto& [name, f] : classes_)
        if (SameText(name, className)) {
            f = std::move(factory);
            return;
        }
    classes_.emplace_back(className, std::move(factory));
}

bool ClassRegistry::Has(std::string_view className) const {
    for (auto& [name, f] : classes_)
        if (SameText(name, className)) return true;
    return false;
}

Component* ClassRegistry::Create(std::string_view className, Component* owner) const {
    for (auto& [name, f] : classes_)
        if (SameText(name, className)) return f(owner);
    throw EFormError("Class " + std::string(className) + " not found", 0);
}

namespace {
std::vector<std::pair<std::string, int64_t>>& IntegerConstants() {
    static std::vector<std::pair<std::string, int64_t>> constants;
    return constants;
}
}  // namespace

void RegisterIntegerConstant(const std::string& name, int64_t value) {
    for (auto& [n, v] : IntegerConstants())
        if (SameText(n, name)) {
            v = value;
            return;
        }
    IntegerConstants().emplace_back(name, value);
}

bool FindIntegerConstant(std::string_view name, int64_t& value) {
    for (auto& [n, v] : IntegerConstants())
        if (SameText(n, name)) {
            value = v;
            return true;
        }
    return false;
}

void HandlerTable::Put(const std::string& name, std::any handler) {
    for (auto& [n, h] : handlers_)
        if (SameText(n, name)) {
            h = std::move(handler);
            return;
        }
    handlers_.emplace_back(name, std::move(handler));
}

const std::any* HandlerTable::Find(std::string_view name) const {
    for (auto& [n, h] : handlers_)
        if (SameText(n, name)) return &h;
    return nullptr;
}

std::vector<std::string> HandlerTable::Names() const {
    std::vector<std::string> names;
    for (auto& [n, h] : handlers_) names.push_back(n);
    return names;
}

// ======================================================================
// Loading
// ======================================================================
namespace {

struct PendingReference {
    Persistent* object;
    std::string property;
    std::string target;
    int line;
};

class Loader {
public:
    Loader(Component& root, const HandlerTable& handlers, const std::string& source)
        : root_(root), handlers_(handlers), source_(source) {}

    void Load(const FormObject& form) {
        if (!SameText(form.className, root_.ClassName()))
            Fail(form.line, "the form describes class " + form.className + ", not " + root_.ClassName());
        root_.SetLoading(true);
        try {
            root_.SetName(form.name);
        } catch (const Exception& e) {
            Fail(form.line, e.Message());
        }
        ApplyProperties(root_, form.properties, root_.Name());
        for (const FormObject& child : form.children) CreateChild(child, &root_);
        ResolveReferences();
        // Loaded: the root first, then every component in creation order.
        // A component that raises here is reported with its line.
        CallLoaded(root_, form.line);
        for (auto& [c, line] : created_) CallLoaded(*c, line);
    }

private:
    [[noreturn]] void Fail(int line, const std::string& what) const {
        throw EFormError(source_ + ", line " + IntToStr(line) + ": " + what, line);
    }

    void CallLoaded(Component& c, int line) {
        try {
            c.Loaded();
        } catch (const EFormError&) {
            throw;
        } catch (const std::exception& e) {
            Fail(line, c.Name() + ".Loaded: " + ExceptionText(e));
        }
    }

    void CreateChild(const FormObject& obj, Component* enclosing) {
        Component* c = nullptr;
        if (!ClassRegistry::Instance().Has(obj.className)) Fail(obj.line, "class " + obj.className + " not found");
        try {
            c = ClassRegistry::Instance().Create(obj.className, &root_);
        } catch (const EFormError&) {
            throw;
        } catch (const std::exception& e) {
            Fail(obj.line, "creating " + obj.name + ": " + ExceptionText(e));
        }
        c->SetLoading(true);
        created_.emplace_back(c, obj.line);
        try {
            c->SetName(obj.name);
            c->SetParentComponent(enclosing);
        } catch (const std::exception& e) {
            Fail(obj.line, obj.name + ": " + ExceptionText(e));
        }
        ApplyProperties(*c, obj.properties, obj.name);
        for (const FormObject& child : obj.children) CreateChild(child, c);
    }

    void ApplyProperties(Persistent& object, const std::vector<FormProperty>& props, const std::string& path) {
        for (const FormProperty& p : props) {
            try {
                Apply(object, p, path);
            } catch (const EFormError&) {
                throw;
            } catch (const std::exception& e) {
                Fail(p.line, path + "." + p.name + ": " + ExceptionText(e));
            }
        }
    }

    static const char* KindName(FormValue::Kind k) {
        switch (k) {
            case FormValue::Kind::String: return "a string";
            case FormValue::Kind::Integer: return "a number";
            case FormValue::Kind::Ident: return "a name";
            case FormValue::Kind::List: return "a list";
        }
        return "?";
    }

    void WrongValue(const FormProperty& p, const std::string& path, const char* wanted) {
        Fail(p.value.line, path + "." + p.name + " needs " + wanted + ", not " + KindName(p.value.kind));
    }

    void Apply(Persistent& object, const FormProperty& p, const std::string& path) {
        const PropInfo* info = FindProperty(object, p.name);
        if (!info) Fail(p.line, path + " has no property " + p.name);
        if (p.isObject != (info->kind == PropKind::Object)) {
            if (p.isObject) Fail(p.line, path + "." + p.name + " is not an object property");
            Fail(p.line, path + "." + p.name + " is an object property: write " + p.name + " { ... }");
        }
        const FormValue& v = p.value;
        switch (info->kind) {
            case PropKind::String:
                if (v.kind != FormValue::Kind::String) WrongValue(p, path, "a string");
                if (!info->setString) Fail(p.line, path + "." + p.name + " is read-only");
                info->setString(object, v.text);
                return;
            case PropKind::Integer: {
                int64_t n = 0;
                if (v.kind == FormValue::Kind::Integer) n = v.number;
                else if (v.kind == FormValue::Kind::Ident) {
                    if (!FindIntegerConstant(v.text, n)) Fail(v.line, "unknown constant " + v.text + " for " + path + "." + p.name);
                } else WrongValue(p, path, "a number");
                if (!info->setInteger) Fail(p.line, path + "." + p.name + " is read-only");
                info->setInteger(object, n);
                return;
            }
            case PropKind::Boolean: {
                if (v.kind != FormValue::Kind::Ident || (!SameText(v.text, "true") && !SameText(v.text, "false")))
                    Fail(v.line, path + "." + p.name + " needs true or false");
                if (!info->setBoolean) Fail(p.line, path + "." + p.name + " is read-only");
                info->setBoolean(object, SameText(v.text, "true"));
                return;
            }
            case PropKind::Enum: {
                if (v.kind != FormValue::Kind::Ident) WrongValue(p, path, "a value name");
                int64_t ordinal = NameIndex(*info, v.text);
                if (ordinal < 0)
                    Fail(v.line, v.text + " is not a value of " + path + "." + p.name + " (" + Join(info->valueNames, ", ") + ")");
                if (!info->setInteger) Fail(p.line, path + "." + p.name + " is read-only");
                info->setInteger(object, ordinal);
                return;
            }
            case PropKind::Set: {
                if (v.kind != FormValue::Kind::List) WrongValue(p, path, "a list of value names");
                int64_t mask = 0;
                for (const FormValue& item : v.items) {
                    if (item.kind != FormValue::Kind::Ident) Fail(item.line, path + "." + p.name + " takes value names only");
                    int64_t bit = NameIndex(*info, item.text);
                    if (bit < 0 || bit >= 63)
                        Fail(item.line, item.text + " is not a value of " + path + "." + p.name + " (" + Join(info->valueNames, ", ") + ")");
                    mask |= int64_t{1} << bit;
                }
                if (!info->setInteger) Fail(p.line, path + "." + p.name + " is read-only");
                info->setInteger(object, mask);
                return;
            }
            case PropKind::Strings: {
                if (v.kind != FormValue::Kind::List) WrongValue(p, path, "a list of strings");
                std::vector<std::string> items;
                for (const FormValue& item : v.items) {
                    if (item.kind != FormValue::Kind::String) Fail(item.line, path + "." + p.name + " takes strings only");
                    items.push_back(item.text);
                }
                StringList* list = info->getStrings(object);
                if (!list) Fail(p.line, path + "." + p.name + " is not available");
                list->Assign(items);
                return;
            }
            case PropKind::Object: {
                Persistent* sub = info->getObject(object);
                if (!sub) Fail(p.line, path + "." + p.name + " is not available");
                ApplyProperties(*sub, p.members, path + "." + p.name);
                return;
            }
            case PropKind::Reference: {
                if (v.kind != FormValue::Kind::Ident) WrongValue(p, path, "a component name");
                if (!info->setReference) Fail(p.line, path + "." + p.name + " is read-only");
                pending_.push_back({&object, p.name, v.text, v.line});
                return;
            }
            case PropKind::Event: {
                if (v.kind != FormValue::Kind::Ident) WrongValue(p, path, "a handler name");
                const std::any* h = handlers_.Find(v.text);
                if (!h) Fail(v.line, "handler " + v.text + " for " + path + "." + p.name + " not found");
                if (std::type_index(h->type()) != info->eventType)
                    Fail(v.line, "handler " + v.text + " does not fit event " + path + "." + p.name);
                info->setEvent(object, *h);
                return;
            }
        }
    }

    static int64_t NameIndex(const PropInfo& info, std::string_view name) {
        for (size_t i = 0; i < info.valueNames.size(); ++i)
            if (SameText(info.valueNames[i], name)) return static_cast<int64_t>(i);
        return -1;
    }

    void ResolveReferences() {
        for (const PendingReference& r : pending_) {
            Component* target = nullptr;
            if (SameText(r.target, root_.Name())) target = &root_;
            else target = root_.FindComponent(r.target);
            if (!target) Fail(r.line, "component " + r.target + " for " + r.property + " not found");
            try {
                SetReferenceProp(*r.object, r.property, target);
            } catch (const std::exception& e) {
                Fail(r.line, r.property + " = " + r.target + ": " + ExceptionText(e));
            }
        }
    }

    Component& root_;
    const HandlerTable& handlers_;
    const std::string& source_;
    std::vector<std::pair<Component*, int>> created_;
    std::vector<PendingReference> pending_;
};

}  // namespace

void LoadForm(Component& root, const FormObject& form, const HandlerTable& handlers, const std::string& source) {
    Loader loader(root, handlers, source);
    loader.Load(form);
}

void ReadForm(Component& root, std::string_view text, const HandlerTable& handlers, const std::string& source) {
    FormObject form = ParseForm(text, source);
    LoadForm(root, form, handlers, source);
}

}  // namespace qv
