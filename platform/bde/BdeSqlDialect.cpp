// Translation of the engine's local SQL for SQLite, and the parameter scan.
//
// The text is cut into tokens (blanks, comments, literals, quoted names,
// words, parameters, single characters); the translation marks the tokens
// that start a qualified name to be cut down to its last part and writes the
// tokens back, so everything it does not mark comes out byte for byte.
#include "platform/bde/BdeSqlDialect.h"

#include <cstddef>

#include "platform/rtl/TextUtils.h"

namespace bde {
namespace {

enum class TokKind { Space, Comment, Literal, Name, Word, Param, Punct };

struct Token {
    TokKind kind;
    std::string_view text;
};

bool IsWordByte(unsigned char c) noexcept
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           c >= 0x80;
}

// The end of a quoted run opened at i; a doubled quote stays inside. An
// unclosed run takes the rest of the text.
std::size_t QuotedEnd(std::string_view s, std::size_t i, char close) noexcept
{
    std::size_t j = i + 1;
    while (j < s.size()) {
        if (s[j] == close) {
            if (close != ']' && j + 1 < s.size() && s[j + 1] == close) {
                j += 2;
                continue;
            }
            return j + 1;
        }
        ++j;
    }
    return s.size();
}

std::vector<Token> Tokenize(std::string_view s)
{
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const char next = i + 1 < s.size() ? s[i + 1] : '\0';
        std::size_t j = i + 1;
        TokKind kind = TokKind::Punct;
        if (c <= ' ') {
            while (j < s.size() && static_cast<unsigned char>(s[j]) <= ' ') ++j;
            kind = TokKind::Space;
        } else if (c == '-' && next == '-') {
            j = s.find('\n', i);
            j = j == std::string_view::npos ? s.size() : j;
            kind = TokKind::Comment;
        } else if (c == '/' && next == '*') {
            j = s.find("*/", i + 2);
            j = j == std::string_view::npos ? s.size() : j + 2;
            kind = TokKind::Comment;
        } else if (c == '\'') {
            j = QuotedEnd(s, i, '\'');
            kind = TokKind::Literal;
        } else if (c == '"') {
            j = QuotedEnd(s, i, '"');
            kind = TokKind::Name;
        } else if (c == '[') {
            j = QuotedEnd(s, i, ']');
            kind = TokKind::Name;
        } else if (c == ':' && next == ':') {
            j = i + 2; // "::" is text, never a parameter
        } else if (c == ':' && IsWordByte(static_cast<unsigned char>(next))) {
            j = i + 1;
            while (j < s.size() && IsWordByte(static_cast<unsigned char>(s[j]))) ++j;
            kind = TokKind::Param;
        } else if (IsWordByte(c)) {
            while (j < s.size() && IsWordByte(static_cast<unsigned char>(s[j]))) ++j;
            kind = TokKind::Word;
        }
        tokens.push_back({kind, s.substr(i, j - i)});
        i = j;
    }
    return tokens;
}

class Translator {
public:
    explicit Translator(std::string_view sql) : tokens_(Tokenize(sql)), strip_(tokens_.size(), false) {}

    std::string Run()
    {
        const std::size_t first = Significant(0);
        if (IsWord(first, "INSERT") || IsWord(first, "REPLACE")) MarkInsertColumns(first + 1);
        else if (IsWord(first, "UPDATE")) MarkUpdateTargets(first + 1);
        std::string out;
        for (std::size_t i = 0; i < tokens_.size(); ++i) {
            if (strip_[i]) i = ChainEnd(i);
            out += tokens_[i].text;
        }
        return out;
    }

private:
    std::size_t Significant(std::size_t i) const noexcept
    {
        while (i < tokens_.size() && (tokens_[i].kind == TokKind::Space || tokens_[i].kind == TokKind::Comment)) ++i;
        return i;
    }
    bool IsPunct(std::size_t i, char c) const noexcept
    {
        return i < tokens_.size() && tokens_[i].kind == TokKind::Punct && tokens_[i].text[0] == c;
    }
    bool IsWord(std::size_t i, std::string_view word) const noexcept
    {
        return i < tokens_.size() && tokens_[i].kind == TokKind::Word && rtl::SameTextLatin(tokens_[i].text, word);
    }
    // A quoted name, or a word that is not a number.
    bool IsName(std::size_t i) const noexcept
    {
        if (i >= tokens_.size()) return false;
        const Token& t = tokens_[i];
        return t.kind == TokKind::Name || (t.kind == TokKind::Word && !(t.text[0] >= '0' && t.text[0] <= '9'));
    }
    // The last name of the chain "a"."b"... that starts at i.
    std::size_t ChainEnd(std::size_t i) const noexcept
    {
        for (;;) {
            const std::size_t dot = Significant(i + 1);
            if (!IsPunct(dot, '.')) return i;
            const std::size_t name = Significant(dot + 1);
            if (!IsName(name)) return i;
            i = name;
        }
    }

    // INSERT [OR ...] INTO T [[AS] A] (columns): each column loses its qualifier.
    void MarkInsertColumns(std::size_t i)
    {
        while (i < tokens_.size() && !IsWord(i, "INTO")) ++i;
        i = Significant(i + 1);
        if (!IsName(i)) return;
        i = Significant(ChainEnd(i) + 1);
        if (IsWord(i, "AS")) i = Significant(i + 1);
        if (IsName(i) && !IsWord(i, "VALUES") && !IsWord(i, "SELECT") && !IsWord(i, "DEFAULT"))
            i = Significant(i + 1);
        if (!IsPunct(i, '(')) return;
        for (++i; i < tokens_.size(); ++i) {
            if (IsPunct(i, ')')) return;
            if (IsName(i)) {
                strip_[i] = true;
                i = ChainEnd(i);
            }
        }
    }

    // UPDATE T SET target = value, ...: each target loses its qualifier, the
    // values keep theirs.
    void MarkUpdateTargets(std::size_t i)
    {
        while (i < tokens_.size() && !IsWord(i, "SET")) ++i;
        int depth = 0;
        bool expectTarget = true;
        for (++i; i < tokens_.size(); ++i) {
            const TokKind kind = tokens_[i].kind;
            if (kind == TokKind::Space || kind == TokKind::Comment) continue;
            if (IsPunct(i, '(')) {
                ++depth;
                // "(a, b) = (...)": the targets are the names of the list.
                if (depth == 1 && expectTarget) {
                    MarkTargetList(i);
                    expectTarget = false;
                }
                continue;
            }
            if (IsPunct(i, ')')) {
                --depth;
                continue;
            }
            if (depth == 0) {
                if (IsPunct(i, ';') || IsWord(i, "WHERE") || IsWord(i, "FROM") || IsWord(i, "RETURNING") ||
                    IsWord(i, "ORDER") || IsWord(i, "LIMIT"))
                    return;
                if (IsPunct(i, ',')) {
                    expectTarget = true;
                    continue;
                }
                if (expectTarget && IsName(i)) {
                    strip_[i] = true;
                    i = ChainEnd(i);
                }
            }
            expectTarget = false;
        }
    }
    void MarkTargetList(std::size_t open)
    {
        for (std::size_t i = open + 1; i < tokens_.size() && !IsPunct(i, ')'); ++i) {
            if (IsName(i)) {
                strip_[i] = true;
                i = ChainEnd(i);
            }
        }
    }

    std::vector<Token> tokens_;
    std::vector<bool> strip_; // the token starts a chain cut down to its last name
};

} // namespace

std::string BdeTranslateToSqlite(std::string_view sql) { return Translator(sql).Run(); }

std::string BdeQuoteBracketedNames(std::string_view sql)
{
    std::string out;
    out.reserve(sql.size() + 8);
    for (const Token& t : Tokenize(sql)) {
        if (t.kind != TokKind::Name || t.text.front() != '[' || t.text.size() < 2 || t.text.back() != ']') {
            out += t.text;
            continue;
        }
        out += '"';
        for (const char c : t.text.substr(1, t.text.size() - 2)) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    return out;
}

std::vector<std::string> BdeParseParamNames(std::string_view sql)
{
    std::vector<std::string> names;
    for (const Token& t : Tokenize(sql))
        if (t.kind == TokKind::Param) names.emplace_back(t.text.substr(1));
    return names;
}

} // namespace bde
