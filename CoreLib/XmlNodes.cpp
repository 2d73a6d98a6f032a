#include "CoreLib/XmlNodes.h"

#include <algorithm>
#include <utility>

namespace simplexml {

namespace {

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

} // namespace

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

} // namespace simplexml

using namespace simplexml;

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
