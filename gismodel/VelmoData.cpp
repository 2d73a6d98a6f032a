// Module descriptors and their XML forms, the shortcut text, the user's
// default locale and the bitmap check.
//
// The bitmap check reads only what the headers say and computes every size
// in 64-bit arithmetic, so no header value can make it look outside the
// bytes it was given.
#include "gismodel/VelmoData.h"

#include <array>
#include <cstdlib>
#include <utility>

#include "CoreLib/SimpleXML.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace {

// ---- texts --------------------------------------------------------------------

const char* const SBadBitmap = "Некорректные данные растрового изображения: %s";
const char* const SBitmapShort = "данные короче заголовков";
const char* const SBitmapSignature = "нет подписи \"BM\"";
const char* const SBitmapHeaderSize = "неизвестный размер заголовка (%u)";
const char* const SBitmapDimensions = "недопустимые размеры (%d x %d)";
const char* const SBitmapFormat = "недопустимое число плоскостей или бит на точку (%u, %u)";
const char* const SBitmapCompression = "неподдерживаемый способ сжатия (%u)";
const char* const SBitmapColors = "недопустимое число цветов палитры (%u)";
const char* const SBitmapOutside = "палитра или точки выходят за пределы данных";

constexpr std::string_view kDefaultLanguage = "vbscript";

// ---- shortcut text ---------------------------------------------------------------

struct TKeyName {
    std::uint8_t key;
    const char* name;
};

// Keys whose name is not their character or F-number.
constexpr TKeyName kKeyNames[] = {
    {0x08, "BkSp"},    {0x09, "Tab"},     {0x0D, "Enter"},   {0x1B, "Esc"},     {0x20, "Space"},
    {0x21, "PgUp"},    {0x22, "PgDn"},    {0x23, "End"},     {0x24, "Home"},    {0x25, "Left"},
    {0x26, "Up"},      {0x27, "Right"},   {0x28, "Down"},    {0x2D, "Ins"},     {0x2E, "Del"},
    {0x60, "Num 0"},   {0x61, "Num 1"},   {0x62, "Num 2"},   {0x63, "Num 3"},   {0x64, "Num 4"},
    {0x65, "Num 5"},   {0x66, "Num 6"},   {0x67, "Num 7"},   {0x68, "Num 8"},   {0x69, "Num 9"},
    {0x6A, "Num *"},   {0x6B, "Num +"},   {0x6D, "Num -"},   {0x6E, "Num Del"}, {0x6F, "Num /"},
    {0xBA, ";"},       {0xBB, "="},       {0xBC, ","},       {0xBD, "-"},       {0xBE, "."},
    {0xBF, "/"},       {0xC0, "`"},       {0xDB, "["},       {0xDC, "\\"},      {0xDD, "]"},
    {0xDE, "'"},
};

constexpr struct {
    TShortCut flag;
    std::string_view text;
} kModifiers[] = {{scShift, "Shift+"}, {scCtrl, "Ctrl+"}, {scAlt, "Alt+"}};

std::string KeyName(std::uint8_t key)
{
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) return std::string(1, static_cast<char>(key));
    if (key >= 0x70 && key <= 0x87) return "F" + rtl::IntToStr(key - 0x6F);
    for (const TKeyName& k : kKeyNames)
        if (k.key == key) return k.name;
    return "#" + rtl::IntToStr(key);
}

bool StartsWithText(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && rtl::SameTextLatin(text.substr(0, prefix.size()), prefix);
}

// The key code of a name; 0 when it names no key.
std::uint8_t KeyOfName(std::string_view name)
{
    if (name.empty()) return 0;
    if (name.front() == '#' && name.size() > 1) {
        int code = 0;
        for (const char c : name.substr(1)) {
            if (c < '0' || c > '9') return 0;
            code = code * 10 + (c - '0');
            if (code > 255) return 0;
        }
        return static_cast<std::uint8_t>(code);
    }
    for (int key = 1; key <= 255; ++key)
        if (rtl::SameTextLatin(KeyName(static_cast<std::uint8_t>(key)), name)) return static_cast<std::uint8_t>(key);
    return 0;
}

// ---- bitmap headers -------------------------------------------------------------------

std::uint32_t U32At(const std::string& b, std::size_t pos)
{
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[pos])) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[pos + 1])) << 8) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[pos + 2])) << 16) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[pos + 3])) << 24);
}

std::uint16_t U16At(const std::string& b, std::size_t pos)
{
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[pos]) |
                                      (static_cast<std::uint8_t>(b[pos + 1]) << 8));
}

[[noreturn]] void BadBitmap(const std::string& reason)
{
    throw EBitmapDataError(rtl::Format(SBadBitmap, reason.c_str()));
}

// Compression codes of the info headers.
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitFields = 3;

// ---- XML helpers -----------------------------------------------------------------------

// Clears the list and appends one T per child element named childName.
template <class T, class List>
void LoadList(IXmlNode& node, std::string_view childName, List& list)
{
    list.Clear();
    const IXmlNodeListPtr children = node.SelectNodes(childName);
    for (int i = 0; i < children->Get_Count(); ++i) {
        const rtl::RefPtr<T> item(new T());
        item->LoadFromXml(*children->Get_Item(i));
        list.Add(item.get());
    }
}

template <class T, class List>
void SaveList(IXmlNode& node, std::string_view childName, const List& list)
{
    for (int i = 0; i < list.Count(); ++i) {
        const T* item = static_cast<const T*>(list.Get(i));
        if (item) item->SaveToXml(*node.AppendElement(childName));
    }
}

template <class T>
rtl::RefPtr<TModuleItemData> CreateItem()
{
    return rtl::RefPtr<TModuleItemData>(new T());
}

} // namespace

// ---- shortcut text ---------------------------------------------------------------

std::string ShortCutToText(TShortCut shortCut)
{
    const auto key = static_cast<std::uint8_t>(shortCut & 0xFF);
    if (key == 0) return {};
    std::string text;
    for (const auto& m : kModifiers)
        if (shortCut & m.flag) text += m.text;
    return text + KeyName(key);
}

TShortCut TextToShortCut(std::string_view text)
{
    TShortCut flags = 0;
    for (bool found = true; found;) {
        found = false;
        for (const auto& m : kModifiers) {
            // "Ctrl+" alone names no key: the "+" of "Num +" is not a modifier.
            if (text.size() > m.text.size() && StartsWithText(text, m.text)) {
                flags |= m.flag;
                text.remove_prefix(m.text.size());
                found = true;
            }
        }
    }
    const std::uint8_t key = KeyOfName(text);
    return key == 0 ? TShortCut(0) : static_cast<TShortCut>(flags | key);
}

// ---- locale ------------------------------------------------------------------------

std::int32_t UserDefaultLocale()
{
    constexpr struct {
        std::string_view language;
        std::int32_t lcid;
    } kLocales[] = {
        {"ru", 1049}, {"en_GB", 2057}, {"en", 1033}, {"uk", 1058}, {"be", 1059},
        {"kk", 1087}, {"de", 1031},    {"fr", 1036},
    };
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        value = std::getenv(name);
        if (value && *value) break;
    }
    const std::string_view locale = value ? value : "";
    // "ll_TT.codeset@modifier": the language and the territory.
    const std::string_view languageTerritory = locale.substr(0, locale.find_first_of(".@"));
    for (const auto& l : kLocales)
        if (languageTerritory == l.language || languageTerritory.substr(0, languageTerritory.find('_')) == l.language)
            return l.lcid;
    return 1033;
}

// ---- bitmap ------------------------------------------------------------------------

std::unique_ptr<TBitmapData> TBitmapData::FromBytes(std::string bytes)
{
    constexpr std::size_t kFileHeader = 14;
    if (bytes.size() < kFileHeader + 12) BadBitmap(SBitmapShort);
    if (bytes[0] != 'B' || bytes[1] != 'M') BadBitmap(SBitmapSignature);
    const std::uint64_t offBits = U32At(bytes, 10);
    const std::uint32_t headerSize = U32At(bytes, 14);

    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t planes = 0;
    std::uint32_t bitCount = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t sizeImage = 0;
    std::uint32_t colorsUsed = 0;
    std::uint64_t paletteEntry = 4;
    std::uint64_t masks = 0;
    if (headerSize == 12) {
        if (bytes.size() < kFileHeader + headerSize) BadBitmap(SBitmapShort);
        width = U16At(bytes, 18);
        height = U16At(bytes, 20);
        planes = U16At(bytes, 22);
        bitCount = U16At(bytes, 24);
        paletteEntry = 3;
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 || headerSize == 124) {
        if (bytes.size() < kFileHeader + headerSize) BadBitmap(SBitmapShort);
        width = static_cast<std::int32_t>(U32At(bytes, 18));
        height = static_cast<std::int32_t>(U32At(bytes, 22));
        planes = U16At(bytes, 26);
        bitCount = U16At(bytes, 28);
        compression = U32At(bytes, 30);
        sizeImage = U32At(bytes, 34);
        colorsUsed = U32At(bytes, 46);
        // The plain info header keeps its three bit-field masks after itself.
        if (headerSize == 40 && compression == kBiBitFields) masks = 12;
    } else {
        BadBitmap(rtl::Format(SBitmapHeaderSize, headerSize));
    }

    const bool topDown = height < 0;
    const std::int64_t rows = topDown ? -height : height;
    if (width < 1 || rows < 1 || width > INT32_MAX || rows > INT32_MAX)
        BadBitmap(rtl::Format(SBitmapDimensions, static_cast<int>(width), static_cast<int>(height)));
    const bool knownDepth = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 ||
                            bitCount == 32;
    if (planes != 1 || !knownDepth) BadBitmap(rtl::Format(SBitmapFormat, planes, bitCount));
    const bool rle = compression == kBiRle8 || compression == kBiRle4;
    const bool compressionFits = compression == kBiRgb ||
                                 (compression == kBiRle8 && bitCount == 8 && !topDown) ||
                                 (compression == kBiRle4 && bitCount == 4 && !topDown) ||
                                 (compression == kBiBitFields && (bitCount == 16 || bitCount == 32));
    if (!compressionFits) BadBitmap(rtl::Format(SBitmapCompression, compression));

    std::uint64_t colors = colorsUsed;
    if (bitCount <= 8) {
        const std::uint64_t most = std::uint64_t{1} << bitCount;
        if (colors > most) BadBitmap(rtl::Format(SBitmapColors, colorsUsed));
        if (colors == 0) colors = most;
    }
    const std::uint64_t headersEnd = kFileHeader + headerSize + masks + colors * paletteEntry;
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
    const std::uint64_t pixels = rle ? sizeImage : stride * static_cast<std::uint64_t>(rows);
    if ((rle && pixels == 0) || headersEnd > offBits || offBits > bytes.size() || pixels > bytes.size() - offBits)
        BadBitmap(SBitmapOutside);
    return std::unique_ptr<TBitmapData>(
        new TBitmapData(std::move(bytes), static_cast<std::int32_t>(width), static_cast<std::int32_t>(rows)));
}

// ---- module items ---------------------------------------------------------------------

void TModuleItemData::LoadFromXml(IXmlNode& node) { Name = node.NeedAttr("Name"); }

void TModuleItemData::SaveToXml(IXmlNode& node) const { node.SetAttr("Name", Name); }

void TModuleActionData::LoadFromXml(IXmlNode& node)
{
    std::string name = node.NeedAttr("Name");
    std::string category = node.GetAttr("Category");
    std::string caption = node.GetAttr("Caption");
    std::string hint = node.GetAttr("Hint");
    const TShortCut shortCut = TextToShortCut(node.GetAttr("Shortcut"));
    const bool visible = node.GetBoolAttr("Visible", false);
    const bool enabled = node.GetBoolAttr("Enabled", false);
    const bool checked = node.GetBoolAttr("Checked", false);
    std::string handlerScript = node.GetAttr("HandlerScript");
    std::string handlerMethod = node.GetAttr("HandlerMethod");
    Name = std::move(name);
    Category = std::move(category);
    Caption = std::move(caption);
    Hint = std::move(hint);
    ShortCut = shortCut;
    Visible = visible;
    Enabled = enabled;
    Checked = checked;
    HandlerScript = std::move(handlerScript);
    HandlerMethod = std::move(handlerMethod);

    Bitmap.reset();
    if (const IXmlNodePtr bitmap = node.SelectSingleNode("Bitmap"))
        Bitmap = TBitmapData::FromBytes(bitmap->GetTextAsBinaryData());
}

void TModuleActionData::SaveToXml(IXmlNode& node) const
{
    node.SetAttr("Name", Name);
    node.SetAttr("Category", Category);
    node.SetAttr("Caption", Caption);
    node.SetAttr("Hint", Hint);
    node.SetAttr("Shortcut", ShortCutToText(ShortCut));
    node.SetBoolAttr("Visible", Visible);
    node.SetBoolAttr("Enabled", Enabled);
    node.SetBoolAttr("Checked", Checked);
    node.SetAttr("HandlerScript", HandlerScript);
    node.SetAttr("HandlerMethod", HandlerMethod);
    if (Bitmap) {
        const std::string& bytes = Bitmap->Bytes();
        node.AppendElement("Bitmap")->ReplaceTextByBinaryData(bytes.data(), bytes.size(), 80);
    }
}

void TModuleActionsData::LoadFromXml(IXmlNode& node)
{
    std::string name = node.NeedAttr("Name");
    std::string windowName = node.GetAttr("IntegrationWindowName");
    Name = std::move(name);
    IntegrationWindowName = std::move(windowName);
    LoadList<TModuleActionData>(node, "Action", Actions);
}

void TModuleActionsData::SaveToXml(IXmlNode& node) const
{
    TModuleItemData::SaveToXml(node);
    node.SetAttr("IntegrationWindowName", IntegrationWindowName);
    SaveList<TModuleActionData>(node, "Action", Actions);
}

void TModuleMenuItemData::LoadFromXml(IXmlNode& node)
{
    std::string name = node.NeedAttr("Name");
    std::string action = node.GetAttr("Action");
    std::string caption = node.GetAttr("Caption");
    const bool visible = node.GetBoolAttr("Visible", false);
    const bool radioItem = node.GetBoolAttr("RadioItem", false);
    const std::int32_t groupIndex = node.GetIntAttr("GroupIndex", 0);
    Name = std::move(name);
    Action = std::move(action);
    Caption = std::move(caption);
    Visible = visible;
    RadioItem = radioItem;
    GroupIndex = groupIndex;
    LoadList<TModuleMenuItemData>(node, "Item", Items);
}

void TModuleMenuItemData::SaveToXml(IXmlNode& node) const
{
    node.SetAttr("Name", Name);
    node.SetAttr("Action", Action);
    node.SetAttr("Caption", Caption);
    node.SetBoolAttr("Visible", Visible);
    node.SetBoolAttr("RadioItem", RadioItem);
    node.SetIntAttr("GroupIndex", GroupIndex);
    SaveList<TModuleMenuItemData>(node, "Item", Items);
}

void TModuleMenuData::LoadFromXml(IXmlNode& node)
{
    std::string name = node.NeedAttr("Name");
    std::string windowName = node.GetAttr("IntegrationWindowName");
    std::string menuName = node.GetAttr("IntegrationMenuName");
    Name = std::move(name);
    IntegrationWindowName = std::move(windowName);
    IntegrationMenuName = std::move(menuName);
    LoadList<TModuleMenuItemData>(node, "Item", Items);
}

void TModuleMenuData::SaveToXml(IXmlNode& node) const
{
    TModuleItemData::SaveToXml(node);
    node.SetAttr("IntegrationWindowName", IntegrationWindowName);
    node.SetAttr("IntegrationMenuName", IntegrationMenuName);
    SaveList<TModuleMenuItemData>(node, "Item", Items);
}

void TModuleToolButtonData::LoadFromXml(IXmlNode& node)
{
    std::string name = node.NeedAttr("Name");
    std::string action = node.GetAttr("Action");
    const std::int32_t group = node.GetIntAttr("Group", 0);
    Name = std::move(name);
    Action = std::move(action);
    Group = group;
}

void TModuleToolButtonData::SaveToXml(IXmlNode& node) const
{
    node.SetAttr("Name", Name);
    node.SetAttr("Action", Action);
    node.SetIntAttr("Group", Group);
}

void TModuleToolbarData::LoadFromXml(IXmlNode& node)
{
    std::string name = node.NeedAttr("Name");
    std::string windowName = node.GetAttr("IntegrationWindowName");
    std::string toolbarName = node.GetAttr("IntegrationToolbarName");
    Name = std::move(name);
    IntegrationWindowName = std::move(windowName);
    IntegrationToolbarName = std::move(toolbarName);
    LoadList<TModuleToolButtonData>(node, "Button", Buttons);
}

void TModuleToolbarData::SaveToXml(IXmlNode& node) const
{
    TModuleItemData::SaveToXml(node);
    node.SetAttr("IntegrationWindowName", IntegrationWindowName);
    node.SetAttr("IntegrationToolbarName", IntegrationToolbarName);
    SaveList<TModuleToolButtonData>(node, "Button", Buttons);
}

TModuleScriptData::TModuleScriptData() : Language(kDefaultLanguage), Locale(UserDefaultLocale()) {}

void TModuleScriptData::LoadFromXml(IXmlNode& node)
{
    std::string name = node.NeedAttr("Name");
    std::string language = node.GetAttr("Language", kDefaultLanguage);
    const std::int32_t locale = node.GetIntAttr("Locale", UserDefaultLocale());
    Name = std::move(name);
    Language = std::move(language);
    Locale = locale;
    // The text as stored, so that CDATA keeps its line breaks and blanks.
    Script = GetRawOwnText(node);
}

void TModuleScriptData::SaveToXml(IXmlNode& node) const
{
    TModuleItemData::SaveToXml(node);
    node.SetAttr("Language", Language);
    if (Locale != UserDefaultLocale()) node.SetIntAttr("Locale", Locale);
    node.ReplaceTextByCDATA(Script);
}

// ---- class list ---------------------------------------------------------------------

const std::vector<TModuleItemDataClass>& ModuleItemDataClassList()
{
    static const std::vector<TModuleItemDataClass> classes = {
        {TModuleActionsData::ClassElementName, &CreateItem<TModuleActionsData>},
        {TModuleMenuData::ClassElementName, &CreateItem<TModuleMenuData>},
        {TModuleScriptData::ClassElementName, &CreateItem<TModuleScriptData>},
        {TModuleToolbarData::ClassElementName, &CreateItem<TModuleToolbarData>},
    };
    return classes;
}

namespace {
// The list is filled when the unit starts.
[[maybe_unused]] const std::vector<TModuleItemDataClass>& registeredClasses = ModuleItemDataClassList();
} // namespace
