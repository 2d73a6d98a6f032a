// The XML library: name tables, node lists, the node classes, documents,
// the text parser and writer, base64 and the value-to-text conversions.
//
// Nodes are reference-counted; a node holds its name table and its child
// list, a list holds its members, and the parent link is a plain pointer that
// the list clears when a member leaves it or when the list's owner dies. A
// node is in at most one child list: putting it into another first takes it
// out of the old one, and a node is never put into its own subtree.
//
// The parser reads characters (code points) from a string or a stream,
// decoding UTF-8 or Windows-1251 as described in SimpleXML.h, and builds the
// nodes directly. The writer appends to a string, either UTF-8 (Get_XML) or
// the stored byte form (Save). The binary form's name table and node tree are
// read and written here, over the byte-level readers and writers of
// BinaryXml.
#include "CoreLib/SimpleXML.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "CoreLib/BinaryXml.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/Resources.h"
#include "platform/rtl/TextUtils.h"

namespace {

// ---- messages ----------------------------------------------------------------
constexpr const char* SLoadFileError = "%s (%s)";                                          // 65203
constexpr const char* SAttrNameNotSet = "Ошибка установки значения атрибута: не задано имя.";  // 65204
constexpr const char* SEnumAttrNotFound = "Не найден атрибут \"%s\"";                       // 65216
constexpr const char* SAttrNotSet = "Не задан атрибут \"%s\"";                              // 65217
constexpr const char* SNotSupported = "Данная возможность не поддерживается SimpleXML";     // 65218
constexpr const char* SChildNotFound = "Ошибка: не найден дочерний элемент \"%s\".";        // 65219
constexpr const char* SNameStart = "Имя должно начинаться с буквы или \"_\" (стр. %d, поз. %d)"; // 65220
constexpr const char* SExpectedNumber = "Ожидается число (стр. %d, поз. %d)";              // 65221
constexpr const char* SExpectedHex = "Ожидается шестнадцатеричное число (стр. %d, поз. %d)"; // 65222
constexpr const char* SExpectedRef =
    "Ожидается \"#\" или имя упрамляющего символа (стр. %d, поз. %d)";                     // 65223
constexpr const char* SBadEntityName = "Некорректное имя управляющего символа (стр. %d, поз. %d)"; // 65224
constexpr const char* SExpectedChar = "Ожидается \"%s\" (стр. %d, поз. %d)";               // 65225
constexpr const char* SExpectedText = "Ожидается \"%s\" (стр. %d, поз. %d)";               // 65226
constexpr const char* SLessInAttr =
    "Символ \"<\" не может использоваться в значениях атрибутов (стр. %d, поз. %d)";       // 65227
constexpr const char* SExpectedQuote = "Ожидается \"%s\" (стр. %d, поз. %d)";              // 65228
constexpr const char* SExpectedAttrValue = "Ожидается значение атрибута (стр. %d, поз. %d)"; // 65229
constexpr const char* SExpectedString = "Ожидается строковая константа (стр. %d, поз. %d)"; // 65230
constexpr const char* SExpectedTerminator = "Ожидается \"%s\" (стр. %d, поз. %d)";         // 65231
constexpr const char* SListIndexError = "Ошибка получения элемента списка: индекс выходит за пределы"; // 65242
constexpr const char* SUnfinishedElement = "Не завершено определение элемента";             // 65243
constexpr const char* SBadElementNameChar = "Некорретный символ в имени элемента";          // 65244
constexpr const char* SBinReadNodeType = "Ошибка чтения двоичного XML: некорректный тип узла";  // 65245
constexpr const char* SBinWriteNodeType = "Ошибка записи двоичного XML: некорректный тип узла"; // 65246
constexpr const char* SBadEnumValue =
    "Неверное значение атрибута \"%s\" элемента \"%s\".\r\nДопустимые значения:\r\n%s";     // 65247

// This library's own additions.
constexpr const char* SBadCharCode = "Некорректный код символа (стр. %d, поз. %d)";
constexpr const char* SBadUtf8 = "Некорректная последовательность UTF-8 (стр. %d, поз. %d)";
constexpr const char* SBadEncoding = "Неподдерживаемая кодировка \"%s\" (стр. %d, поз. %d)";
constexpr const char* SCantSaveEncoding = "Документ не может быть сохранён в кодировке \"%s\"";
constexpr const char* SNonAsciiDeclaration =
    "Объявление документа в кодировке UTF-8 может содержать только символы ASCII";
constexpr const char* STooDeep = "Слишком глубокая вложенность элементов (стр. %d, поз. %d)";
constexpr const char* SCyclicInsert = "Узел не может быть вставлен в собственное поддерево";

constexpr int kDefaultBuckets = 4096;
// The most buckets a name table has, so that every table can be stored in
// the binary form and read back from it.
constexpr std::int32_t kMaxBuckets = 65536;
constexpr int kMaxNesting = 1000;
constexpr std::size_t kStreamBufferSize = 64 * 1024;
constexpr bool kDefaultPreserveWhiteSpace = false;

bool IsBlank(char32_t c) { return c <= 32; }
bool IsNameStart(char32_t c) { return c == U'_' || rtl::IsCharAlpha(c); }
bool IsNameChar(char32_t c)
{
    return c == U'-' || c == U'.' || c == U':' || c == U'_' || rtl::IsCharAlphaNumeric(c);
}

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

bool AllBlank(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) <= 32; });
}

bool HasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// A plain name: not empty, a name start, then name characters.
bool IsPlainName(std::string_view name)
{
    if (name.empty() || !rtl::IsValidUtf8(name)) return false;
    std::size_t pos = 0;
    bool first = true;
    while (pos < name.size()) {
        const char32_t c = rtl::NextUtf8(name, pos);
        if (first ? !IsNameStart(c) : !IsNameChar(c)) return false;
        first = false;
    }
    return true;
}

[[noreturn]] void Fail(const std::string& message) { throw rtl::Exception(message); }

std::uint32_t HashBytes(std::string_view bytes)
{
    std::uint32_t h = 0;
    for (const char c : bytes) h = h * 33 + static_cast<unsigned char>(c);
    return h;
}

} // namespace

// ---- object identity -------------------------------------------------------------

class TXmlBase : public virtual IXmlBase {
public:
    TXmlBase* GetObject() override { return this; }

protected:
    ~TXmlBase() override = default;
};

namespace {

class TXmlNameTable;
class TXmlNodeList;
class TXmlNode;
class TXmlElement;
class TXmlProcessingInstruction;
class TXmlDocument;

using TXmlNodeRef = rtl::RefPtr<TXmlNode>;

// ---- name table ------------------------------------------------------------------

class TXmlNameTable final : public TXmlBase, public IXmlNameTable {
public:
    explicit TXmlNameTable(int bucketCount)
        : buckets_(static_cast<std::size_t>(std::clamp(bucketCount, 1, kMaxBuckets)))
    {
        GetID("#text");
        GetID("#cdata-section");
        GetID("#comment");
        GetID("#document");
        GetID("xml");
    }

    std::int32_t GetID(std::string_view name) override
    {
        if (name.empty()) return -1;
        auto& bucket = buckets_[Hash(name) % buckets_.size()];
        for (const std::int32_t id : bucket)
            if (names_[static_cast<std::size_t>(id)] == name) return id;
        const auto id = static_cast<std::int32_t>(names_.size());
        names_.emplace_back(name);
        bucket.push_back(id);
        return id;
    }

    std::string GetName(std::int32_t id) override
    {
        if (!IsValidID(id)) return {};
        return names_[static_cast<std::size_t>(id)];
    }

    // The name's ID, -1 when it is not in the table (nothing is interned).
    std::int32_t FindID(std::string_view name) const
    {
        if (name.empty()) return -1;
        for (const std::int32_t id : buckets_[Hash(name) % buckets_.size()])
            if (names_[static_cast<std::size_t>(id)] == name) return id;
        return -1;
    }

    bool IsValidID(std::int32_t id) const { return id >= 0 && static_cast<std::size_t>(id) < names_.size(); }
    int Count() const { return static_cast<int>(names_.size()); }
    const std::string& NameOf(std::int32_t id) const { return names_[static_cast<std::size_t>(id)]; }
    int BucketCount() const { return static_cast<int>(buckets_.size()); }
    const std::vector<std::int32_t>& Bucket(int index) const { return buckets_[static_cast<std::size_t>(index)]; }

private:
    // The hash of the name's Windows-1251 bytes, the names' stored form, so
    // that the buckets the binary form stores are those of a table that
    // holds 8-bit names; a name that Windows-1251 cannot hold hashes its
    // UTF-8 bytes.
    static std::uint32_t Hash(std::string_view name)
    {
        const bool ascii = std::all_of(name.begin(), name.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii) return HashBytes(name);
        std::string bytes;
        return rtl::TryUtf8ToCp1251(name, bytes) ? HashBytes(bytes) : HashBytes(name);
    }

    std::vector<std::string> names_;
    std::vector<std::vector<std::int32_t>> buckets_;
};

TXmlNameTable* ToTable(IXmlNameTable* table)
{
    auto* obj = table ? dynamic_cast<TXmlNameTable*>(table->GetObject()) : nullptr;
    if (!obj) throw rtl::EInvalidCast(rtl::SInvalidCast);
    return obj;
}

rtl::RefPtr<TXmlNameTable>& SharedNameTable()
{
    static rtl::RefPtr<TXmlNameTable> table(new TXmlNameTable(kDefaultBuckets));
    return table;
}

// ---- writer ------------------------------------------------------------------------

// Appends text forms to one string. In the byte form, markup is Windows-1251
// (a character outside it is an error) and escaped text writes such a
// character as a numeric character reference.
struct TXmlWriter {
    std::string* out = nullptr;
    bool preserve = false;
    bool cp1251 = false;
    // Escaped text writes every character outside ASCII as a reference.
    bool asciiOnly = false;
    // The leading declaration of UTF-8 bytes: Load reads it before it knows
    // the encoding, so it is written in ASCII.
    const TXmlProcessingInstruction* asciiDeclaration = nullptr;
    int depth = 0;

    void Markup(std::string_view utf8) const
    {
        if (cp1251)
            *out += rtl::Utf8ToCp1251(utf8);
        else
            *out += utf8;
    }
    void Ascii(std::string_view s) const { *out += s; }
    void Escaped(std::string_view utf8) const
    {
        if (!cp1251 && !asciiOnly) {
            *out += XmlEscape(utf8);
            return;
        }
        std::size_t pos = 0;
        while (pos < utf8.size()) {
            const char32_t c = rtl::NextUtf8(utf8, pos);
            std::uint8_t b = 0;
            switch (c) {
            case U'"': *out += "&quot;"; break;
            case U'&': *out += "&amp;"; break;
            case U'<': *out += "&lt;"; break;
            case U'>': *out += "&gt;"; break;
            default:
                if (c < 0x80)
                    out->push_back(static_cast<char>(c));
                else if (!asciiOnly && rtl::CharToCp1251(c, b))
                    out->push_back(static_cast<char>(b));
                else
                    *out += "&#" + rtl::IntToStr(static_cast<std::int64_t>(c)) + ";";
            }
        }
    }
    void NewLine() const
    {
        *out += "\r\n";
        out->append(static_cast<std::size_t>(depth), '\t');
    }
};

// ---- node list ---------------------------------------------------------------------

class TXmlNodeList final : public TXmlBase, public IXmlNodeList {
public:
    explicit TXmlNodeList(TXmlNode* owner) : owner_(owner) {}
    ~TXmlNodeList() override;

    int Get_Count() override { return Count(); }
    IXmlNodePtr Get_Item(int index) override;
    std::string Get_XML() override;
    void Sort(const TXmlCompareNodes& compare) override;
    int IndexOf(const IXmlNodePtr& node) override;
    void Add(const IXmlNodePtr& node) override { Insert(node, -1); }
    void Insert(const IXmlNodePtr& node, int index) override;
    int Remove(const IXmlNodePtr& node) override;
    void Delete(int index) override;
    void Clear() override;

    int Count() const { return static_cast<int>(items_.size()); }
    TXmlNode* At(int index) const { return items_[static_cast<std::size_t>(index)].get(); }
    int IndexOfObj(const TXmlNode* node) const;
    // A new node of the owner's table (parser, Append and Create operations).
    void AppendNew(TXmlNode* node);
    void InsertNew(TXmlNode* node, int index);
    // Takes a node out of its old parent, refusing a cycle (owned lists only).
    void Adopt(TXmlNode* node);
    void InsertAt(TXmlNode* node, int index);
    void ReplaceAt(int index, TXmlNode* node);
    void RemoveObj(TXmlNode* node);
    void Reserve(int count) { items_.reserve(static_cast<std::size_t>(count)); }
    // The owner dies: the members lose their parent, the list becomes free.
    void OwnerGone();
    bool IsOwned() const { return owner_ != nullptr; }

private:
    void Attach(TXmlNode* node);
    void Detach(TXmlNode* node);
    void QuickSort(const TXmlCompareNodes& compare, int l, int r);

    TXmlNode* owner_;
    std::vector<TXmlNodeRef> items_;
};

// The node object behind an interface; EInvalidCast for a foreign one.
TXmlNode* ToNode(IXmlNode* node);
// As ToNode, and the node must be given.
TXmlNode* NeedNode(IXmlNode* node);

// ---- nodes -------------------------------------------------------------------------

struct TXmlAttrData {
    std::int32_t nameID;
    rtl::Variant value;
};

class TXmlNode : public TXmlBase, public virtual IXmlNode {
public:
    explicit TXmlNode(rtl::RefPtr<TXmlNameTable> table) : nameTable_(std::move(table)) {}
    ~TXmlNode() override
    {
        if (childNodes_) childNodes_->OwnerGone();
    }

    // -- the class's own virtual operations
    virtual TXmlNodeList* GetChildNodeList()
    {
        if (!childNodes_) childNodes_ = rtl::RefPtr<TXmlNodeList>(new TXmlNodeList(this));
        return childNodes_.get();
    }
    virtual void SetNodeNameID(std::int32_t) {}
    virtual TXmlNodeRef DoCloneNode(bool deep) = 0;
    virtual void WriteXml(TXmlWriter& w, bool inlineStart) = 0;
    virtual TXmlDocument* AsDocumentObj() { return nullptr; }
    virtual void ClearSimpleValue() {}

    // -- identity and value
    int Get_SourceLine() override { return sourceLine_; }
    int Get_SourceColumn() override { return sourceColumn_; }
    IXmlNameTablePtr Get_NameTable() override { return IXmlNameTablePtr(nameTable_.get()); }
    std::string Get_NodeName() override { return nameTable_->GetName(Get_NodeNameID()); }
    rtl::TVarType Get_DataType() override { return rtl::varString; }
    rtl::Variant Get_TypedValue() override { return rtl::Variant(Get_Text()); }
    void Set_TypedValue(const rtl::Variant& value) override { Set_Text(VarToXmlStr(value)); }
    std::string Get_XML() override
    {
        std::string out;
        TXmlWriter w;
        w.out = &out;
        w.preserve = IsPreserving();
        WriteXml(w, false);
        return out;
    }

    // -- tree
    IXmlNodePtr CloneNode(bool deep) override { return IXmlNodePtr(DoCloneNode(deep).get()); }
    IXmlNodePtr Get_ParentNode() override { return IXmlNodePtr(parent_); }
    IXmlDocumentPtr Get_OwnerDocument() override;
    IXmlNodePtr Get_NextSibling() override;
    IXmlNodeListPtr Get_ChildNodes() override { return IXmlNodeListPtr(GetChildNodeList()); }
    void AppendChild(const IXmlNodePtr& node) override { GetChildNodeList()->Insert(node, -1); }
    void InsertBefore(const IXmlNodePtr& node, const IXmlNodePtr& refNode) override;
    void ReplaceChild(const IXmlNodePtr& newNode, const IXmlNodePtr& oldNode) override;
    int RemoveChild(const IXmlNodePtr& node) override { return GetChildNodeList()->Remove(node); }

    // -- making children
    IXmlElementPtr AppendElement(std::int32_t nameID) override;
    IXmlElementPtr AppendElement(std::string_view name) override { return AppendElement(NameID(name)); }
    IXmlTextPtr AppendText(std::string_view value) override;
    IXmlCDATASectionPtr AppendCDATA(std::string_view data) override;
    IXmlCommentPtr AppendComment(std::string_view data) override;
    IXmlProcessingInstructionPtr AppendProcessingInstruction(std::int32_t targetID,
                                                             std::string_view data) override;
    IXmlProcessingInstructionPtr AppendProcessingInstruction(std::string_view target,
                                                             std::string_view data) override
    {
        return AppendProcessingInstruction(NameID(target), data);
    }

    // -- children by name
    std::string GetChildText(std::string_view name, std::string_view defaultValue) override
    {
        return GetChildText(NameID(name), defaultValue);
    }
    std::string GetChildText(std::int32_t nameID, std::string_view defaultValue) override
    {
        TXmlNode* child = FindChild(nameID);
        return child ? child->Get_Text() : std::string(defaultValue);
    }
    void SetChildText(std::string_view name, std::string_view text) override { SetChildText(NameID(name), text); }
    void SetChildText(std::int32_t nameID, std::string_view text) override
    {
        if (TXmlNode* child = FindChild(nameID))
            child->Set_Text(text);
        else
            AppendElement(nameID)->Set_Text(text);
    }
    IXmlNodePtr NeedChild(std::int32_t nameID) override
    {
        TXmlNode* child = FindChild(nameID);
        if (!child) Fail(rtl::Format(SChildNotFound, nameTable_->GetName(nameID).c_str()));
        return IXmlNodePtr(child);
    }
    IXmlNodePtr NeedChild(std::string_view name) override { return NeedChild(NameID(name)); }
    IXmlNodePtr EnsureChild(std::int32_t nameID) override
    {
        if (TXmlNode* child = FindChild(nameID)) return IXmlNodePtr(child);
        return IXmlNodePtr(AppendElement(nameID).get());
    }
    IXmlNodePtr EnsureChild(std::string_view name) override { return EnsureChild(NameID(name)); }
    void RemoveAllChilds() override
    {
        if (childNodes_) childNodes_->Clear();
    }
    IXmlNodeListPtr SelectNodes(std::string_view name) override;
    IXmlNodeListPtr SelectNodes(std::int32_t nameID) override;
    IXmlNodePtr SelectSingleNode(std::string_view name) override;
    IXmlElementPtr FindElement(std::string_view elementName, std::string_view attrName,
                               const rtl::Variant& attrValue) override;
    IXmlNodeListPtr FindElements(std::string_view elementName, std::string_view attrName,
                                 const rtl::Variant& attrValue) override;

    // -- attributes
    int Get_AttrCount() override { return static_cast<int>(attrs_.size()); }
    std::int32_t Get_AttrNameID(int index) override { return AttrAt(index).nameID; }
    std::string Get_AttrName(int index) override { return nameTable_->GetName(AttrAt(index).nameID); }
    void RemoveAttr(std::string_view name) override { RemoveAttr(NameID(name)); }
    void RemoveAttr(std::int32_t nameID) override
    {
        const auto it = std::find_if(attrs_.begin(), attrs_.end(),
                                     [nameID](const TXmlAttrData& a) { return a.nameID == nameID; });
        if (it != attrs_.end()) attrs_.erase(it);
    }
    void RemoveAllAttrs() override { attrs_.clear(); }
    bool AttrExists(std::int32_t nameID) override { return FindAttr(nameID) != nullptr; }
    bool AttrExists(std::string_view name) override { return AttrExists(NameID(name)); }
    rtl::TVarType GetAttrType(std::int32_t nameID) override
    {
        const rtl::Variant* v = FindAttr(nameID);
        return v ? v->VarType() : rtl::TVarType(rtl::varString);
    }
    rtl::TVarType GetAttrType(std::string_view name) override { return GetAttrType(NameID(name)); }
    rtl::Variant GetVarAttr(std::int32_t nameID, const rtl::Variant& defaultValue) override
    {
        const rtl::Variant* v = FindAttr(nameID);
        return v ? *v : defaultValue;
    }
    rtl::Variant GetVarAttr(std::string_view name, const rtl::Variant& defaultValue) override
    {
        return GetVarAttr(NameID(name), defaultValue);
    }
    void SetVarAttr(std::int32_t nameID, const rtl::Variant& value) override { StoreAttr(nameID, value); }
    void SetVarAttr(std::string_view name, const rtl::Variant& value) override { StoreAttr(NameID(name), value); }
    rtl::Variant NeedVarAttr(std::int32_t nameID) override { return NeedValue(nameID); }
    rtl::Variant NeedVarAttr(std::string_view name) override { return rtl::Variant(NeedAttr(name)); }
    std::string NeedAttr(std::int32_t nameID) override { return rtl::VarToStr(NeedValue(nameID)); }
    std::string NeedAttr(std::string_view name) override { return NeedAttr(NameID(name)); }
    std::string GetAttr(std::int32_t nameID, std::string_view defaultValue) override
    {
        const rtl::Variant* v = FindAttr(nameID);
        return v ? rtl::VarToStr(*v) : std::string(defaultValue);
    }
    std::string GetAttr(std::string_view name, std::string_view defaultValue) override
    {
        return GetAttr(NameID(name), defaultValue);
    }
    void SetAttr(std::int32_t nameID, std::string_view value) override
    {
        StoreAttr(nameID, rtl::Variant(std::string(value)));
    }
    void SetAttr(std::string_view name, std::string_view value) override { SetAttr(NameID(name), value); }
    bool GetBoolAttr(std::int32_t nameID, bool defaultValue) override
    {
        const rtl::Variant* v = FindAttr(nameID);
        return v ? v->AsBoolean() : defaultValue;
    }
    bool GetBoolAttr(std::string_view name, bool defaultValue) override
    {
        return GetBoolAttr(NameID(name), defaultValue);
    }
    void SetBoolAttr(std::int32_t nameID, bool value) override { StoreAttr(nameID, rtl::Variant(value)); }
    void SetBoolAttr(std::string_view name, bool value) override { SetBoolAttr(NameID(name), value); }
    std::int32_t GetIntAttr(std::int32_t nameID, std::int32_t defaultValue) override
    {
        const rtl::Variant* v = FindAttr(nameID);
        return v ? v->AsInteger() : defaultValue;
    }
    std::int32_t GetIntAttr(std::string_view name, std::int32_t defaultValue) override
    {
        return GetIntAttr(NameID(name), defaultValue);
    }
    void SetIntAttr(std::int32_t nameID, std::int32_t value) override { StoreAttr(nameID, rtl::Variant(value)); }
    void SetIntAttr(std::string_view name, std::int32_t value) override { SetIntAttr(NameID(name), value); }
    rtl::TDateTime GetDateTimeAttr(std::int32_t nameID, rtl::TDateTime defaultValue) override
    {
        const rtl::Variant* v = FindAttr(nameID);
        if (!v) return defaultValue;
        if (v->VarType() == rtl::varString || v->VarType() == rtl::varOleStr)
            return XmlStrToDateTime(v->AsString());
        return v->AsDateTime();
    }
    rtl::TDateTime GetDateTimeAttr(std::string_view name, rtl::TDateTime defaultValue) override
    {
        return GetDateTimeAttr(NameID(name), defaultValue);
    }
    void SetDateTimeAttr(std::int32_t nameID, rtl::TDateTime value) override
    {
        StoreAttr(nameID, rtl::Variant::DateTime(value));
    }
    void SetDateTimeAttr(std::string_view name, rtl::TDateTime value) override
    {
        SetDateTimeAttr(NameID(name), value);
    }
    double GetFloatAttr(std::int32_t nameID, double defaultValue) override
    {
        const rtl::Variant* v = FindAttr(nameID);
        return v ? FloatOf(*v) : defaultValue;
    }
    double GetFloatAttr(std::string_view name, double defaultValue) override
    {
        return GetFloatAttr(NameID(name), defaultValue);
    }
    double NeedFloatAttr(std::int32_t nameID) override { return FloatOf(NeedValue(nameID)); }
    double NeedFloatAttr(std::string_view name) override { return NeedFloatAttr(NameID(name)); }
    void SetFloatAttr(std::int32_t nameID, double value) override { StoreAttr(nameID, rtl::Variant(value)); }
    void SetFloatAttr(std::string_view name, double value) override { SetFloatAttr(NameID(name), value); }
    std::int32_t GetHexAttr(std::string_view name, std::int32_t defaultValue) override
    {
        return GetHexAttr(NameID(name), defaultValue);
    }
    std::int32_t GetHexAttr(std::int32_t nameID, std::int32_t defaultValue) override
    {
        const rtl::Variant* v = FindAttr(nameID);
        return v ? rtl::StrToInt("$" + rtl::VarToStr(*v)) : defaultValue;
    }
    void SetHexAttr(std::string_view name, std::int32_t value, int digits) override
    {
        SetHexAttr(NameID(name), value, digits);
    }
    void SetHexAttr(std::int32_t nameID, std::int32_t value, int digits) override
    {
        StoreAttr(nameID, rtl::Variant(rtl::IntToHex(static_cast<std::uint32_t>(value), digits)));
    }
    int GetEnumAttr(std::string_view name, const std::vector<std::string>& values, int defaultValue) override
    {
        return GetEnumAttr(NameID(name), values, defaultValue);
    }
    int GetEnumAttr(std::int32_t nameID, const std::vector<std::string>& values, int defaultValue) override
    {
        const rtl::Variant* v = FindAttr(nameID);
        return v ? EnumIndex(nameID, *v, values) : defaultValue;
    }
    int NeedEnumAttr(std::string_view name, const std::vector<std::string>& values) override
    {
        return NeedEnumAttr(NameID(name), values);
    }
    int NeedEnumAttr(std::int32_t nameID, const std::vector<std::string>& values) override
    {
        const rtl::Variant* v = FindAttr(nameID);
        if (!v) Fail(rtl::Format(SEnumAttrNotFound, nameTable_->GetName(nameID).c_str()));
        return EnumIndex(nameID, *v, values);
    }

    // -- content
    void ReplaceTextByCDATA(std::string_view text) override;
    void ReplaceTextByBinaryData(const void* buffer, std::size_t size, int lineLength) override;
    std::string GetTextAsBinaryData() override { return Base64Decode(Get_Text()); }
    std::string GetOwnText() override;
    rtl::Variant Get_Values(std::string_view path) override;
    void Set_Values(std::string_view path, const rtl::Variant& value) override;

    IXmlElementPtr AsElement() override { return nullptr; }
    IXmlTextPtr AsText() override { return nullptr; }
    IXmlCDATASectionPtr AsCDATASection() override { return nullptr; }
    IXmlCommentPtr AsComment() override { return nullptr; }
    IXmlProcessingInstructionPtr AsProcessingInstruction() override { return nullptr; }

    // -- for the library itself
    TXmlNameTable* Table() const { return nameTable_.get(); }
    TXmlNode* Parent() const { return parent_; }
    TXmlNodeList* ExistingChildren() const { return childNodes_.get(); }
    bool HasChildren() const { return childNodes_ && childNodes_->Count() > 0; }
    void SetPosition(int line, int column)
    {
        sourceLine_ = line;
        sourceColumn_ = column;
    }
    // White space is preserved when the document at the top of the parent
    // chain says so.
    bool IsPreserving();
    void StoreAttr(std::int32_t nameID, rtl::Variant value)
    {
        if (!nameTable_->IsValidID(nameID)) Fail(SAttrNameNotSet);
        for (auto& a : attrs_)
            if (a.nameID == nameID) {
                a.value = std::move(value);
                return;
            }
        attrs_.push_back({nameID, std::move(value)});
    }
    const rtl::Variant* FindAttr(std::int32_t nameID) const
    {
        for (const auto& a : attrs_)
            if (a.nameID == nameID) return &a.value;
        return nullptr;
    }
    void CopyAttrsFrom(const TXmlNode& other) { attrs_ = other.attrs_; }
    const std::vector<TXmlAttrData>& Attrs() const { return attrs_; }
    // Appends a record as it stands (the binary reader checks the ID).
    void AppendAttr(std::int32_t nameID, rtl::Variant value) { attrs_.push_back({nameID, std::move(value)}); }
    void WriteAttrs(TXmlWriter& w) const;
    // Puts the node and its subtree into another name table.
    void MoveToTable(TXmlNameTable* table, const std::vector<std::int32_t>& map);
    // The node's Get_Text joined over its element, text and CDATA children.
    std::string JoinedChildText();
    void WriteChildren(TXmlWriter& w, bool inlineChildren);
    // True when some child is a text node (mixed content).
    bool HasTextChild() const;

    friend class TXmlNodeList;

protected:
    std::int32_t NameID(std::string_view name) { return nameTable_->GetID(name); }
    void CheckNameID(std::int32_t id) const
    {
        RTL_ASSERT(nameTable_->IsValidID(id), "Invalid node name");
    }
    TXmlNode* FindChild(std::int32_t nameID) const
    {
        if (!childNodes_) return nullptr;
        for (int i = 0; i < childNodes_->Count(); ++i)
            if (childNodes_->At(i)->Get_NodeNameID() == nameID) return childNodes_->At(i);
        return nullptr;
    }
    const TXmlAttrData& AttrAt(int index) const
    {
        RTL_ASSERT(index >= 0 && index < static_cast<int>(attrs_.size()), "Attribute index out of range");
        return attrs_[static_cast<std::size_t>(index)];
    }
    const rtl::Variant& NeedValue(std::int32_t nameID)
    {
        const rtl::Variant* v = FindAttr(nameID);
        if (!v) Fail(rtl::Format(SAttrNotSet, nameTable_->GetName(nameID).c_str()));
        return *v;
    }
    // A Boolean counts as a number here (-1 or 0), as the variant sees it.
    static double FloatOf(const rtl::Variant& v)
    {
        if (v.IsNumeric() || v.VarType() == rtl::varBoolean) return v.AsDouble();
        return XmlStrToFloat(v.AsString());
    }
    int EnumIndex(std::int32_t nameID, const rtl::Variant& value, const std::vector<std::string>& values)
    {
        const std::string text = rtl::VarToStr(value);
        for (std::size_t i = 0; i < values.size(); ++i)
            if (rtl::SameText(values[i], text)) return static_cast<int>(i);
        std::string allowed;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0) allowed += "\r\n";
            allowed += values[i];
        }
        Fail(rtl::Format(SBadEnumValue, nameTable_->GetName(nameID).c_str(), Get_NodeName().c_str(),
                         allowed.c_str()));
    }
    void RemoveTextChildren()
    {
        if (!childNodes_) return;
        for (int i = childNodes_->Count() - 1; i >= 0; --i) {
            const int type = childNodes_->At(i)->Get_NodeType();
            if (type == NODE_TEXT || type == NODE_CDATA_SECTION) childNodes_->Delete(i);
        }
    }

    int sourceLine_ = 0;
    int sourceColumn_ = 0;
    TXmlNode* parent_ = nullptr;
    rtl::RefPtr<TXmlNameTable> nameTable_;
    std::vector<TXmlAttrData> attrs_;
    rtl::RefPtr<TXmlNodeList> childNodes_;
};

class TXmlElement final : public TXmlNode, public IXmlElement {
public:
    TXmlElement(rtl::RefPtr<TXmlNameTable> table, std::int32_t nameID)
        : TXmlNode(std::move(table)), nameID_(nameID)
    {
    }

    TXmlNodeList* GetChildNodeList() override
    {
        TXmlNodeList* list = TXmlNode::GetChildNodeList();
        MoveValueIntoList(list);
        return list;
    }
    void SetNodeNameID(std::int32_t id) override { nameID_ = id; }
    TXmlNodeRef DoCloneNode(bool deep) override;
    void WriteXml(TXmlWriter& w, bool inlineStart) override;
    void ClearSimpleValue() override { value_ = rtl::Variant(); }

    std::int32_t Get_NodeNameID() override { return nameID_; }
    int Get_NodeType() override { return NODE_ELEMENT; }
    std::string Get_Text() override
    {
        if (HasChildren()) return JoinedChildText();
        if (value_.IsEmpty()) return {};
        return VarToXmlStr(value_);
    }
    void Set_Text(std::string_view text) override
    {
        RemoveAllChilds();
        value_ = rtl::Variant(std::string(text));
    }
    rtl::TVarType Get_DataType() override
    {
        if (HasChildren() || value_.IsEmpty()) return rtl::varString;
        return value_.VarType();
    }
    rtl::Variant Get_TypedValue() override
    {
        if (HasChildren()) return rtl::Variant(Get_Text());
        return value_;
    }
    void Set_TypedValue(const rtl::Variant& value) override
    {
        RemoveAllChilds();
        value_ = value;
    }
    IXmlElementPtr AsElement() override { return IXmlElementPtr(this); }

private:
    void MoveValueIntoList(TXmlNodeList* list);

    std::int32_t nameID_;
    rtl::Variant value_;
};

class TXmlText final : public TXmlNode, public IXmlText {
public:
    TXmlText(rtl::RefPtr<TXmlNameTable> table, rtl::Variant value)
        : TXmlNode(std::move(table)), value_(std::move(value))
    {
    }
    TXmlNodeRef DoCloneNode(bool) override { return TXmlNodeRef(new TXmlText(nameTable_, value_)); }
    void WriteXml(TXmlWriter& w, bool) override { w.Escaped(VarToXmlStr(value_)); }
    std::int32_t Get_NodeNameID() override { return NAMEID_TEXT; }
    int Get_NodeType() override { return NODE_TEXT; }
    std::string Get_Text() override { return VarToXmlStr(value_); }
    void Set_Text(std::string_view text) override { value_ = rtl::Variant(std::string(text)); }
    rtl::TVarType Get_DataType() override { return value_.VarType(); }
    rtl::Variant Get_TypedValue() override { return value_; }
    void Set_TypedValue(const rtl::Variant& value) override { value_ = value; }
    IXmlTextPtr AsText() override { return IXmlTextPtr(this); }

private:
    rtl::Variant value_;
};

class TXmlCharacterData : public TXmlNode, public virtual IXmlCharacterData {
public:
    TXmlCharacterData(rtl::RefPtr<TXmlNameTable> table, std::string_view data)
        : TXmlNode(std::move(table)), data_(data)
    {
    }
    std::string Get_Text() override { return IsPreserving() ? data_ : rtl::Trim(data_); }
    void Set_Text(std::string_view text) override { data_ = text; }
    const std::string& Data() const { return data_; }

protected:
    std::string data_;
};

class TXmlCDATASection final : public TXmlCharacterData, public IXmlCDATASection {
public:
    using TXmlCharacterData::TXmlCharacterData;
    TXmlNodeRef DoCloneNode(bool) override { return TXmlNodeRef(new TXmlCDATASection(nameTable_, data_)); }
    void WriteXml(TXmlWriter& w, bool) override
    {
        std::string_view rest = data_;
        for (;;) {
            const std::size_t i = rest.find("]]>");
            w.Ascii("<![CDATA[");
            if (i == std::string_view::npos) {
                w.Markup(rest);
                w.Ascii("]]>");
                return;
            }
            w.Markup(rest.substr(0, i + 1));
            w.Ascii("]]>");
            rest.remove_prefix(i + 1);
        }
    }
    std::int32_t Get_NodeNameID() override { return NAMEID_CDATA_SECTION; }
    int Get_NodeType() override { return NODE_CDATA_SECTION; }
    IXmlCDATASectionPtr AsCDATASection() override { return IXmlCDATASectionPtr(this); }
};

class TXmlComment final : public TXmlCharacterData, public IXmlComment {
public:
    using TXmlCharacterData::TXmlCharacterData;
    TXmlNodeRef DoCloneNode(bool) override { return TXmlNodeRef(new TXmlComment(nameTable_, data_)); }
    void WriteXml(TXmlWriter& w, bool) override
    {
        w.Ascii("<!--");
        w.Markup(data_);
        w.Ascii("-->");
    }
    std::int32_t Get_NodeNameID() override { return NAMEID_COMMENT; }
    int Get_NodeType() override { return NODE_COMMENT; }
    IXmlCommentPtr AsComment() override { return IXmlCommentPtr(this); }
};

class TXmlProcessingInstruction final : public TXmlNode, public IXmlProcessingInstruction {
public:
    TXmlProcessingInstruction(rtl::RefPtr<TXmlNameTable> table, std::int32_t targetID, std::string_view data)
        : TXmlNode(std::move(table)), targetID_(targetID), data_(data)
    {
    }
    void SetNodeNameID(std::int32_t id) override { targetID_ = id; }
    TXmlNodeRef DoCloneNode(bool) override
    {
        return TXmlNodeRef(new TXmlProcessingInstruction(nameTable_, targetID_, data_));
    }
    void WriteXml(TXmlWriter& w, bool) override
    {
        w.Ascii("<?");
        w.Markup(nameTable_->GetName(targetID_));
        if (!data_.empty()) {
            w.Ascii(" ");
            w.Markup(data_);
        } else if (w.asciiDeclaration == this) {
            TXmlWriter ascii = w;
            ascii.asciiOnly = true;
            WriteAttrs(ascii);
        } else {
            WriteAttrs(w);
        }
        w.Ascii("?>");
    }
    std::int32_t Get_NodeNameID() override { return targetID_; }
    int Get_NodeType() override { return NODE_PROCESSING_INSTRUCTION; }
    std::string Get_Text() override { return data_; }
    void Set_Text(std::string_view text) override { data_ = text; }
    IXmlProcessingInstructionPtr AsProcessingInstruction() override
    {
        return IXmlProcessingInstructionPtr(this);
    }
    const std::string& Data() const { return data_; }
    void SetData(std::string data) { data_ = std::move(data); }

private:
    std::int32_t targetID_;
    std::string data_;
};

class TXmlDocument final : public TXmlNode, public IXmlDocument {
public:
    explicit TXmlDocument(rtl::RefPtr<TXmlNameTable> table) : TXmlNode(std::move(table)) {}

    TXmlNodeRef DoCloneNode(bool deep) override;
    void WriteXml(TXmlWriter& w, bool) override { WriteChildren(w, !w.preserve && HasTextChild()); }
    TXmlDocument* AsDocumentObj() override { return this; }

    std::int32_t Get_NodeNameID() override { return NAMEID_DOCUMENT; }
    int Get_NodeType() override { return NODE_DOCUMENT; }
    std::string Get_Text() override { return HasChildren() ? JoinedChildText() : std::string(); }
    void Set_Text(std::string_view text) override
    {
        TXmlNodeList* list = GetChildNodeList();
        list->Clear();
        list->InsertNew(new TXmlText(nameTable_, rtl::Variant(std::string(text))), 0);
    }

    IXmlElementPtr Get_DocumentElement() override
    {
        if (!childNodes_) return nullptr;
        for (int i = 0; i < childNodes_->Count(); ++i)
            if (childNodes_->At(i)->Get_NodeType() == NODE_ELEMENT) return childNodes_->At(i)->AsElement();
        return nullptr;
    }
    std::string Get_BinaryXML() override { return BinaryForm(0); }
    bool Get_PreserveWhiteSpace() override { return preserve_; }
    void Set_PreserveWhiteSpace(bool value) override { preserve_ = value; }
    IXmlElementPtr NewDocument(std::string_view version, std::string_view encoding,
                               std::int32_t rootNameID) override;
    IXmlElementPtr NewDocument(std::string_view version, std::string_view encoding,
                               std::string_view rootName) override
    {
        return NewDocument(version, encoding, NameID(rootName));
    }
    IXmlElementPtr CreateElement(std::int32_t nameID) override
    {
        CheckNameID(nameID);
        return IXmlElementPtr(new TXmlElement(nameTable_, nameID));
    }
    IXmlElementPtr CreateElement(std::string_view name) override { return CreateElement(NameID(name)); }
    IXmlTextPtr CreateText(std::string_view value) override
    {
        return IXmlTextPtr(new TXmlText(nameTable_, rtl::Variant(std::string(value))));
    }
    IXmlCDATASectionPtr CreateCDATASection(std::string_view data) override
    {
        return IXmlCDATASectionPtr(new TXmlCDATASection(nameTable_, data));
    }
    IXmlCommentPtr CreateComment(std::string_view data) override
    {
        return IXmlCommentPtr(new TXmlComment(nameTable_, data));
    }
    IXmlProcessingInstructionPtr CreateProcessingInstruction(std::string_view target,
                                                             std::string_view data) override
    {
        return CreateProcessingInstruction(NameID(target), data);
    }
    IXmlProcessingInstructionPtr CreateProcessingInstruction(std::int32_t targetID,
                                                             std::string_view data) override
    {
        CheckNameID(targetID);
        return IXmlProcessingInstructionPtr(new TXmlProcessingInstruction(nameTable_, targetID, data));
    }
    void LoadXML(std::string_view xml) override;
    void LoadBinaryXML(std::string_view xml) override;
    void Load(rtl::TStream& stream) override;
    void Load(const std::string& fileName) override;
    void LoadResource(std::string_view resType, std::string_view resName) override;
    void Save(rtl::TStream& stream) override
    {
        const std::string bytes = ByteForm();
        if (!bytes.empty()) stream.WriteBuffer(bytes.data(), bytes.size());
    }
    void Save(const std::string& fileName) override
    {
        // The text is made first, so a failure leaves an existing file alone.
        const std::string bytes = ByteForm();
        rtl::TFileStream file(fileName, rtl::fmCreate);
        if (!bytes.empty()) file.WriteBuffer(bytes.data(), bytes.size());
    }
    void SaveBinary(rtl::TStream& stream, int options) override;
    void SaveBinary(const std::string& fileName, int options) override
    {
        // The bytes are made first, so a failure leaves an existing file alone.
        const std::string bytes = BinaryForm(static_cast<std::uint32_t>(options));
        rtl::TFileStream file(fileName, rtl::fmCreate);
        file.WriteBuffer(bytes.data(), bytes.size());
    }

private:
    void Empty()
    {
        if (childNodes_) childNodes_->Clear();
        attrs_.clear();
    }
    std::string ByteForm();
    TXmlProcessingInstruction* LeadingDeclaration() const;
    std::string BinaryForm(std::uint32_t options);
    // Reads the name table and the node content after the Options; the
    // document is empty and holds a new table of its own.
    void ReadBinary(TBinXmlReader& reader);
    void WriteBinary(TBinXmlWriter& writer);

    bool preserve_ = kDefaultPreserveWhiteSpace;
};

TXmlNode* ToNode(IXmlNode* node)
{
    if (!node) return nullptr;
    auto* obj = dynamic_cast<TXmlNode*>(node->GetObject());
    if (!obj) throw rtl::EInvalidCast(rtl::SInvalidCast);
    return obj;
}

TXmlNode* NeedNode(IXmlNode* node)
{
    RTL_ASSERT(node != nullptr, "Node not assigned");
    return ToNode(node);
}

// ---- node list: operations ---------------------------------------------------------

TXmlNodeList::~TXmlNodeList() { OwnerGone(); }

void TXmlNodeList::OwnerGone()
{
    if (owner_)
        for (auto& item : items_) item->parent_ = nullptr;
    owner_ = nullptr;
}

IXmlNodePtr TXmlNodeList::Get_Item(int index)
{
    if (index < 0 || index >= Count()) Fail(SListIndexError);
    return IXmlNodePtr(At(index));
}

std::string TXmlNodeList::Get_XML()
{
    std::string out;
    for (auto& item : items_) {
        TXmlWriter w;
        w.out = &out;
        w.preserve = item->IsPreserving();
        item->WriteXml(w, false);
    }
    return out;
}

void TXmlNodeList::Sort(const TXmlCompareNodes& compare)
{
    if (items_.empty() || !compare) return;
    QuickSort(compare, 0, Count() - 1);
}

void TXmlNodeList::QuickSort(const TXmlCompareNodes& compare, int l, int r)
{
    // Partitions [l, r] around its middle member, then sorts the smaller of
    // the two parts by recursion and goes on with the larger one in the loop,
    // so the recursion is never deeper than log2 of the count. The scans stay
    // inside [l, r] even for a compare function that is not a consistent
    // order; a single member is still compared once, with itself.
    do {
        int i = l;
        int j = r;
        const TXmlNodeRef pivot = items_[static_cast<std::size_t>((l + r) / 2)];
        do {
            while (compare(At(i), pivot.get()) < 0 && i < r) ++i;
            while (j > l && compare(At(j), pivot.get()) > 0) --j;
            if (i <= j) {
                std::swap(items_[static_cast<std::size_t>(i)], items_[static_cast<std::size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        // Left are [l, j] and [i, r].
        if (j - l < r - i) {
            if (l < j) QuickSort(compare, l, j);
            l = i;
        } else {
            if (i < r) QuickSort(compare, i, r);
            r = j;
        }
    } while (l < r);
}

int TXmlNodeList::IndexOfObj(const TXmlNode* node) const
{
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == node) return static_cast<int>(i);
    return -1;
}

int TXmlNodeList::IndexOf(const IXmlNodePtr& node)
{
    return node ? IndexOfObj(ToNode(node.get())) : -1;
}

void TXmlNodeList::Attach(TXmlNode* node)
{
    if (!owner_) return;
    node->parent_ = owner_;
    TXmlNameTable* table = owner_->Table();
    if (node->Table() != table) {
        TXmlNameTable* old = node->Table();
        std::vector<std::int32_t> map(static_cast<std::size_t>(old->Count()));
        for (int id = 0; id < old->Count(); ++id) map[static_cast<std::size_t>(id)] = table->GetID(old->NameOf(id));
        node->MoveToTable(table, map);
    }
}

void TXmlNodeList::Detach(TXmlNode* node)
{
    if (owner_) node->parent_ = nullptr;
}

void TXmlNodeList::AppendNew(TXmlNode* node)
{
    items_.emplace_back(node);
    if (owner_) node->parent_ = owner_;
}

void TXmlNodeList::InsertNew(TXmlNode* node, int index)
{
    items_.emplace(items_.begin() + index, node);
    if (owner_) node->parent_ = owner_;
}

void TXmlNodeList::Adopt(TXmlNode* node)
{
    if (!owner_) return;
    for (const TXmlNode* p = owner_; p; p = p->parent_)
        if (p == node) Fail(SCyclicInsert);
    if (TXmlNode* oldParent = node->parent_) {
        if (TXmlNodeList* oldList = oldParent->childNodes_.get())
            oldList->RemoveObj(node);
        node->parent_ = nullptr;
    }
}

void TXmlNodeList::InsertAt(TXmlNode* node, int index)
{
    if (index < 0 || index > Count()) index = Count();
    items_.emplace(items_.begin() + index, node);
    Attach(node);
}

void TXmlNodeList::Insert(const IXmlNodePtr& node, int index)
{
    TXmlNode* n = NeedNode(node.get());
    RTL_ASSERT(index >= -1 && index <= Count(), "List index out of range");
    const TXmlNodeRef keep(n);
    Adopt(n);
    InsertAt(n, index);
}

void TXmlNodeList::ReplaceAt(int index, TXmlNode* node)
{
    auto& slot = items_[static_cast<std::size_t>(index)];
    if (slot.get() == node) return;
    const TXmlNodeRef old = slot;
    Detach(old.get());
    slot = TXmlNodeRef(node);
    Attach(node);
}

void TXmlNodeList::RemoveObj(TXmlNode* node)
{
    const int i = IndexOfObj(node);
    if (i >= 0) Delete(i);
}

int TXmlNodeList::Remove(const IXmlNodePtr& node)
{
    const int i = IndexOf(node);
    if (i >= 0) Delete(i);
    return i;
}

void TXmlNodeList::Delete(int index)
{
    RTL_ASSERT(index >= 0 && index < Count(), "List index out of range");
    const TXmlNodeRef node = items_[static_cast<std::size_t>(index)];
    items_.erase(items_.begin() + index);
    Detach(node.get());
}

void TXmlNodeList::Clear()
{
    std::vector<TXmlNodeRef> old;
    old.swap(items_);
    for (auto& item : old) Detach(item.get());
}

// ---- nodes: operations -------------------------------------------------------------

bool TXmlNode::IsPreserving()
{
    TXmlNode* top = this;
    while (top->parent_) top = top->parent_;
    TXmlDocument* doc = top->AsDocumentObj();
    return doc ? doc->Get_PreserveWhiteSpace() : kDefaultPreserveWhiteSpace;
}

IXmlDocumentPtr TXmlNode::Get_OwnerDocument()
{
    for (TXmlNode* p = this; p; p = p->parent_)
        if (TXmlDocument* doc = p->AsDocumentObj()) return IXmlDocumentPtr(doc);
    return nullptr;
}

IXmlNodePtr TXmlNode::Get_NextSibling()
{
    if (!parent_ || !parent_->childNodes_) return nullptr;
    const TXmlNodeList* list = parent_->childNodes_.get();
    const int i = list->IndexOfObj(this);
    if (i < 0 || i + 1 >= list->Count()) return nullptr;
    return IXmlNodePtr(list->At(i + 1));
}

void TXmlNode::InsertBefore(const IXmlNodePtr& node, const IXmlNodePtr& refNode)
{
    TXmlNode* n = NeedNode(node.get());
    TXmlNode* ref = ToNode(refNode.get());
    TXmlNodeList* list = GetChildNodeList();
    if (n == ref && list->IndexOfObj(n) >= 0) return;
    const TXmlNodeRef keep(n);
    list->Adopt(n);
    list->InsertAt(n, ref ? list->IndexOfObj(ref) : -1);
}

void TXmlNode::ReplaceChild(const IXmlNodePtr& newNode, const IXmlNodePtr& oldNode)
{
    TXmlNode* n = NeedNode(newNode.get());
    TXmlNode* old = ToNode(oldNode.get());
    TXmlNodeList* list = GetChildNodeList();
    if (!old || list->IndexOfObj(old) < 0 || n == old) return;
    const TXmlNodeRef keep(n);
    list->Adopt(n);
    list->ReplaceAt(list->IndexOfObj(old), n);
}

IXmlElementPtr TXmlNode::AppendElement(std::int32_t nameID)
{
    CheckNameID(nameID);
    auto* el = new TXmlElement(nameTable_, nameID);
    IXmlElementPtr result(el);
    GetChildNodeList()->AppendNew(el);
    return result;
}

IXmlTextPtr TXmlNode::AppendText(std::string_view value)
{
    auto* node = new TXmlText(nameTable_, rtl::Variant(std::string(value)));
    IXmlTextPtr result(node);
    GetChildNodeList()->AppendNew(node);
    return result;
}

IXmlCDATASectionPtr TXmlNode::AppendCDATA(std::string_view data)
{
    auto* node = new TXmlCDATASection(nameTable_, data);
    IXmlCDATASectionPtr result(node);
    GetChildNodeList()->AppendNew(node);
    return result;
}

IXmlCommentPtr TXmlNode::AppendComment(std::string_view data)
{
    auto* node = new TXmlComment(nameTable_, data);
    IXmlCommentPtr result(node);
    GetChildNodeList()->AppendNew(node);
    return result;
}

IXmlProcessingInstructionPtr TXmlNode::AppendProcessingInstruction(std::int32_t targetID, std::string_view data)
{
    CheckNameID(targetID);
    auto* node = new TXmlProcessingInstruction(nameTable_, targetID, data);
    IXmlProcessingInstructionPtr result(node);
    GetChildNodeList()->AppendNew(node);
    return result;
}

IXmlNodeListPtr TXmlNode::SelectNodes(std::string_view name)
{
    if (!IsPlainName(name)) Fail(SNotSupported);
    const std::int32_t id = NameID(name);
    const TXmlNodeList* list = GetChildNodeList();
    IXmlNodeListPtr result(new TXmlNodeList(nullptr));
    for (int i = 0; i < list->Count(); ++i) {
        TXmlNode* child = list->At(i);
        if (child->Get_NodeType() == NODE_ELEMENT && child->Get_NodeNameID() == id)
            result->Add(IXmlNodePtr(child));
    }
    return result;
}

IXmlNodeListPtr TXmlNode::SelectNodes(std::int32_t nameID)
{
    const TXmlNodeList* list = GetChildNodeList();
    IXmlNodeListPtr result(new TXmlNodeList(nullptr));
    for (int i = 0; i < list->Count(); ++i)
        if (list->At(i)->Get_NodeNameID() == nameID) result->Add(IXmlNodePtr(list->At(i)));
    return result;
}

IXmlNodePtr TXmlNode::SelectSingleNode(std::string_view name)
{
    if (!IsPlainName(name)) Fail(SNotSupported);
    const std::int32_t id = NameID(name);
    const TXmlNodeList* list = GetChildNodeList();
    for (int i = 0; i < list->Count(); ++i) {
        TXmlNode* child = list->At(i);
        if (child->Get_NodeType() == NODE_ELEMENT && child->Get_NodeNameID() == id) return IXmlNodePtr(child);
    }
    return nullptr;
}

namespace {
bool SafeEquals(const rtl::Variant& a, const rtl::Variant& b)
{
    try {
        return a.Equals(b);
    } catch (const rtl::Exception&) {
        return false;
    }
}
} // namespace

IXmlElementPtr TXmlNode::FindElement(std::string_view elementName, std::string_view attrName,
                                     const rtl::Variant& attrValue)
{
    const std::int32_t elementID = NameID(elementName);
    const std::int32_t attrID = NameID(attrName);
    if (!childNodes_) return nullptr;
    for (int i = 0; i < childNodes_->Count(); ++i) {
        TXmlNode* child = childNodes_->At(i);
        if (child->Get_NodeType() != NODE_ELEMENT || child->Get_NodeNameID() != elementID) continue;
        const rtl::Variant* v = child->FindAttr(attrID);
        if (v && SafeEquals(*v, attrValue)) return child->AsElement();
    }
    return nullptr;
}

IXmlNodeListPtr TXmlNode::FindElements(std::string_view elementName, std::string_view attrName,
                                       const rtl::Variant& attrValue)
{
    const std::int32_t elementID = NameID(elementName);
    const std::int32_t attrID = NameID(attrName);
    IXmlNodeListPtr result(new TXmlNodeList(nullptr));
    if (!childNodes_) return result;
    for (int i = 0; i < childNodes_->Count(); ++i) {
        TXmlNode* child = childNodes_->At(i);
        if (child->Get_NodeType() != NODE_ELEMENT || child->Get_NodeNameID() != elementID) continue;
        const rtl::Variant* v = child->FindAttr(attrID);
        if (v && SafeEquals(*v, attrValue)) result->Add(IXmlNodePtr(child));
    }
    return result;
}

void TXmlNode::ReplaceTextByCDATA(std::string_view text)
{
    // The simple value is the element's text as well: it goes too.
    ClearSimpleValue();
    RemoveTextChildren();
    TXmlNodeList* list = GetChildNodeList();
    for (;;) {
        const std::size_t i = text.find("]]>");
        if (i == std::string_view::npos) {
            list->AppendNew(new TXmlCDATASection(nameTable_, text));
            return;
        }
        list->AppendNew(new TXmlCDATASection(nameTable_, text.substr(0, i + 1)));
        text.remove_prefix(i + 1);
    }
}

void TXmlNode::ReplaceTextByBinaryData(const void* buffer, std::size_t size, int lineLength)
{
    ClearSimpleValue();
    RemoveTextChildren();
    AppendText(Base64Encode(buffer, size, lineLength));
}

std::string TXmlNode::GetOwnText()
{
    const TXmlNodeList* list = GetChildNodeList();
    std::string out;
    for (int i = 0; i < list->Count(); ++i) {
        const int type = list->At(i)->Get_NodeType();
        if (type == NODE_TEXT || type == NODE_CDATA_SECTION) out += list->At(i)->Get_Text();
    }
    return out;
}

rtl::Variant TXmlNode::Get_Values(std::string_view path)
{
    if (path.empty()) return Get_TypedValue();
    if (path.front() == '@') return GetVarAttr(path.substr(1), rtl::Variant(std::string()));
    const IXmlNodePtr child = SelectSingleNode(path);
    return child ? child->Get_TypedValue() : rtl::Variant(std::string());
}

void TXmlNode::Set_Values(std::string_view path, const rtl::Variant& value)
{
    if (path.empty()) {
        Set_TypedValue(value);
    } else if (path.front() == '@') {
        SetVarAttr(path.substr(1), value);
    } else if (const IXmlNodePtr child = SelectSingleNode(path)) {
        child->Set_TypedValue(value);
    } else {
        AppendElement(path)->Set_TypedValue(value);
    }
}

std::string TXmlNode::JoinedChildText()
{
    std::string out;
    for (int i = 0; i < childNodes_->Count(); ++i) {
        TXmlNode* child = childNodes_->At(i);
        const int type = child->Get_NodeType();
        if (type != NODE_ELEMENT && type != NODE_TEXT && type != NODE_CDATA_SECTION) continue;
        const std::string text = child->Get_Text();
        if (text.empty()) continue;
        if (!out.empty()) out += ' ';
        out += text;
    }
    return out;
}

bool TXmlNode::HasTextChild() const
{
    if (!childNodes_) return false;
    for (int i = 0; i < childNodes_->Count(); ++i)
        if (childNodes_->At(i)->Get_NodeType() == NODE_TEXT) return true;
    return false;
}

void TXmlNode::WriteAttrs(TXmlWriter& w) const
{
    for (const auto& a : attrs_) {
        w.Ascii(" ");
        w.Markup(nameTable_->GetName(a.nameID));
        w.Ascii("=\"");
        w.Escaped(VarToXmlStr(a.value));
        w.Ascii("\"");
    }
}

void TXmlNode::WriteChildren(TXmlWriter& w, bool inlineChildren)
{
    if (!childNodes_) return;
    for (int i = 0; i < childNodes_->Count(); ++i) childNodes_->At(i)->WriteXml(w, inlineChildren);
}

void TXmlNode::MoveToTable(TXmlNameTable* table, const std::vector<std::int32_t>& map)
{
    auto mapped = [&map](std::int32_t id) {
        return id >= 0 && static_cast<std::size_t>(id) < map.size() ? map[static_cast<std::size_t>(id)] : id;
    };
    SetNodeNameID(mapped(Get_NodeNameID()));
    for (auto& a : attrs_) a.nameID = mapped(a.nameID);
    nameTable_ = rtl::RefPtr<TXmlNameTable>(table);
    if (childNodes_)
        for (int i = 0; i < childNodes_->Count(); ++i) childNodes_->At(i)->MoveToTable(table, map);
}

// ---- element -------------------------------------------------------------------------

void TXmlElement::MoveValueIntoList(TXmlNodeList* list)
{
    if (value_.IsClear()) return;
    const std::string text = VarToXmlStr(value_);
    value_ = rtl::Variant();
    if (!text.empty()) list->InsertNew(new TXmlText(nameTable_, rtl::Variant(text)), 0);
}

TXmlNodeRef TXmlElement::DoCloneNode(bool deep)
{
    auto* clone = new TXmlElement(nameTable_, nameID_);
    TXmlNodeRef result(clone);
    clone->CopyAttrsFrom(*this);
    clone->value_ = value_;
    if (deep && childNodes_) {
        TXmlNodeList* list = clone->TXmlNode::GetChildNodeList();
        for (int i = 0; i < childNodes_->Count(); ++i) {
            const TXmlNodeRef child = childNodes_->At(i)->DoCloneNode(true);
            list->AppendNew(child.get());
        }
    }
    return result;
}

void TXmlElement::WriteXml(TXmlWriter& w, bool inlineStart)
{
    const std::string& name = nameTable_->NameOf(nameID_);
    std::string content;
    const bool hasChildren = HasChildren();
    // Mixed content (text among the children) is written as it stands, so
    // that reading it back gives the same texts.
    const bool mixed = hasChildren && !w.preserve && HasTextChild();
    if (hasChildren) {
        std::string* const saved = w.out;
        w.out = &content;
        ++w.depth;
        try {
            WriteChildren(w, w.preserve || mixed);
        } catch (...) {
            --w.depth;
            w.out = saved;
            throw;
        }
        --w.depth;
        w.out = saved;
    } else if (!value_.IsEmpty()) {
        TXmlWriter inner = w;
        inner.out = &content;
        inner.Escaped(VarToXmlStr(value_));
    }

    if (!w.preserve && !inlineStart) w.NewLine();
    w.Ascii("<");
    w.Markup(name);
    WriteAttrs(w);
    if (content.empty()) {
        w.Ascii("/>");
        return;
    }
    w.Ascii(">");
    *w.out += content;
    // Only element-only content gets its end tag on a line of its own.
    if (!w.preserve && hasChildren && !mixed && HasLineBreak(content)) {
        if (content.size() < 2 || content.compare(content.size() - 2, 2, "\r\n") != 0) *w.out += "\r\n";
        w.out->append(static_cast<std::size_t>(w.depth), '\t');
    }
    w.Ascii("</");
    w.Markup(name);
    w.Ascii(">");
}

// ---- document ------------------------------------------------------------------------

TXmlNodeRef TXmlDocument::DoCloneNode(bool deep)
{
    auto* clone = new TXmlDocument(nameTable_);
    TXmlNodeRef result(clone);
    if (deep && childNodes_) {
        TXmlNodeList* list = clone->GetChildNodeList();
        for (int i = 0; i < childNodes_->Count(); ++i) {
            const TXmlNodeRef child = childNodes_->At(i)->DoCloneNode(true);
            list->AppendNew(child.get());
        }
    }
    return result;
}

IXmlElementPtr TXmlDocument::NewDocument(std::string_view version, std::string_view encoding,
                                         std::int32_t rootNameID)
{
    CheckNameID(rootNameID);
    TXmlNodeList* list = GetChildNodeList();
    list->Clear();
    std::string data = "version=\"";
    data += version;
    data += "\" encoding=\"";
    data += encoding.empty() ? std::string_view("windows-1251") : encoding;
    data += "\"";
    list->InsertNew(new TXmlProcessingInstruction(nameTable_, NAMEID_XML, data), 0);
    auto* root = new TXmlElement(nameTable_, rootNameID);
    IXmlElementPtr result(root);
    list->InsertNew(root, 1);
    return result;
}

// ---- parser --------------------------------------------------------------------------

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
        while (!src_.Eof() && IsBlank(src_.Cur())) src_.NextChar();
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
        if (!IsBlank(c) && c != U'/' && c != U'>') Fail(SBadElementNameChar);
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

// ---- document saving -----------------------------------------------------------------

// The document's first child, blank text aside, when it is a declaration:
// the one node Load takes the encoding from.
TXmlProcessingInstruction* TXmlDocument::LeadingDeclaration() const
{
    if (!childNodes_) return nullptr;
    for (int i = 0; i < childNodes_->Count(); ++i) {
        TXmlNode* child = childNodes_->At(i);
        if (child->Get_NodeType() == NODE_TEXT && AllBlank(child->Get_Text())) continue;
        if (child->Get_NodeType() != NODE_PROCESSING_INSTRUCTION || child->Get_NodeNameID() != NAMEID_XML)
            return nullptr;
        return static_cast<TXmlProcessingInstruction*>(child);
    }
    return nullptr;
}

// The encoding Load finds in a declaration written from this node: its data,
// read as the parser reads it, or else its attributes. nullopt when it names
// none, or when its data are no attributes (Load then fails on them anyway).
std::optional<std::string> WrittenEncoding(TXmlProcessingInstruction& declaration)
{
    if (declaration.Data().empty()) {
        const rtl::Variant* v = declaration.FindAttr(declaration.Table()->FindID("encoding"));
        if (!v) return std::nullopt;
        return VarToXmlStr(*v);
    }
    const rtl::RefPtr<TXmlNameTable> table(new TXmlNameTable(1));
    const TXmlNodeRef parsed(new TXmlProcessingInstruction(table, NAMEID_XML, {}));
    TXmlStrSource source(declaration.Data(), false);
    try {
        if (!TXmlParser(source, table, false, false).ReadDeclarationData(*parsed)) return std::nullopt;
    } catch (const rtl::Exception&) {
        return std::nullopt;
    }
    const rtl::Variant* v = parsed->FindAttr(table->FindID("encoding"));
    if (!v) return std::nullopt;
    return rtl::VarToStr(*v);
}

// Whether bytes written with this leading declaration are UTF-8 (else
// Windows-1251), by the rule Load reads them with; an encoding Load cannot
// read is refused.
bool WritesUtf8(TXmlProcessingInstruction* declaration)
{
    if (!declaration) return false;
    const std::optional<std::string> encoding = WrittenEncoding(*declaration);
    if (!encoding || rtl::SameTextLatin(*encoding, "windows-1251")) return false;
    if (rtl::SameTextLatin(*encoding, "utf-8")) return true;
    Fail(rtl::Format(SCantSaveEncoding, encoding->c_str()));
}

bool IsAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Saving follows the rule of loading, so a document is never written in an
// encoding that reads it back differently. Load reads the leading declaration
// as Windows-1251 before it knows better, so in UTF-8 bytes the declaration
// is ASCII: its attribute values take references, and data or names outside
// ASCII are refused.
std::string TXmlDocument::ByteForm()
{
    TXmlProcessingInstruction* declaration = LeadingDeclaration();
    const bool utf8 = WritesUtf8(declaration);
    if (utf8) {
        // Data are written instead of the attributes when there are any.
        bool ascii = IsAscii(declaration->Data());
        for (int i = 0; ascii && declaration->Data().empty() && i < declaration->Get_AttrCount(); ++i)
            ascii = IsAscii(declaration->Get_AttrName(i));
        if (!ascii) Fail(SNonAsciiDeclaration);
    }
    std::string out;
    TXmlWriter w;
    w.out = &out;
    w.preserve = IsPreserving();
    w.cp1251 = !utf8;
    w.asciiDeclaration = utf8 ? declaration : nullptr;
    WriteXml(w, false);
    return out;
}

// ---- binary form -----------------------------------------------------------------------

// Reads the name table and the node tree of the binary form. The input is
// untrusted: beyond the byte-level checks of the reader, a table without the
// five fixed names first, an empty or repeated name, a bucket count out of
// range, stored buckets other than those that hashing the names gives, a name
// ID outside the table, an attribute stored twice on one node, an element
// with both a value and children and nesting deeper than the text parser
// allows are refused with the read error, so that every document that loads
// writes back to the same bytes.
class TBinXmlTreeReader {
public:
    explicit TBinXmlTreeReader(TBinXmlReader& reader) : r_(reader) {}

    rtl::RefPtr<TXmlNameTable> ReadNameTable();
    // hasValue: the node is an element with a simple value, so it may have
    // no children.
    void ReadNodeContent(TXmlNode& node, int level, bool hasValue);

private:
    std::int32_t ReadNameID()
    {
        const std::int32_t id = r_.ReadCompressedInt();
        if (!table_->IsValidID(id)) RaiseBinXmlReadError();
        return id;
    }
    void ReadChild(TXmlNodeList& list, int level);

    TBinXmlReader& r_;
    rtl::RefPtr<TXmlNameTable> table_;
    // Per name ID, the stamp of the last node that had an attribute of it.
    std::vector<std::uint32_t> attrStamps_;
    std::uint32_t stamp_ = 0;
};

rtl::RefPtr<TXmlNameTable> TBinXmlTreeReader::ReadNameTable()
{
    constexpr std::int32_t kFixedNames = NAMEID_XML + 1;
    const std::int32_t nameCount = r_.ReadCount(1);
    if (nameCount < kFixedNames) RaiseBinXmlReadError();
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(nameCount));
    for (std::int32_t i = 0; i < nameCount; ++i) {
        names.push_back(r_.ReadString());
        if (names.back().empty()) RaiseBinXmlReadError();
    }
    const std::int32_t bucketCount = r_.ReadCompressedInt();
    if (bucketCount < 1 || bucketCount > kMaxBuckets) RaiseBinXmlReadError();

    // The table is rebuilt by interning the names in order; a name that gets
    // another ID than its place was met before.
    const rtl::RefPtr<TXmlNameTable> table(new TXmlNameTable(bucketCount));
    for (std::int32_t id = 0; id < nameCount; ++id) {
        const std::string& name = names[static_cast<std::size_t>(id)];
        if (id < kFixedNames ? name != table->NameOf(id) : table->GetID(name) != id) RaiseBinXmlReadError();
    }

    int used = 0;
    for (int b = 0; b < bucketCount; ++b)
        if (!table->Bucket(b).empty()) ++used;
    if (r_.ReadCount(2) != used) RaiseBinXmlReadError();
    std::int32_t last = -1;
    for (int k = 0; k < used; ++k) {
        const std::int32_t index = r_.ReadCompressedInt();
        if (index <= last || index >= bucketCount) RaiseBinXmlReadError();
        last = index;
        const std::vector<std::int32_t>& bucket = table->Bucket(index);
        const std::int32_t count = r_.ReadCount(4);
        if (bucket.empty() || static_cast<std::size_t>(count) != bucket.size()) RaiseBinXmlReadError();
        for (const std::int32_t id : bucket)
            if (r_.ReadInt32() != id) RaiseBinXmlReadError();
    }
    table_ = table;
    attrStamps_.assign(names.size(), 0);
    return table;
}

void TBinXmlTreeReader::ReadNodeContent(TXmlNode& node, int level, bool hasValue)
{
    const std::int32_t attrCount = r_.ReadCount(2);
    if (++stamp_ == 0) {
        std::fill(attrStamps_.begin(), attrStamps_.end(), 0);
        stamp_ = 1;
    }
    for (std::int32_t i = 0; i < attrCount; ++i) {
        const std::int32_t id = ReadNameID();
        std::uint32_t& seen = attrStamps_[static_cast<std::size_t>(id)];
        if (seen == stamp_) RaiseBinXmlReadError();
        seen = stamp_;
        node.AppendAttr(id, r_.ReadVariantValue());
    }
    const std::int32_t childCount = r_.ReadCount(2);
    if (childCount == 0) return;
    if (hasValue) RaiseBinXmlReadError();
    TXmlNodeList* list = node.GetChildNodeList();
    list->Reserve(list->Count() + childCount);
    for (std::int32_t i = 0; i < childCount; ++i) ReadChild(*list, level);
}

void TBinXmlTreeReader::ReadChild(TXmlNodeList& list, int level)
{
    const std::uint8_t type = r_.ReadByte();
    switch (type) {
    case NODE_ELEMENT: {
        if (level >= kMaxNesting) RaiseBinXmlReadError();
        auto* element = new TXmlElement(table_, ReadNameID());
        list.AppendNew(element);
        rtl::Variant value = r_.ReadVariantValue();
        const bool hasValue = !value.IsEmpty();
        if (hasValue) element->Set_TypedValue(value);
        ReadNodeContent(*element, level + 1, hasValue);
        return;
    }
    case NODE_TEXT: {
        auto* text = new TXmlText(table_, rtl::Variant());
        list.AppendNew(text);
        text->Set_TypedValue(r_.ReadVariantValue());
        return;
    }
    case NODE_CDATA_SECTION:
    case NODE_COMMENT: {
        TXmlCharacterData* data = type == NODE_COMMENT ? static_cast<TXmlCharacterData*>(new TXmlComment(table_, {}))
                                                       : new TXmlCDATASection(table_, {});
        list.AppendNew(data);
        data->Set_Text(r_.ReadString());
        return;
    }
    case NODE_PROCESSING_INSTRUCTION: {
        if (level >= kMaxNesting) RaiseBinXmlReadError();
        auto* instruction = new TXmlProcessingInstruction(table_, ReadNameID(), {});
        list.AppendNew(instruction);
        instruction->SetData(r_.ReadString());
        ReadNodeContent(*instruction, level + 1, false);
        return;
    }
    default: Fail(SBinReadNodeType);
    }
}

void WriteNameTable(TBinXmlWriter& w, const TXmlNameTable& table)
{
    w.WriteCount(static_cast<std::size_t>(table.Count()));
    for (std::int32_t id = 0; id < table.Count(); ++id) w.WriteString(table.NameOf(id));
    w.WriteCompressedInt(table.BucketCount());
    int used = 0;
    for (int b = 0; b < table.BucketCount(); ++b)
        if (!table.Bucket(b).empty()) ++used;
    w.WriteCount(static_cast<std::size_t>(used));
    for (int b = 0; b < table.BucketCount(); ++b) {
        const std::vector<std::int32_t>& bucket = table.Bucket(b);
        if (bucket.empty()) continue;
        w.WriteCompressedInt(b);
        w.WriteCount(bucket.size());
        for (const std::int32_t id : bucket) w.WriteInt32(id);
    }
}

void WriteNodeContent(TBinXmlWriter& w, TXmlNode& node);

void WriteChild(TBinXmlWriter& w, TXmlNode& child)
{
    const int type = child.Get_NodeType();
    switch (type) {
    case NODE_ELEMENT:
        w.WriteByte(NODE_ELEMENT);
        w.WriteCompressedInt(child.Get_NodeNameID());
        // An element with children has its text in them.
        w.WriteVariantValue(child.HasChildren() ? rtl::Variant() : child.Get_TypedValue());
        WriteNodeContent(w, child);
        return;
    case NODE_TEXT:
        w.WriteByte(NODE_TEXT);
        w.WriteVariantValue(child.Get_TypedValue());
        return;
    case NODE_CDATA_SECTION:
    case NODE_COMMENT:
        w.WriteByte(static_cast<std::uint8_t>(type));
        w.WriteString(static_cast<TXmlCharacterData&>(child).Data());
        return;
    case NODE_PROCESSING_INSTRUCTION:
        w.WriteByte(NODE_PROCESSING_INSTRUCTION);
        w.WriteCompressedInt(child.Get_NodeNameID());
        w.WriteString(static_cast<TXmlProcessingInstruction&>(child).Data());
        WriteNodeContent(w, child);
        return;
    default: Fail(SBinWriteNodeType);
    }
}

void WriteNodeContent(TBinXmlWriter& w, TXmlNode& node)
{
    const std::vector<TXmlAttrData>& attrs = node.Attrs();
    w.WriteCount(attrs.size());
    for (const TXmlAttrData& a : attrs) {
        w.WriteCompressedInt(a.nameID);
        w.WriteVariantValue(a.value);
    }
    TXmlNodeList* list = node.ExistingChildren();
    const int count = list ? list->Count() : 0;
    w.WriteCount(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) WriteChild(w, *list->At(i));
}

void TXmlDocument::ReadBinary(TBinXmlReader& reader)
{
    TBinXmlTreeReader tree(reader);
    nameTable_ = tree.ReadNameTable();
    tree.ReadNodeContent(*this, 0, false);
    // The form ends with the document; nothing may follow it.
    if (reader.Remaining() != 0) RaiseBinXmlReadError();
}

void TXmlDocument::WriteBinary(TBinXmlWriter& writer)
{
    WriteNameTable(writer, *nameTable_);
    WriteNodeContent(writer, *this);
}

std::string TXmlDocument::BinaryForm(std::uint32_t options)
{
    TStrXmlWriter writer(options, kStreamBufferSize);
    WriteBinary(writer);
    return writer.TakeResult();
}

void TXmlDocument::SaveBinary(rtl::TStream& stream, int options)
{
    TStmXmlWriter writer(stream, kStreamBufferSize, static_cast<std::uint32_t>(options));
    WriteBinary(writer);
    writer.Flush();
}

// ---- document loading --------------------------------------------------------------

void TXmlDocument::LoadXML(std::string_view xml)
{
    if (IsBinaryXml(xml)) {
        LoadBinaryXML(xml);
        return;
    }
    Empty();
    TXmlStrSource source(xml, false);
    TXmlParser(source, nameTable_, preserve_, false).ParseContent(*this, 0);
}

void TXmlDocument::LoadBinaryXML(std::string_view xml)
{
    Empty();
    nameTable_ = rtl::RefPtr<TXmlNameTable>(new TXmlNameTable(kDefaultBuckets));
    TStrXmlReader reader(xml);
    ReadBinary(reader);
}

void TXmlDocument::Load(rtl::TStream& stream)
{
    if (stream.Remaining() >= 15) {
        char signature[BinaryXmlSignature.size()];
        stream.ReadBuffer(signature, sizeof signature);
        if (IsBinaryXml(std::string_view(signature, sizeof signature))) {
            Empty();
            nameTable_ = rtl::RefPtr<TXmlNameTable>(new TXmlNameTable(kDefaultBuckets));
            TStmXmlReader reader(stream, kStreamBufferSize);
            ReadBinary(reader);
            return;
        }
        stream.Seek(-static_cast<std::int64_t>(sizeof signature), rtl::SeekOrigin::Current);
    }
    Empty();
    TXmlStmSource source(stream, kStreamBufferSize);
    TXmlParser(source, nameTable_, preserve_, true).ParseContent(*this, 0);
}

void TXmlDocument::Load(const std::string& fileName)
{
    rtl::TFileStream file(fileName, rtl::fmOpenRead | rtl::fmShareDenyWrite);
    try {
        Load(file);
    } catch (rtl::Exception& e) {
        e.SetMessage(rtl::Format(SLoadFileError, e.Message().c_str(), fileName.c_str()));
        throw;
    }
}

void TXmlDocument::LoadResource(std::string_view resType, std::string_view resName)
{
    const rtl::ResourceData* res = rtl::FindResource(resType, resName);
    if (!res || res->size == 0 || !res->data) return;
    const std::string_view bytes = res->Bytes();
    if (IsBinaryXml(bytes)) {
        LoadBinaryXML(bytes);
        return;
    }
    Empty();
    TXmlStrSource source(bytes, true);
    TXmlParser(source, nameTable_, preserve_, true).ParseContent(*this, 0);
}

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 0;
}

} // namespace

// ---- functions of the unit -----------------------------------------------------------

IXmlDocumentPtr CreateXmlDocument(std::string_view rootName, std::string_view version, std::string_view encoding,
                                  const IXmlNameTablePtr& nameTable)
{
    rtl::RefPtr<TXmlNameTable> table = nameTable ? rtl::RefPtr<TXmlNameTable>(ToTable(nameTable.get()))
                                                 : SharedNameTable();
    IXmlDocumentPtr doc(new TXmlDocument(table));
    if (!rootName.empty()) doc->NewDocument(version, encoding, rootName);
    return doc;
}

IXmlNameTablePtr CreateNameTable(int bucketCount)
{
    return IXmlNameTablePtr(new TXmlNameTable(bucketCount));
}

std::string XmlEscape(std::string_view s)
{
    std::size_t extra = 0;
    for (const char c : s) {
        switch (c) {
        case '"': extra += 5; break;
        case '&': extra += 4; break;
        case '<':
        case '>': extra += 3; break;
        default: break;
        }
    }
    if (extra == 0) return std::string(s);
    std::string out;
    out.reserve(s.size() + extra);
    for (const char c : s) {
        switch (c) {
        case '"': out += "&quot;"; break;
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::string VarToXmlStr(const rtl::Variant& v)
{
    switch (v.VarType()) {
    case rtl::varEmpty: return {};
    case rtl::varNull: return "{{null}}";
    case rtl::varSmallint:
    case rtl::varInteger:
    case rtl::varShortInt:
    case rtl::varByte:
    case rtl::varWord:
    case rtl::varLongWord:
    case rtl::varInt64: return rtl::IntToStr(v.AsInt64());
    case rtl::varSingle:
    case rtl::varDouble: return FloatToXmlStr(v.AsDouble());
    case rtl::varCurrency: return FloatToXmlStr(static_cast<double>(v.AsCurrency().scaled) / 10000.0);
    case rtl::varDate: return DateTimeToXmlStr(v.AsDateTime());
    case rtl::varBoolean: return v.AsBoolean() ? "1" : "0";
    case rtl::varOleStr:
    case rtl::varString: return v.AsString();
    case rtl::varByteArray: {
        const rtl::ByteArray& bytes = v.AsBytes();
        return Base64Encode(bytes.data(), bytes.size());
    }
    default: return v.AsString();
    }
}

double XmlStrToFloat(std::string_view s)
{
    std::string text(s);
    const std::size_t comma = text.find(',');
    if (comma != std::string::npos) text[comma] = '.';
    return rtl::StrToFloat(text);
}

std::string FloatToXmlStr(double value)
{
    // The platform's float text already uses "." whatever the locale.
    return rtl::FloatToStr(value);
}

std::string DateTimeToXmlStr(rtl::TDateTime value)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    rtl::DecodeDateTime(value, year, month, day, hour, minute, second, msec);
    return rtl::Format("%.4d-%.2d-%.2dT%.2d:%.2d:%.2d", year, month, day, hour, minute, second);
}

rtl::TDateTime XmlStrToDateTime(std::string_view s)
{
    static constexpr char kSeparators[5] = {'-', '-', 'T', ':', ':'};
    int fields[6] = {0, 0, 0, 0, 0, 0};
    std::size_t pos = 0;
    for (int i = 0; i < 6; ++i) {
        std::int64_t v = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            v = std::min<std::int64_t>(v * 10 + (s[pos] - '0'), 1000000000);
            ++pos;
        }
        fields[i] = static_cast<int>(v);
        if (i == 5) break;
        if (pos < s.size() && s[pos] == kSeparators[i])
            ++pos;
        else
            break;
    }
    return rtl::EncodeDateTime(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], 0);
}

std::string GetRawOwnText(IXmlNode& node)
{
    TXmlNode* n = NeedNode(&node);
    const TXmlNodeList* list = n->ExistingChildren();
    if (!list || list->Count() == 0) return n->Get_NodeType() == NODE_ELEMENT ? n->Get_Text() : std::string();
    bool hasCData = false;
    for (int i = 0; i < list->Count() && !hasCData; ++i) hasCData = list->At(i)->Get_NodeType() == NODE_CDATA_SECTION;
    std::string out;
    for (int i = 0; i < list->Count(); ++i) {
        TXmlNode* child = list->At(i);
        if (child->Get_NodeType() == NODE_CDATA_SECTION) {
            out += static_cast<TXmlCharacterData*>(child)->Data();
        } else if (child->Get_NodeType() == NODE_TEXT) {
            // Blanks around CDATA sections are the text form's layout.
            std::string text = child->Get_Text();
            if (!hasCData || !AllBlank(text)) out += text;
        }
    }
    return out;
}

bool IsBinaryXml(std::string_view s)
{
    return s.size() >= BinaryXmlSignature.size() && s.substr(0, BinaryXmlSignature.size()) == BinaryXmlSignature;
}

std::string Base64Encode(const void* buffer, std::size_t size, int lineLength)
{
    if (size == 0 || !buffer) return {};
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    std::string encoded;
    encoded.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t n = std::min<std::size_t>(3, size - i);
        std::uint32_t group = static_cast<std::uint32_t>(p[i]) << 16;
        if (n > 1) group |= static_cast<std::uint32_t>(p[i + 1]) << 8;
        if (n > 2) group |= p[i + 2];
        encoded.push_back(kBase64Alphabet[(group >> 18) & 63]);
        encoded.push_back(kBase64Alphabet[(group >> 12) & 63]);
        encoded.push_back(n > 1 ? kBase64Alphabet[(group >> 6) & 63] : '=');
        encoded.push_back(n > 2 ? kBase64Alphabet[group & 63] : '=');
    }
    if (lineLength <= 0 || encoded.size() <= static_cast<std::size_t>(lineLength)) return encoded;
    const auto line = static_cast<std::size_t>(lineLength);
    std::string out;
    out.reserve(encoded.size() + encoded.size() / line * 2);
    for (std::size_t i = 0; i < encoded.size(); i += line) {
        if (i > 0) out += "\r\n";
        out.append(encoded, i, line);
    }
    return out;
}

std::string Base64Decode(std::string_view text)
{
    // Lengths count characters: every character outside ASCII is one
    // character outside the alphabet. A text that is not UTF-8 counts bytes.
    constexpr char kForeign = '\x80';
    const bool utf8 = rtl::IsValidUtf8(text);
    std::string clean;
    clean.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 32) continue;
        if (b < 0x80)
            clean.push_back(c);
        else if (!utf8 || (b & 0xC0) != 0x80) // not the rest of a character
            clean.push_back(kForeign);
    }
    const std::size_t length = clean.size();
    if (length < 4) return {};
    std::size_t outLength = (length + 3) / 4 * 3;
    if (clean[length - 2] == '=')
        outLength -= 2;
    else if (clean[length - 1] == '=')
        outLength -= 1;
    std::string out(outLength, '*');
    // Characters missing from a short last group count as "A" (0).
    const auto at = [&](std::size_t k) { return k < length ? clean[k] : 'A'; };
    for (std::size_t g = 0, pos = 0; g < length && pos < outLength; g += 4, pos += 3) {
        const char c[4] = {at(g), at(g + 1), at(g + 2), at(g + 3)};
        const std::uint32_t group = (static_cast<std::uint32_t>(Base64Value(c[0])) << 18) |
                                    (static_cast<std::uint32_t>(Base64Value(c[1])) << 12) |
                                    (static_cast<std::uint32_t>(Base64Value(c[2])) << 6) |
                                    static_cast<std::uint32_t>(Base64Value(c[3]));
        const int n = c[2] == '=' ? 1 : c[3] == '=' ? 2 : 3;
        const char bytes[3] = {static_cast<char>((group >> 16) & 0xFF), static_cast<char>((group >> 8) & 0xFF),
                               static_cast<char>(group & 0xFF)};
        for (int k = 0; k < n && pos + static_cast<std::size_t>(k) < outLength; ++k)
            out[pos + static_cast<std::size_t>(k)] = bytes[k];
    }
    return out;
}
