// Named parameter lists kept in XML: the parameters are the "param" children
// of one element, each with its name in the attribute "name" and its value,
// as XStr text (XStrUtils.h), as the element's text.
//
// Clients hold a list through ISimpleParams (made by CreateSimpleParams); the
// database classes hold TSimpleParams itself and answer missing parameters
// through its OnGetValue event. A key is a variant: an integer or Boolean key
// is a position among all children of the element (of every kind), a string
// key is a parameter name (compared byte for byte, the first match wins).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "CoreLib/SimpleXML.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/Variant.h"

// {61DE00C7-45A0-4DC9-8CE3-66B1EA143378}
inline constexpr rtl::TGuid IID_ISimpleParams{
    0x61DE00C7, 0x45A0, 0x4DC9, {0x8C, 0xE3, 0x66, 0xB1, 0xEA, 0x14, 0x33, 0x78}};

class ISimpleParams : public virtual rtl::RefCounted {
public:
    // A "param" child with that name exists (false without an element).
    virtual bool Exists(const std::string& name) const = 0;
    virtual std::string GetStr(const rtl::Variant& key, const std::string& defaultValue) = 0;
    virtual void SetStr(const rtl::Variant& key, const std::string& value) = 0;
    virtual std::int32_t GetInt(const rtl::Variant& key, std::int32_t defaultValue) = 0;
    virtual void SetInt(const rtl::Variant& key, std::int32_t value) = 0;
    virtual bool GetBool(const rtl::Variant& key, bool defaultValue) = 0;
    virtual void SetBool(const rtl::Variant& key, bool value) = 0;
    // The default is day 0 (1899-12-30 00:00).
    virtual rtl::TDateTime GetDateTime(const rtl::Variant& key) = 0;
    virtual void SetDateTime(const rtl::Variant& key, rtl::TDateTime value) = 0;
    // The attribute "name" of the child at that position ("" when it has none).
    virtual std::string GetName(std::int32_t index) const = 0;
    // The number of "param" children (0 without an element).
    virtual std::int32_t Count() const = 0;
    // The element's own text and CDATA children, each trimmed when asked,
    // joined with the separator.
    virtual std::string GetText(bool trim, const std::string& separator) const = 0;
    // Replaces the element's own text by one CDATA child after the parameters.
    virtual void SetText(const std::string& text) = 0;
    // The element in XML text form ("" without an element).
    virtual std::string GetXml() const = 0;

protected:
    ~ISimpleParams() override = default;
};

using ISimpleParamsPtr = rtl::RefPtr<ISimpleParams>;

class TSimpleParams;

// Raised after a parameter's stored text changed.
using TSimpleParamsChangeEvent = std::function<void(TSimpleParams& sender, const std::string& name)>;
// Asked for a parameter read by name that does not exist; returning true
// supplies value (which arrives Empty).
using TSimpleParamsGetValueEvent =
    std::function<bool(TSimpleParams& sender, const std::string& name, rtl::Variant& value)>;
// Offered a parameter written by name that does not exist; returning true
// means the handler took the value and nothing is stored.
using TSimpleParamsSetValueEvent =
    std::function<bool(TSimpleParams& sender, const std::string& name, const rtl::Variant& value)>;

class TSimpleParams : public ISimpleParams {
public:
    // A list without an element.
    explicit TSimpleParams(bool autoCreate) noexcept : AutoCreate(autoCreate) {}

    const IXmlNodePtr& Node() const noexcept { return node_; }
    // nullptr or an element; anything else fails the assertion
    // "Incorrect object type".
    void SetNode(const IXmlNodePtr& node);

private:
    IXmlNodePtr node_;

public:
    // Writing a parameter that does not exist appends it.
    bool AutoCreate;
    // Empty events are unassigned.
    TSimpleParamsChangeEvent OnChange;
    TSimpleParamsGetValueEvent OnGetValue;
    TSimpleParamsSetValueEvent OnSetValue;

    bool Exists(const std::string& name) const override;
    std::string GetStr(const rtl::Variant& key, const std::string& defaultValue) override;
    void SetStr(const rtl::Variant& key, const std::string& value) override;
    std::int32_t GetInt(const rtl::Variant& key, std::int32_t defaultValue) override;
    void SetInt(const rtl::Variant& key, std::int32_t value) override;
    bool GetBool(const rtl::Variant& key, bool defaultValue) override;
    void SetBool(const rtl::Variant& key, bool value) override;
    rtl::TDateTime GetDateTime(const rtl::Variant& key) override;
    void SetDateTime(const rtl::Variant& key, rtl::TDateTime value) override;
    std::string GetName(std::int32_t index) const override;
    std::int32_t Count() const override;
    std::string GetText(bool trim, const std::string& separator) const override;
    void SetText(const std::string& text) override;
    std::string GetXml() const override;

protected:
    ~TSimpleParams() override = default;

private:
    IXmlNodePtr Find(const rtl::Variant& key) const;
    // The parameter's value read as varType, or the one OnGetValue supplies;
    // false when there is neither.
    bool Read(const rtl::Variant& key, rtl::TVarType varType, rtl::Variant& value);
    void Write(const rtl::Variant& key, const rtl::Variant& value);
};

// A list over node (nullptr or an element); the new object is freed when node
// is refused.
ISimpleParamsPtr CreateSimpleParams(const IXmlNodePtr& node, bool autoCreate);
