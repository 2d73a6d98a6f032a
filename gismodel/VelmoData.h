// Module descriptors: what an add-on module contributes to the user
// interface (actions, a menu, a toolbar, a script), held in TModuleItemData
// objects and kept in XML elements. The field descriptions' XML form lives
// with TFieldData (SemTableData.h).
//
// Each item reads from and writes into an element the caller made (the
// element's name is the kind's ElementName); lists of actions, menu items
// and buttons are child elements. Reading a list clears it first and appends
// one object per child element in document order, so a failure part way
// keeps the objects read before it. A missing required "Name" raises the
// XML layer's missing-attribute error.
//
// A script reads back exactly as it was written: it is written as CDATA
// sections and read as the raw text and CDATA content of the element, line
// breaks and "]]>" included. An action's bitmap is kept as the bytes of a
// Windows bitmap file and is checked as one before it is kept; a bad one
// raises EBitmapDataError and leaves the action without a bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CoreLib/RefObjects.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RefCounted.h"

class IXmlNode;

// ---- platform pieces the descriptors use --------------------------------------------

// A keyboard shortcut: the virtual-key code in the low byte, and the flags
// below.
using TShortCut = std::uint16_t;
inline constexpr TShortCut scShift = 0x2000;
inline constexpr TShortCut scCtrl = 0x4000;
inline constexpr TShortCut scAlt = 0x8000;

// The shortcut's text: "Shift+", "Ctrl+" and "Alt+" as the flags say, then
// the key's name ("A", "5", "F5", "Del", "Num 5", ";", ...; a key without a
// name as "#" and its decimal code). Key code 0 gives "".
std::string ShortCutToText(TShortCut shortCut);
// The shortcut of such a text; the modifiers in any order and letter case.
// An empty or unknown text gives 0.
TShortCut TextToShortCut(std::string_view text);

// The user's default locale as a Windows locale identifier, from the
// language of LC_ALL, LC_MESSAGES or LANG (the first that is set): Russian
// 1049, English 1033 (British 2057), Ukrainian 1058, Belarusian 1059, Kazakh
// 1087, German 1031, French 1036; 1033 for any other or none.
std::int32_t UserDefaultLocale();

// Bytes that are not a bitmap file this program can keep.
class EBitmapDataError : public rtl::Exception {
    using rtl::Exception::Exception;
};

// A bitmap kept as the bytes of a Windows bitmap file: "BM", the file and
// bitmap headers (core, info or a later version), the colour table and the
// pixel array, uncompressed, bit fields or RLE.
class TBitmapData {
public:
    // Checks the signature, the header sizes, the dimensions, the bit depth
    // and compression, and that the colour table and the pixel array lie
    // within the bytes; EBitmapDataError naming the fault otherwise.
    static std::unique_ptr<TBitmapData> FromBytes(std::string bytes);

    std::int32_t Width() const noexcept { return width_; }
    // Rows; a top-down bitmap counts them as well.
    std::int32_t Height() const noexcept { return height_; }
    const std::string& Bytes() const noexcept { return bytes_; }

private:
    TBitmapData(std::string bytes, std::int32_t width, std::int32_t height)
        : bytes_(std::move(bytes)), width_(width), height_(height)
    {
    }

    std::string bytes_;
    std::int32_t width_;
    std::int32_t height_;
};

// ---- module items ---------------------------------------------------------------------

class TModuleItemData : public TRefObject {
public:
    // The element name of the item's kind.
    virtual std::string_view ElementName() const = 0;
    // "Name", required.
    virtual void LoadFromXml(IXmlNode& node);
    virtual void SaveToXml(IXmlNode& node) const;

    std::string Name;

protected:
    ~TModuleItemData() override = default;
};

class TModuleActionData : public TRefObject {
public:
    TModuleActionData() = default;

    // "Name" (required), "Category", "Caption", "Hint", "Shortcut",
    // "Visible", "Enabled", "Checked" (default false), "HandlerScript",
    // "HandlerMethod", and an optional "Bitmap" child holding base64. The
    // attributes change only when all of them read; the bitmap is dropped
    // first and replaced by the one read, if any.
    void LoadFromXml(IXmlNode& node);
    // Every attribute; a "Bitmap" child, base64 in lines of 80 characters,
    // when there is a bitmap.
    void SaveToXml(IXmlNode& node) const;

    std::string Name;
    std::string Category;
    std::string Caption;
    std::string Hint;
    TShortCut ShortCut = 0;
    bool Visible = false;
    bool Enabled = false;
    bool Checked = false;
    std::unique_ptr<TBitmapData> Bitmap;
    std::string HandlerScript;
    std::string HandlerMethod;

protected:
    ~TModuleActionData() override = default;
};

class TModuleActionDataList : public TRefObjectListOf<TModuleActionData> {
public:
    TModuleActionDataList() : TRefObjectListOf<TModuleActionData>(false) {}
};

// Element "Actions": "IntegrationWindowName" and one "Action" child per action.
class TModuleActionsData : public TModuleItemData {
public:
    static constexpr std::string_view ClassElementName = "Actions";

    std::string_view ElementName() const override { return ClassElementName; }
    void LoadFromXml(IXmlNode& node) override;
    void SaveToXml(IXmlNode& node) const override;

    TModuleActionDataList Actions;
    std::string IntegrationWindowName;

protected:
    ~TModuleActionsData() override = default;
};

class TModuleMenuItemData;

// Menu items, each held by one reference.
class TModuleMenuItemDataList : public TRefObjectList {
public:
    TModuleMenuItemDataList() : TRefObjectList(false) {}
    int Add(TModuleMenuItemData* item);
    TModuleMenuItemData* Get(int index) const;
};

class TModuleMenuItemData : public TRefObject {
public:
    TModuleMenuItemData() = default;

    // "Name" (required), "Action", "Caption", "Visible", "RadioItem",
    // "GroupIndex", and the sub-items as nested "Item" elements.
    void LoadFromXml(IXmlNode& node);
    void SaveToXml(IXmlNode& node) const;

    std::string Name;
    std::string Action;
    std::string Caption;
    bool Visible = false;
    bool RadioItem = false;
    std::int32_t GroupIndex = 0;
    TModuleMenuItemDataList Items;

protected:
    ~TModuleMenuItemData() override = default;
};

inline int TModuleMenuItemDataList::Add(TModuleMenuItemData* item) { return TRefObjectList::Add(item); }
inline TModuleMenuItemData* TModuleMenuItemDataList::Get(int index) const
{
    return static_cast<TModuleMenuItemData*>(TRefObjectList::Get(index));
}

// Element "Menu": "IntegrationWindowName", "IntegrationMenuName" and one
// "Item" child per menu item.
class TModuleMenuData : public TModuleItemData {
public:
    static constexpr std::string_view ClassElementName = "Menu";

    std::string_view ElementName() const override { return ClassElementName; }
    void LoadFromXml(IXmlNode& node) override;
    void SaveToXml(IXmlNode& node) const override;

    TModuleMenuItemDataList Items;
    std::string IntegrationWindowName;
    std::string IntegrationMenuName;

protected:
    ~TModuleMenuData() override = default;
};

class TModuleToolButtonData : public TRefObject {
public:
    TModuleToolButtonData() = default;

    // "Name" (required), "Action", "Group".
    void LoadFromXml(IXmlNode& node);
    void SaveToXml(IXmlNode& node) const;

    std::string Name;
    std::string Action;
    std::int32_t Group = 0;

protected:
    ~TModuleToolButtonData() override = default;
};

class TModuleToolButtonDataList : public TRefObjectListOf<TModuleToolButtonData> {
public:
    TModuleToolButtonDataList() : TRefObjectListOf<TModuleToolButtonData>(false) {}
};

// Element "Toolbar": "IntegrationWindowName", "IntegrationToolbarName" and
// one "Button" child per button.
class TModuleToolbarData : public TModuleItemData {
public:
    static constexpr std::string_view ClassElementName = "Toolbar";

    std::string_view ElementName() const override { return ClassElementName; }
    void LoadFromXml(IXmlNode& node) override;
    void SaveToXml(IXmlNode& node) const override;

    std::string IntegrationWindowName;
    std::string IntegrationToolbarName;
    TModuleToolButtonDataList Buttons;

protected:
    ~TModuleToolbarData() override = default;
};

// Element "Script": "Language" (default "vbscript"), "Locale" (written only
// when it is not the user's default locale) and the script text as CDATA.
// A new object has the defaults of an element without those attributes.
class TModuleScriptData : public TModuleItemData {
public:
    static constexpr std::string_view ClassElementName = "Script";

    TModuleScriptData();
    std::string_view ElementName() const override { return ClassElementName; }
    void LoadFromXml(IXmlNode& node) override;
    void SaveToXml(IXmlNode& node) const override;

    std::string Script;
    std::string Language;
    std::int32_t Locale;

protected:
    ~TModuleScriptData() override = default;
};

// A module item class: its element name and its constructor.
struct TModuleItemDataClass {
    std::string_view ElementName;
    rtl::RefPtr<TModuleItemData> (*Create)();
};

// The registered module item classes: actions, menu, script and toolbar, in
// this order; filled when the unit starts.
const std::vector<TModuleItemDataClass>& ModuleItemDataClassList();
