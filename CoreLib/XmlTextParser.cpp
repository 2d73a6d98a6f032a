#include "CoreLib/XmlTextParser.h"

#include <algorithm>
#include <vector>

namespace simplexml {

namespace {

void AppendChar(std::string& out, char32_t c)
{
    if (c < 0x80)
        out.push_back(static_cast<char>(c));
    else
        rtl::AppendUtf8(out, c);
}

std::string CharText(char32_t c)
{
    std::string s;
    AppendChar(s, c);
    return s;
}

// The character source: bytes from a string or a stream, decoded as UTF-8
// or Windows-1251, with the position counters of the parser's messages.
class TXmlSource {
public:
    explicit TXmlSource(bool cp1251) : cp1251_(cp1251) {}
    virtual ~TXmlSource() = default;
    TXmlSource(const TXmlSource&) = delete;
    TXmlSource& operator=(const TXmlSource&) = delete;

    // Reads the first character without counting it.
    void Start() { Next(); }
    bool Eof() const { return atEnd_; }
    char32_t Cur() const { return cur_; }
    int Line() const { return line_; }
    int Column() const { return column_; }
    void SetCp1251(bool cp1251) { cp1251_ = cp1251; }

    bool NextChar()
    {
        if (!Next()) return false;
        if (cur_ == U'\r' || (cur_ == U'\n' && prev_ != U'\r')) {
            ++line_;
            column_ = 0;
        } else if (cur_ != U'\n') {
            ++column_;
        }
        prev_ = cur_;
        return true;
    }

    [[noreturn]] void Fail(const char* format) const { throw rtl::Exception(rtl::Format(format, line_, column_)); }
    [[noreturn]] void Fail(const char* format, std::string_view arg) const
    {
        throw rtl::Exception(rtl::Format(format, std::string(arg).c_str(), line_, column_));
    }

protected:
    virtual bool NextByte(std::uint8_t& b) = 0;

private:
    bool Next()
    {
        std::uint8_t b = 0;
        if (!NextByte(b)) {
            atEnd_ = true;
            cur_ = 0;
            return false;
        }
        if (b < 0x80)
            cur_ = b;
        else if (cp1251_)
            cur_ = rtl::Cp1251ToChar(b);
        else
            cur_ = DecodeUtf8(b);
        return true;
    }

    char32_t DecodeUtf8(std::uint8_t lead)
    {
        int extra = 0;
        char32_t c = 0;
        char32_t min = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            c = lead & 0x1F;
            min = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            c = lead & 0x0F;
            min = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            c = lead & 0x07;
            min = 0x10000;
        } else {
            Fail(SBadUtf8);
        }
        for (int i = 0; i < extra; ++i) {
            std::uint8_t b = 0;
            if (!NextByte(b) || (b & 0xC0) != 0x80) Fail(SBadUtf8);
            c = (c << 6) | (b & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) Fail(SBadUtf8);
        return c;
    }

    bool cp1251_;
    bool atEnd_ = false;
    char32_t cur_ = 0;
    char32_t prev_ = 0;
    int line_ = 0;
    int column_ = 0;
};

class TXmlStrSource final : public TXmlSource {
public:
    TXmlStrSource(std::string_view text, bool cp1251) : TXmlSource(cp1251), text_(text) { Start(); }

protected:
    bool NextByte(std::uint8_t& b) override
    {
        if (pos_ >= text_.size()) return false;
        b = static_cast<std::uint8_t>(text_[pos_++]);
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

class TXmlStmSource final : public TXmlSource {
public:
    TXmlStmSource(rtl::TStream& stream, std::size_t bufferSize)
        : TXmlSource(true), stream_(stream), buffer_(bufferSize)
    {
        remaining_ = std::max<std::int64_t>(stream_.Remaining(), 0);
        Start();
    }

protected:
    bool NextByte(std::uint8_t& b) override
    {
        if (pos_ == end_) {
            if (remaining_ == 0) return false;
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(remaining_, static_cast<std::int64_t>(buffer_.size())));
            stream_.ReadBuffer(buffer_.data(), n);
            remaining_ -= static_cast<std::int64_t>(n);
            pos_ = 0;
            end_ = n;
        }
        b = buffer_[pos_++];
        return true;
    }

private:
    rtl::TStream& stream_;
    std::vector<std::uint8_t> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::int64_t remaining_ = 0;
};

class TXmlParser {
public:
    // byteForm: the leading declaration's encoding decides how the rest is
    // decoded. Otherwise no encoding is looked at.
    TXmlParser(TXmlSource& source, rtl::RefPtr<TXmlNameTable> table, bool preserve, bool byteForm)
        : src_(source), table_(std::move(table)), preserve_(preserve), byteForm_(byteForm)
    {
    }

    void ParseContent(TXmlNode& owner, int level)
    {
        TXmlNodeList* list = owner.GetChildNodeList();
        while (!src_.Eof()) {
            int line = src_.Line();
            int column = src_.Column();
            std::string text = ReadText();
            const bool blank = AllBlank(text);
            if (level == 0 && !blank) documentStart_ = false;
            if (preserve_ || !blank) {
                auto* node = new TXmlText(table_, rtl::Variant(std::move(text)));
                node->SetPosition(line, column);
                list->AppendNew(node);
            }
            line = src_.Line();
            column = src_.Column();
            if (src_.Eof()) break;
            if (!src_.NextChar()) break; // a lone "<" at the very end
            // Only the first node made at the top level (blank text aside)
            // can be the leading declaration; a DOCTYPE makes no node.
            const bool leading = level == 0 && documentStart_;
            const int made = list->Count();
            switch (src_.Cur()) {
            case U'/':
                return;
            case U'?':
                ReadInstruction(*list, line, column, leading);
                break;
            case U'!':
                if (!src_.NextChar()) break;
                if (src_.Cur() == U'-') {
                    ExpectStr("--");
                    auto* node = new TXmlComment(table_, ReadUntil("-->"));
                    node->SetPosition(line, column);
                    list->AppendNew(node);
                } else if (src_.Cur() == U'[') {
                    ExpectStr("[CDATA[");
                    auto* node = new TXmlCDATASection(table_, ReadUntil("]]>"));
                    node->SetPosition(line, column);
                    list->AppendNew(node);
                } else {
                    ExpectStr("DOCTYPE");
                    ReadUntil(">");
                }
                break;
            default:
                ReadElement(*list, level, line, column);
            }
            if (level == 0 && list->Count() != made) documentStart_ = false;
        }
    }

    // Reads text as the parser reads the attributes of a declaration between
    // "<?xml" and "?>"; false when something other than attributes follows
    // (a "?" would end the declaration there).
    bool ReadDeclarationData(TXmlNode& declaration)
    {
        ReadAttributes(declaration);
        return src_.Eof() || src_.Cur() == U'?';
    }

private:
    void SkipBlanks()
    {
        while (!src_.Eof() && rtl::IsBlankChar(src_.Cur())) src_.NextChar();
    }

    std::string ReadName()
    {
        if (src_.Eof() || !IsNameStart(src_.Cur())) src_.Fail(SNameStart);
        std::string name;
        do {
            AppendChar(name, src_.Cur());
        } while (src_.NextChar() && IsNameChar(src_.Cur()));
        return name;
    }

    static bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
    static int HexValue(char32_t c)
    {
        if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
        if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
        if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
        return -1;
    }

    // Values beyond the last code point stop growing, so nothing overflows.
    static constexpr std::uint32_t kTooBig = 0x110000;

    std::uint32_t ReadDecimal()
    {
        if (src_.Eof() || !IsDigit(src_.Cur())) src_.Fail(SExpectedNumber);
        std::uint32_t v = 0;
        do {
            v = std::min<std::uint32_t>(v * 10 + static_cast<std::uint32_t>(src_.Cur() - U'0'), kTooBig);
        } while (src_.NextChar() && IsDigit(src_.Cur()));
        return v;
    }

    std::uint32_t ReadHex()
    {
        if (src_.Eof() || HexValue(src_.Cur()) < 0) src_.Fail(SExpectedHex);
        std::uint32_t v = 0;
        do {
            v = std::min<std::uint32_t>(v * 16 + static_cast<std::uint32_t>(HexValue(src_.Cur())), kTooBig);
        } while (src_.NextChar() && HexValue(src_.Cur()) >= 0);
        return v;
    }

    // CurChar is "&".
    char32_t ReadCharRef()
    {
        if (!src_.NextChar()) src_.Fail(SExpectedRef);
        if (src_.Cur() == U'#') {
            if (!src_.NextChar()) src_.Fail(SExpectedNumber);
            std::uint32_t code = 0;
            if (src_.Cur() == U'x') {
                src_.NextChar();
                code = ReadHex();
            } else {
                code = ReadDecimal();
            }
            if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) src_.Fail(SBadCharCode);
            Expect(U';');
            return code;
        }
        const std::string name = ReadName();
        Expect(U';');
        if (name == "amp") return U'&';
        if (name == "quot") return U'"';
        if (name == "lt") return U'<';
        if (name == "gt") return U'>';
        if (name == "apos") return U'\'';
        src_.Fail(SBadEntityName);
    }

    void Expect(char32_t c)
    {
        if (src_.Eof() || src_.Cur() != c) src_.Fail(SExpectedChar, CharText(c));
        src_.NextChar();
    }

    void ExpectStr(std::string_view text)
    {
        std::size_t pos = 0;
        while (pos < text.size()) {
            const std::size_t start = pos;
            const char32_t c = rtl::NextUtf8(text, pos);
            if (src_.Eof() || src_.Cur() != c) src_.Fail(SExpectedText, text.substr(start));
            src_.NextChar();
        }
    }

    std::string ReadQuoted(char32_t quote)
    {
        src_.NextChar();
        std::string value;
        while (!src_.Eof() && src_.Cur() != quote) {
            if (src_.Cur() == U'&') {
                AppendChar(value, ReadCharRef());
            } else if (src_.Cur() == U'<') {
                src_.Fail(SLessInAttr);
            } else {
                AppendChar(value, src_.Cur());
                src_.NextChar();
            }
        }
        if (src_.Eof()) src_.Fail(SExpectedQuote, CharText(quote));
        src_.NextChar();
        return value;
    }

    void ReadAttributes(TXmlNode& node)
    {
        SkipBlanks();
        while (!src_.Eof() && IsNameStart(src_.Cur())) {
            const std::string name = ReadName();
            SkipBlanks();
            Expect(U'=');
            SkipBlanks();
            if (src_.Eof()) src_.Fail(SExpectedAttrValue);
            if (src_.Cur() != U'\'' && src_.Cur() != U'"') src_.Fail(SExpectedString);
            std::string value = ReadQuoted(src_.Cur());
            node.StoreAttr(table_->GetID(name), rtl::Variant(std::move(value)));
            SkipBlanks();
        }
    }

    std::string ReadUntil(std::string_view terminator)
    {
        std::string text;
        for (;;) {
            if (src_.Eof()) src_.Fail(SExpectedTerminator, terminator);
            AppendChar(text, src_.Cur());
            src_.NextChar();
            if (text.size() >= terminator.size() &&
                text.compare(text.size() - terminator.size(), terminator.size(), terminator) == 0) {
                text.resize(text.size() - terminator.size());
                return text;
            }
        }
    }

    std::string ReadText()
    {
        std::string text;
        while (!src_.Eof() && src_.Cur() != U'<') {
            if (src_.Cur() == U'&') {
                AppendChar(text, ReadCharRef());
            } else {
                AppendChar(text, src_.Cur());
                src_.NextChar();
            }
        }
        return text;
    }

    void ReadInstruction(TXmlNodeList& list, int line, int column, bool leading)
    {
        src_.NextChar();
        const std::int32_t target = table_->GetID(ReadName());
        auto* node = new TXmlProcessingInstruction(table_, target, {});
        node->SetPosition(line, column);
        list.AppendNew(node);
        if (target == NAMEID_XML) {
            ReadAttributes(*node);
            if (leading && byteForm_) SwitchEncoding(*node);
            ExpectStr("?>");
        } else {
            // The blanks after the target separate it from the data; the
            // writer puts one back, so a round trip keeps the data as it is.
            SkipBlanks();
            node->SetData(ReadUntil("?>"));
        }
    }

    // The rest of the bytes are read in the encoding the declaration names.
    void SwitchEncoding(TXmlNode& declaration)
    {
        const rtl::Variant* v = declaration.FindAttr(table_->FindID("encoding"));
        if (!v) return;
        const std::string encoding = rtl::VarToStr(*v);
        if (rtl::SameTextLatin(encoding, "utf-8"))
            src_.SetCp1251(false);
        else if (rtl::SameTextLatin(encoding, "windows-1251"))
            src_.SetCp1251(true);
        else
            src_.Fail(SBadEncoding, encoding);
    }

    void ReadElement(TXmlNodeList& list, int level, int line, int column)
    {
        const std::string name = ReadName();
        const std::int32_t id = table_->GetID(name);
        if (src_.Eof()) Fail(SUnfinishedElement);
        const char32_t c = src_.Cur();
        if (!rtl::IsBlankChar(c) && c != U'/' && c != U'>') Fail(SBadElementNameChar);
        if (level >= kMaxNesting) src_.Fail(STooDeep);
        auto* element = new TXmlElement(table_, id);
        element->SetPosition(line, column);
        list.AppendNew(element);
        ReadAttributes(*element);
        if (!src_.Eof() && src_.Cur() == U'/') {
            ExpectStr("/>");
            return;
        }
        Expect(U'>');
        ParseContent(*element, level + 1);
        Expect(U'/');
        ExpectStr(name);
        SkipBlanks();
        Expect(U'>');
    }

    TXmlSource& src_;
    rtl::RefPtr<TXmlNameTable> table_;
    bool preserve_;
    bool byteForm_;
    bool documentStart_ = true;
};

} // namespace

void ParseXmlText(TXmlNode& owner, std::string_view bytes, bool cp1251, rtl::RefPtr<TXmlNameTable> table,
                  bool preserve, bool byteForm)
{
    TXmlStrSource source(bytes, cp1251);
    TXmlParser(source, std::move(table), preserve, byteForm).ParseContent(owner, 0);
}

void ParseXmlStream(TXmlNode& owner, rtl::TStream& stream, std::size_t bufferSize,
                    rtl::RefPtr<TXmlNameTable> table, bool preserve)
{
    TXmlStmSource source(stream, bufferSize);
    TXmlParser(source, std::move(table), preserve, true).ParseContent(owner, 0);
}

std::optional<std::string> DeclarationDataEncoding(std::string_view data)
{
    const rtl::RefPtr<TXmlNameTable> table(new TXmlNameTable(1));
    const TXmlNodeRef parsed(new TXmlProcessingInstruction(table, NAMEID_XML, {}));
    TXmlStrSource source(data, false);
    try {
        if (!TXmlParser(source, table, false, false).ReadDeclarationData(*parsed)) return std::nullopt;
    } catch (const rtl::Exception&) {
        return std::nullopt;
    }
    const rtl::Variant* v = parsed->FindAttr(table->FindID("encoding"));
    if (!v) return std::nullopt;
    return rtl::VarToStr(*v);
}

} // namespace simplexml
