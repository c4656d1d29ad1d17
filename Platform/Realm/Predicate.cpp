#include "Realm/Predicate.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include <fmt/format.h>

#include "Realm/TextFolding.h"

namespace {

enum class Tok { Ident, String, Number, Arg, Symbol, Options, End };

struct Token {
    Tok kind;
    std::string text;  // identifier, string contents, number text, arg spec, symbol, options
    size_t offset;
};

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

[[noreturn]] void fail(const std::string& format, size_t offset, const std::string& what) {
    throw RealmException(fmt::format("invalid predicate \"{}\" at {}: {}", format, offset, what));
}

std::vector<Token> tokenize(const std::string& f) {
    std::vector<Token> out;
    size_t i = 0;
    const size_t n = f.size();
    while (i < n) {
        const char c = f[i];
        if (std::isspace(static_cast<unsigned char>(c))) { ++i; continue; }
        const size_t start = i;
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '$') {
            while (i < n && (std::isalnum(static_cast<unsigned char>(f[i])) || f[i] == '_' || f[i] == '$' || f[i] == '.')) ++i;
            out.push_back({Tok::Ident, f.substr(start, i - start), start});
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   ((c == '-' || c == '+') && i + 1 < n && std::isdigit(static_cast<unsigned char>(f[i + 1])))) {
            ++i;
            while (i < n && (std::isdigit(static_cast<unsigned char>(f[i])) || f[i] == '.')) ++i;
            out.push_back({Tok::Number, f.substr(start, i - start), start});
        } else if (c == '\'' || c == '"') {
            std::string s;
            ++i;
            bool closed = false;
            while (i < n) {
                char d = f[i++];
                if (d == c) { closed = true; break; }
                if (d == '\\' && i < n) {
                    char e = f[i++];
                    switch (e) {
                        case 'n': s.push_back('\n'); break;
                        case 't': s.push_back('\t'); break;
                        case 'r': s.push_back('\r'); break;
                        default: s.push_back(e);
                    }
                } else {
                    s.push_back(d);
                }
            }
            if (!closed) fail(f, start, "unterminated string");
            out.push_back({Tok::String, s, start});
        } else if (c == '%') {
            ++i;
            std::string spec;
            while (i < n && (f[i] == 'l' || f[i] == 'h' || f[i] == 'q')) spec.push_back(f[i++]);
            if (i >= n) fail(f, start, "incomplete argument");
            spec.push_back(f[i++]);
            const char last = spec.back();
            if (!(last == '@' || last == 'K' || last == 'i' || last == 'd' || last == 'u' || last == 'f'))
                fail(f, start, "unsupported argument %" + spec);
            out.push_back({Tok::Arg, spec, start});
        } else if (c == '[') {
            size_t close = f.find(']', i);
            if (close == std::string::npos) fail(f, start, "unterminated options");
            out.push_back({Tok::Options, f.substr(i + 1, close - i - 1), start});
            i = close + 1;
        } else {
            static const char* symbols[] = {"==", "!=", "<>", "<=", ">=", "=<", "=>", "&&", "||",
                                            "=", "<", ">", "!", "(", ")"};
            bool matched = false;
            for (const char* s : symbols) {
                size_t len = std::char_traits<char>::length(s);
                if (f.compare(i, len, s) == 0) {
                    out.push_back({Tok::Symbol, s, start});
                    i += len;
                    matched = true;
                    break;
                }
            }
            if (!matched) fail(f, start, std::string("unexpected character '") + c + "'");
        }
    }
    out.push_back({Tok::End, "", n});
    return out;
}

enum class Op { Eq, Ne, Lt, Gt, Le, Ge, BeginsWith, Contains, EndsWith, In };

struct Operand {
    const Property* property = nullptr;  // a key path
    RealmValue value;                    // otherwise a value
};

class Compiler {
public:
    Compiler(const std::string& format, const std::vector<RealmValue>& args, const ObjectSchema& schema)
        : format_(format), args_(args), schema_(schema), tokens_(tokenize(format)) {}

    CompiledPredicate run() {
        CompiledPredicate result;
        if (tokens_.front().kind == Tok::End) {
            result.sql = "1";
            return result;
        }
        result.sql = parseOr();
        if (peek().kind != Tok::End) fail(format_, peek().offset, "unexpected '" + peek().text + "'");
        if (argIndex_ != args_.size())
            fail(format_, format_.size(), fmt::format("{} arguments given, {} used", args_.size(), argIndex_));
        result.bindings = std::move(bindings_);
        return result;
    }

private:
    const Token& peek() const { return tokens_[pos_]; }
    Token next() { return tokens_[pos_++]; }
    bool isKeyword(const Token& t, const char* word) const { return t.kind == Tok::Ident && upper(t.text) == word; }
    bool isSymbol(const Token& t, const char* s) const { return t.kind == Tok::Symbol && t.text == s; }

    std::string parseOr() {
        std::string left = parseAnd();
        while (isKeyword(peek(), "OR") || isSymbol(peek(), "||")) {
            next();
            left = "(" + left + " OR " + parseAnd() + ")";
        }
        return left;
    }
    std::string parseAnd() {
        std::string left = parseNot();
        while (isKeyword(peek(), "AND") || isSymbol(peek(), "&&")) {
            next();
            left = "(" + left + " AND " + parseNot() + ")";
        }
        return left;
    }
    std::string parseNot() {
        if (isKeyword(peek(), "NOT") || isSymbol(peek(), "!")) {
            next();
            return "(NOT " + parseNot() + ")";
        }
        return parsePrimary();
    }
    std::string parsePrimary() {
        if (isSymbol(peek(), "(")) {
            next();
            std::string inner = parseOr();
            if (!isSymbol(peek(), ")")) fail(format_, peek().offset, "missing ')'");
            next();
            return inner;
        }
        if (isKeyword(peek(), "TRUEPREDICATE")) { next(); return "1"; }
        if (isKeyword(peek(), "FALSEPREDICATE")) { next(); return "0"; }
        return parseComparison();
    }

    Operand parseOperand() {
        Token t = next();
        Operand o;
        switch (t.kind) {
            case Tok::Ident: {
                const std::string u = upper(t.text);
                if (u == "NIL" || u == "NULL") return o;
                if (u == "YES" || u == "TRUE") { o.value = true; return o; }
                if (u == "NO" || u == "FALSE") { o.value = false; return o; }
                o.property = lookup(t.text, t.offset);
                return o;
            }
            case Tok::String: o.value = t.text; return o;
            case Tok::Number:
                if (t.text.find('.') != std::string::npos) o.value = std::stod(t.text);
                else o.value = static_cast<int64_t>(std::stoll(t.text));
                return o;
            case Tok::Arg: {
                if (argIndex_ >= args_.size()) fail(format_, t.offset, "missing argument");
                const RealmValue& v = args_[argIndex_++];
                const char kind = t.text.back();
                if (kind == 'K') {
                    auto s = std::get_if<std::string>(&v);
                    if (!s) fail(format_, t.offset, "%K needs a key path text");
                    o.property = lookup(*s, t.offset);
                } else if (kind == '@') {
                    o.value = v;
                } else if (kind == 'f') {
                    if (auto i = std::get_if<int64_t>(&v)) o.value = static_cast<double>(*i);
                    else if (std::holds_alternative<double>(v)) o.value = v;
                    else fail(format_, t.offset, "%f needs a number");
                } else {
                    if (auto b = std::get_if<bool>(&v)) o.value = static_cast<int64_t>(*b);
                    else if (std::holds_alternative<int64_t>(v)) o.value = v;
                    else if (auto d = std::get_if<double>(&v)) o.value = static_cast<int64_t>(*d);
                    else fail(format_, t.offset, "%" + t.text + " needs an integer");
                }
                return o;
            }
            default: fail(format_, t.offset, "expected a key path or a value");
        }
    }

    const Property* lookup(const std::string& name, size_t offset) {
        const Property* p = schema_.property(name);
        if (!p) fail(format_, offset, "unknown key path '" + name + "' of " + schema_.className());
        return p;
    }

    static Op mirror(Op op) {
        switch (op) {
            case Op::Lt: return Op::Gt;
            case Op::Gt: return Op::Lt;
            case Op::Le: return Op::Ge;
            case Op::Ge: return Op::Le;
            default: return op;
        }
    }

    std::string parseComparison() {
        const size_t at = peek().offset;
        Operand left = parseOperand();
        Token opToken = next();
        Op op;
        if (opToken.kind == Tok::Symbol) {
            const std::string& s = opToken.text;
            if (s == "=" || s == "==") op = Op::Eq;
            else if (s == "!=" || s == "<>") op = Op::Ne;
            else if (s == "<") op = Op::Lt;
            else if (s == ">") op = Op::Gt;
            else if (s == "<=" || s == "=<") op = Op::Le;
            else if (s == ">=" || s == "=>") op = Op::Ge;
            else fail(format_, opToken.offset, "expected a comparison operator");
        } else if (opToken.kind == Tok::Ident) {
            const std::string u = upper(opToken.text);
            if (u == "BEGINSWITH") op = Op::BeginsWith;
            else if (u == "CONTAINS") op = Op::Contains;
            else if (u == "ENDSWITH") op = Op::EndsWith;
            else if (u == "IN") op = Op::In;
            else fail(format_, opToken.offset, "unsupported operator '" + opToken.text + "'");
        } else {
            fail(format_, opToken.offset, "expected a comparison operator");
        }
        int mode = TextFolding::None;
        if (peek().kind == Tok::Options) {
            Token options = next();
            for (char c : options.text) {
                if (c == 'c' || c == 'C') mode |= TextFolding::CaseInsensitive;
                else if (c == 'd' || c == 'D') mode |= TextFolding::DiacriticInsensitive;
                else fail(format_, options.offset, "unknown option '" + options.text + "'");
            }
        }
        Operand right = parseOperand();
        if (!left.property && right.property) {
            if (op == Op::BeginsWith || op == Op::Contains || op == Op::EndsWith || op == Op::In)
                fail(format_, at, "the key path must stand on the left");
            std::swap(left, right);
            op = mirror(op);
        }
        if (!left.property || right.property) fail(format_, at, "a comparison needs one key path and one value");
        return compare(*left.property, op, mode, right.value, at);
    }

    std::string bind(RealmValue v) {
        if (auto b = std::get_if<bool>(&v)) v = static_cast<int64_t>(*b);
        bindings_.push_back(std::move(v));
        return "?";
    }

    static bool isNil(const RealmValue& v) {
        if (std::holds_alternative<std::monostate>(v)) return true;
        auto s = std::get_if<std::string>(&v);
        return s && s->empty();  // an empty text is stored as nil
    }

    std::string compare(const Property& p, Op op, int mode, RealmValue value, size_t at) {
        if (p.type == PropertyType::StringList) fail(format_, at, "lists cannot be compared: '" + p.name + "'");
        const bool isText = p.type == PropertyType::String;
        if (!isText) mode = TextFolding::None;
        std::string column = "\"" + p.name + "\"";
        auto foldValue = [&](const std::string& s) { return mode ? TextFolding::fold(s, mode) : s; };
        if (mode) {
            if (mode == TextFolding::Both && p.isFolded()) column = "\"" + p.foldedColumn() + "\"";
            else column = fmt::format("zm_fold({}, {})", column, mode);
        }

        if (op == Op::In) {
            auto list = std::get_if<StringList>(&value);
            if (!list) fail(format_, at, "IN needs a list argument");
            nlohmann::json array = nlohmann::json::array();
            for (const auto& s : *list) {
                if (isText) array.push_back(foldValue(s));
                else {
                    // Numeric columns: compare with the numbers the texts hold.
                    try { array.push_back(std::stoll(s)); } catch (...) { array.push_back(s); }
                }
            }
            return fmt::format("({0} IS NOT NULL AND {0} IN (SELECT value FROM json_each({1})))", column,
                               bind(array.dump()));
        }

        if (auto list = std::get_if<StringList>(&value)) {
            (void)list;
            fail(format_, at, "a list can only be used with IN");
        }

        if (isNil(value)) {
            if (op == Op::Eq) return fmt::format("({} IS NULL)", column);
            if (op == Op::Ne) return fmt::format("({} IS NOT NULL)", column);
            if (op == Op::BeginsWith || op == Op::EndsWith || op == Op::Contains)
                return fmt::format("({} IS NOT NULL)", column);
            fail(format_, at, "nil can only be compared with = or !=");
        }

        if (op == Op::BeginsWith || op == Op::Contains || op == Op::EndsWith) {
            auto s = std::get_if<std::string>(&value);
            if (!isText || !s) fail(format_, at, "BEGINSWITH, CONTAINS and ENDSWITH compare texts");
            const std::string needle = foldValue(*s);
            if (op == Op::BeginsWith) {
                // A range on the (folded) column, which an index can serve:
                // every text starting with the prefix sorts between the prefix
                // and the prefix followed by the highest code point.
                std::string lo = bind(needle);
                std::string hi = bind(needle + "\xF4\x8F\xBF\xBF");
                return fmt::format("({0} IS NOT NULL AND {0} >= {1} AND {0} < {2})", column, lo, hi);
            }
            if (op == Op::EndsWith) {
                std::string n = bind(static_cast<int64_t>(TextFolding::codePointCount(needle)));
                return fmt::format("({0} IS NOT NULL AND substr({0}, -{1}) = {2})", column, n, bind(needle));
            }
            return fmt::format("({0} IS NOT NULL AND instr({0}, {1}) > 0)", column, bind(needle));
        }

        if (isText) {
            if (auto s = std::get_if<std::string>(&value)) value = foldValue(*s);
        } else if (std::holds_alternative<std::string>(value)) {
            fail(format_, at, "'" + p.name + "' is not a text");
        }
        // A Boolean compared for (in)equality with 0 or 1 gets that constant
        // written out instead of bound: SQLite uses a partial index
        // ("WHERE col = 1") only when the query's term names the same
        // constant. (With a bound value it plans again for that value, which
        // costs a new prepare every time the statement is bound.) Only these
        // two constants ever become SQL text.
        if ((op == Op::Eq || op == Op::Ne) && p.type == PropertyType::Bool) {
            std::optional<int64_t> constant;
            if (auto b = std::get_if<bool>(&value)) constant = *b ? 1 : 0;
            else if (auto i = std::get_if<int64_t>(&value); i && (*i == 0 || *i == 1)) constant = *i;
            if (constant) {
                if (op == Op::Eq) return fmt::format("({0} IS NOT NULL AND {0} = {1})", column, *constant);
                return fmt::format("({0} IS NULL OR {0} <> {1})", column, *constant);
            }
        }
        const char* sqlOp = "=";
        switch (op) {
            case Op::Eq: sqlOp = "="; break;
            case Op::Ne:
                return fmt::format("({0} IS NULL OR {0} <> {1})", column, bind(std::move(value)));
            case Op::Lt: sqlOp = "<"; break;
            case Op::Gt: sqlOp = ">"; break;
            case Op::Le: sqlOp = "<="; break;
            case Op::Ge: sqlOp = ">="; break;
            default: break;
        }
        return fmt::format("({0} IS NOT NULL AND {0} {1} {2})", column, sqlOp, bind(std::move(value)));
    }

    const std::string& format_;
    const std::vector<RealmValue>& args_;
    const ObjectSchema& schema_;
    std::vector<Token> tokens_;
    size_t pos_ = 0;
    size_t argIndex_ = 0;
    std::vector<RealmValue> bindings_;
};

}  // namespace

CompiledPredicate Predicate::compile(const ObjectSchema& schema) const {
    return Compiler(format_, arguments_, schema).run();
}
