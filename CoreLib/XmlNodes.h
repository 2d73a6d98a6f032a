// The node model: node lists, the node classes and the document.
//
// Nodes are reference-counted; a node holds its name table and its child
// list, a list holds its members, and the parent link is a plain pointer that
// the list clears when a member leaves it or when the list's owner dies. A
// node is in at most one child list: putting it into another first takes it
// out of the old one, and a node is never put into its own subtree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CoreLib/SimpleXML.h"
#include "CoreLib/XmlInternals.h"
#include "CoreLib/XmlNameTable.h"
#include "CoreLib/XmlTextWriter.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/TextUtils.h"

class TBinXmlReader;
class TBinXmlWriter;

namespace simplexml {

class TXmlNameTable;
class TXmlNodeList;
class TXmlNode;
class TXmlElement;
class TXmlProcessingInstruction;
class TXmlDocument;

using TXmlNodeRef = rtl::RefPtr<TXmlNode>;

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

} // namespace simplexml
