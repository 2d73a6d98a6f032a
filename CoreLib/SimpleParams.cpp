// Named parameter lists over the "param" children of one XML element.
//
// Every operation first finds its parameter by key; typed reads and writes
// convert through the XStr text, so what is stored is always text and a
// change is raised only when that text really changes.
#include "CoreLib/SimpleParams.h"

#include "CoreLib/XStrUtils.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/TextUtils.h"

namespace {

// User-facing texts of this unit.
constexpr const char* SIncorrectObjectType = "Incorrect object type";
constexpr const char* SParamNotFoundBefore = "Param with index ";
constexpr const char* SParamNotFoundAfter = " not found";
constexpr const char* SObjectNotInitialized = "Object not initialized";

constexpr const char* kParam = "param";
constexpr const char* kName = "name";

bool IsPositionKey(const rtl::Variant& key) noexcept
{
    switch (key.VarType()) {
    case rtl::varSmallint:
    case rtl::varInteger:
    case rtl::varBoolean:
    case rtl::varShortInt:
    case rtl::varByte:
    case rtl::varWord:
    case rtl::varLongWord:
    case rtl::varInt64:
        return true;
    default:
        return false;
    }
}

bool IsNameKey(const rtl::Variant& key) noexcept { return key.IsString(); }

bool IsParam(IXmlNode& node) { return node.Get_NodeType() == NODE_ELEMENT && node.Get_NodeName() == kParam; }

bool IsOwnText(IXmlNode& node)
{
    const int type = node.Get_NodeType();
    return type == NODE_TEXT || type == NODE_CDATA_SECTION;
}

} // namespace

void TSimpleParams::SetNode(const IXmlNodePtr& node)
{
    RTL_ASSERT(!node || node->Get_NodeType() == NODE_ELEMENT, SIncorrectObjectType);
    node_ = node;
}

IXmlNodePtr TSimpleParams::Find(const rtl::Variant& key) const
{
    if (!node_) return nullptr;
    const IXmlNodeListPtr children = node_->Get_ChildNodes();
    if (IsPositionKey(key)) {
        // Taken in full: a key beyond 32 bits is a position outside the list
        // too, and the list raises its index message for it (-1).
        const std::int64_t position = key.AsInt64();
        const bool inside = position >= 0 && position < children->Get_Count();
        return children->Get_Item(inside ? static_cast<int>(position) : -1);
    }

    const bool byName = IsNameKey(key);
    const std::string name = byName ? key.AsString() : std::string();
    const int count = children->Get_Count();
    for (int i = 0; i < count; ++i) {
        IXmlNodePtr child = children->Get_Item(i);
        if (!IsParam(*child)) continue;
        const std::string childName = child->GetAttr(kName, "");
        if (byName ? childName == name : rtl::Variant(childName).Equals(key)) return child;
    }
    return nullptr;
}

bool TSimpleParams::Read(const rtl::Variant& key, rtl::TVarType varType, rtl::Variant& value)
{
    if (const IXmlNodePtr param = Find(key)) {
        value = XStrToVariant(param->Get_Text(), varType);
        return true;
    }
    if (IsNameKey(key) && OnGetValue) {
        value = rtl::Variant();
        return OnGetValue(*this, key.AsString(), value);
    }
    return false;
}

void TSimpleParams::Write(const rtl::Variant& key, const rtl::Variant& value)
{
    IXmlNodePtr param = Find(key);
    const bool create = !param && IsNameKey(key);
    if (create && OnSetValue && OnSetValue(*this, key.AsString(), value)) return;

    // Converted before anything is appended, so a value that has no text
    // leaves no empty parameter behind.
    const std::string text = VariantToXStr(value);
    if (create && AutoCreate && node_) {
        param = node_->AppendElement(kParam);
        param->SetAttr(kName, key.AsString());
    }
    RTL_ASSERT(param, SParamNotFoundBefore + rtl::VarToStr(key) + SParamNotFoundAfter);

    if (text == param->Get_Text()) return;
    param->Set_Text(text);
    if (OnChange) OnChange(*this, param->GetAttr(kName, ""));
}

bool TSimpleParams::Exists(const std::string& name) const { return Find(rtl::Variant(name)) != nullptr; }

std::string TSimpleParams::GetStr(const rtl::Variant& key, const std::string& defaultValue)
{
    rtl::Variant value;
    return Read(key, rtl::varString, value) ? value.AsString() : defaultValue;
}

void TSimpleParams::SetStr(const rtl::Variant& key, const std::string& value)
{
    Write(key, rtl::Variant(value));
}

std::int32_t TSimpleParams::GetInt(const rtl::Variant& key, std::int32_t defaultValue)
{
    rtl::Variant value;
    return Read(key, rtl::varInteger, value) ? value.AsInteger() : defaultValue;
}

void TSimpleParams::SetInt(const rtl::Variant& key, std::int32_t value) { Write(key, rtl::Variant(value)); }

bool TSimpleParams::GetBool(const rtl::Variant& key, bool defaultValue)
{
    rtl::Variant value;
    return Read(key, rtl::varBoolean, value) ? value.AsBoolean() : defaultValue;
}

void TSimpleParams::SetBool(const rtl::Variant& key, bool value) { Write(key, rtl::Variant(value)); }

rtl::TDateTime TSimpleParams::GetDateTime(const rtl::Variant& key)
{
    rtl::Variant value;
    return Read(key, rtl::varDate, value) ? value.AsDateTime() : 0.0;
}

void TSimpleParams::SetDateTime(const rtl::Variant& key, rtl::TDateTime value)
{
    Write(key, rtl::Variant::DateTime(value));
}

std::string TSimpleParams::GetName(std::int32_t index) const
{
    if (!node_) return {};
    return node_->Get_ChildNodes()->Get_Item(index)->GetAttr(kName, "");
}

std::int32_t TSimpleParams::Count() const
{
    if (!node_) return 0;
    const IXmlNodeListPtr children = node_->Get_ChildNodes();
    const int count = children->Get_Count();
    std::int32_t params = 0;
    for (int i = 0; i < count; ++i)
        if (IsParam(*children->Get_Item(i))) ++params;
    return params;
}

std::string TSimpleParams::GetText(bool trim, const std::string& separator) const
{
    std::string result;
    if (!node_) return result;
    const IXmlNodeListPtr children = node_->Get_ChildNodes();
    const int count = children->Get_Count();
    for (int i = 0; i < count; ++i) {
        const IXmlNodePtr child = children->Get_Item(i);
        if (!IsOwnText(*child)) continue;
        const std::string piece = trim ? rtl::Trim(child->Get_Text()) : child->Get_Text();
        if (!result.empty()) result += separator;
        result += piece;
    }
    return result;
}

void TSimpleParams::SetText(const std::string& text)
{
    RTL_ASSERT(node_, SObjectNotInitialized);
    const IXmlNodeListPtr children = node_->Get_ChildNodes();
    for (int i = children->Get_Count() - 1; i >= 0; --i)
        if (IsOwnText(*children->Get_Item(i))) children->Delete(i);
    node_->AppendCDATA(text);
}

std::string TSimpleParams::GetXml() const { return node_ ? node_->Get_XML() : std::string(); }

ISimpleParamsPtr CreateSimpleParams(const IXmlNodePtr& node, bool autoCreate)
{
    const rtl::RefPtr<TSimpleParams> params(new TSimpleParams(autoCreate));
    params->SetNode(node); // a refused node frees the new object with params
    return params;
}
