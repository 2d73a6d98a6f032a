// Tests of module descriptors: the registered item classes, every kind read
// back from its XML element after the text form, the stored byte form and
// the binary form, the attributes written, defaults, missing names, scripts
// that must survive as written, bitmaps checked as bitmap files, the
// shortcut text and the user's default locale.
//
// Bitmap files are spelled out here from the file layout.
#include "gismodel/VelmoData.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CoreLib/SimpleXML.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"
#include "tests/support/TestHelpers.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return {};
}

// A bitmap file: the file header, an info header of 40 bytes (or the core
// header of 12), then what the caller appends.
class Bmp : public testing_support::LeBytesOf<Bmp> {
public:
    Bmp& FileHeader(int fileSize, int offBits) { return Raw("BM").I32(fileSize).I16(0).I16(0).I32(offBits); }
    Bmp& InfoHeader(int width, int height, int bitCount, int compression = 0, int sizeImage = 0, int colorsUsed = 0)
    {
        return I32(40).I32(width).I32(height).I16(1).I16(bitCount).I32(compression).I32(sizeImage).I32(2835)
            .I32(2835).I32(colorsUsed).I32(0);
    }
};

// 1 x 1, 24 bits: one blue-green-red pixel and a pad byte to 4.
std::string OnePixel()
{
    return Bmp().FileHeader(58, 54).InfoHeader(1, 1, 24, 0, 4).U8(0x10).U8(0x20).U8(0x30).U8(0).str();
}

// 4 x 4, 24 bits: rows of 12 bytes.
std::string FourByFour()
{
    Bmp b;
    b.FileHeader(54 + 48, 54).InfoHeader(4, 4, 24, 0, 48);
    for (int i = 0; i < 48; ++i) b.U8(i * 5);
    return b.str();
}

// An element of a fresh document for an item to be written into.
IXmlElementPtr NewElement(std::string_view name)
{
    return CreateXmlDocument(name)->Get_DocumentElement();
}

std::vector<std::string> AttrNames(IXmlNode& node)
{
    std::vector<std::string> names;
    for (int i = 0; i < node.Get_AttrCount(); ++i) names.push_back(node.Get_AttrName(i));
    return names;
}

// ---- a whole module ---------------------------------------------------------------

const std::string kScript = "\r\n\r\n  ' a]]>b, and ]]> again]]\r\nSub Main()\r\n  MsgBox \"<Привет>\"\r\nEnd Sub\r\n\r\n";

struct Module {
    rtl::RefPtr<TModuleActionsData> actions{new TModuleActionsData()};
    rtl::RefPtr<TModuleMenuData> menu{new TModuleMenuData()};
    rtl::RefPtr<TModuleToolbarData> toolbar{new TModuleToolbarData()};
    rtl::RefPtr<TModuleScriptData> script{new TModuleScriptData()};
};

Module SampleModule()
{
    Module m;
    m.actions->Name = "Действия";
    m.actions->IntegrationWindowName = "MainForm";
    const rtl::RefPtr<TModuleActionData> open(new TModuleActionData());
    open->Name = "actOpen";
    open->Category = "Файл";
    open->Caption = "&Открыть...";
    open->Hint = "Открыть \"базу\" <данных>";
    open->ShortCut = static_cast<TShortCut>(scCtrl | 'O');
    open->Visible = true;
    open->Enabled = true;
    open->Bitmap = TBitmapData::FromBytes(OnePixel());
    open->HandlerScript = "main";
    open->HandlerMethod = "OnOpen";
    m.actions->Actions.Add(open.get());
    const rtl::RefPtr<TModuleActionData> close(new TModuleActionData());
    close->Name = "actClose";
    close->Checked = true;
    close->ShortCut = static_cast<TShortCut>(scShift | scAlt | 0x73); // F4
    close->Bitmap = TBitmapData::FromBytes(FourByFour());
    m.actions->Actions.Add(close.get());

    m.menu->Name = "Меню";
    m.menu->IntegrationWindowName = "MainForm";
    m.menu->IntegrationMenuName = "mnuFile";
    const rtl::RefPtr<TModuleMenuItemData> file(new TModuleMenuItemData());
    file->Name = "miFile";
    file->Caption = "Файл";
    file->Visible = true;
    for (int i = 0; i < 2; ++i) {
        const rtl::RefPtr<TModuleMenuItemData> sub(new TModuleMenuItemData());
        sub->Name = "miSub" + std::to_string(i);
        sub->Action = i == 0 ? "actOpen" : "actClose";
        sub->RadioItem = i == 1;
        sub->GroupIndex = 3 + i;
        if (i == 1) {
            const rtl::RefPtr<TModuleMenuItemData> deep(new TModuleMenuItemData());
            deep->Name = "miDeep";
            deep->GroupIndex = -1;
            sub->Items.Add(deep.get());
        }
        file->Items.Add(sub.get());
    }
    m.menu->Items.Add(file.get());

    m.toolbar->Name = "Панель";
    m.toolbar->IntegrationWindowName = "MainForm";
    m.toolbar->IntegrationToolbarName = "tbMain";
    for (int i = 0; i < 3; ++i) {
        const rtl::RefPtr<TModuleToolButtonData> button(new TModuleToolButtonData());
        button->Name = "tb" + std::to_string(i);
        button->Action = i == 2 ? "" : "actOpen";
        button->Group = i;
        m.toolbar->Buttons.Add(button.get());
    }

    m.script->Name = "main";
    m.script->Script = kScript;
    m.script->Language = "jscript";
    m.script->Locale = UserDefaultLocale() == 1049 ? 1033 : 1049;
    return m;
}

// The module as a document: one element per item, named by its kind.
IXmlDocumentPtr ModuleDocument(const Module& m)
{
    const IXmlDocumentPtr doc = CreateXmlDocument("Module");
    const IXmlElementPtr root = doc->Get_DocumentElement();
    for (const TModuleItemData* item : {static_cast<const TModuleItemData*>(m.actions.get()),
                                        static_cast<const TModuleItemData*>(m.menu.get()),
                                        static_cast<const TModuleItemData*>(m.toolbar.get()),
                                        static_cast<const TModuleItemData*>(m.script.get())})
        item->SaveToXml(*root->AppendElement(item->ElementName()));
    return doc;
}

Module ReadModule(const IXmlDocumentPtr& doc)
{
    Module m;
    const IXmlElementPtr root = doc->Get_DocumentElement();
    m.actions->LoadFromXml(*root->NeedChild("Actions"));
    m.menu->LoadFromXml(*root->NeedChild("Menu"));
    m.toolbar->LoadFromXml(*root->NeedChild("Toolbar"));
    m.script->LoadFromXml(*root->NeedChild("Script"));
    return m;
}

void ExpectSameAction(const TModuleActionData& a, const TModuleActionData& b)
{
    EXPECT_EQ(a.Name, b.Name);
    EXPECT_EQ(a.Category, b.Category);
    EXPECT_EQ(a.Caption, b.Caption);
    EXPECT_EQ(a.Hint, b.Hint);
    EXPECT_EQ(a.ShortCut, b.ShortCut);
    EXPECT_EQ(a.Visible, b.Visible);
    EXPECT_EQ(a.Enabled, b.Enabled);
    EXPECT_EQ(a.Checked, b.Checked);
    ASSERT_EQ(a.Bitmap == nullptr, b.Bitmap == nullptr);
    if (a.Bitmap) {
        EXPECT_EQ(a.Bitmap->Bytes(), b.Bitmap->Bytes());
        EXPECT_EQ(a.Bitmap->Width(), b.Bitmap->Width());
        EXPECT_EQ(a.Bitmap->Height(), b.Bitmap->Height());
    }
    EXPECT_EQ(a.HandlerScript, b.HandlerScript);
    EXPECT_EQ(a.HandlerMethod, b.HandlerMethod);
}

void ExpectSameMenuItems(const TModuleMenuItemDataList& a, const TModuleMenuItemDataList& b)
{
    ASSERT_EQ(a.Count(), b.Count());
    for (int i = 0; i < a.Count(); ++i) {
        const TModuleMenuItemData& x = *a.Get(i);
        const TModuleMenuItemData& y = *b.Get(i);
        EXPECT_EQ(x.Name, y.Name);
        EXPECT_EQ(x.Action, y.Action);
        EXPECT_EQ(x.Caption, y.Caption);
        EXPECT_EQ(x.Visible, y.Visible);
        EXPECT_EQ(x.RadioItem, y.RadioItem);
        EXPECT_EQ(x.GroupIndex, y.GroupIndex);
        ExpectSameMenuItems(x.Items, y.Items);
    }
}

void ExpectSameModule(const Module& a, const Module& b)
{
    EXPECT_EQ(a.actions->Name, b.actions->Name);
    EXPECT_EQ(a.actions->IntegrationWindowName, b.actions->IntegrationWindowName);
    ASSERT_EQ(a.actions->Actions.Count(), b.actions->Actions.Count());
    for (int i = 0; i < a.actions->Actions.Count(); ++i)
        ExpectSameAction(*a.actions->Actions.Get(i), *b.actions->Actions.Get(i));

    EXPECT_EQ(a.menu->Name, b.menu->Name);
    EXPECT_EQ(a.menu->IntegrationWindowName, b.menu->IntegrationWindowName);
    EXPECT_EQ(a.menu->IntegrationMenuName, b.menu->IntegrationMenuName);
    ExpectSameMenuItems(a.menu->Items, b.menu->Items);

    EXPECT_EQ(a.toolbar->Name, b.toolbar->Name);
    EXPECT_EQ(a.toolbar->IntegrationWindowName, b.toolbar->IntegrationWindowName);
    EXPECT_EQ(a.toolbar->IntegrationToolbarName, b.toolbar->IntegrationToolbarName);
    ASSERT_EQ(a.toolbar->Buttons.Count(), b.toolbar->Buttons.Count());
    for (int i = 0; i < a.toolbar->Buttons.Count(); ++i) {
        EXPECT_EQ(a.toolbar->Buttons.Get(i)->Name, b.toolbar->Buttons.Get(i)->Name);
        EXPECT_EQ(a.toolbar->Buttons.Get(i)->Action, b.toolbar->Buttons.Get(i)->Action);
        EXPECT_EQ(a.toolbar->Buttons.Get(i)->Group, b.toolbar->Buttons.Get(i)->Group);
    }

    EXPECT_EQ(a.script->Name, b.script->Name);
    EXPECT_EQ(a.script->Script, b.script->Script);
    EXPECT_EQ(a.script->Language, b.script->Language);
    EXPECT_EQ(a.script->Locale, b.script->Locale);
}

TEST(ModuleItemClasses, FourKindsRegisteredInOrder)
{
    const std::vector<TModuleItemDataClass>& classes = ModuleItemDataClassList();
    ASSERT_EQ(classes.size(), 4u);
    std::vector<std::string> names;
    for (const TModuleItemDataClass& c : classes) {
        names.emplace_back(c.ElementName);
        const rtl::RefPtr<TModuleItemData> item = c.Create();
        ASSERT_TRUE(item);
        EXPECT_EQ(item->ElementName(), c.ElementName) << "the class makes objects of its own kind";
    }
    EXPECT_THAT(names, ElementsAre("Actions", "Menu", "Script", "Toolbar"));
    EXPECT_NE(dynamic_cast<TModuleScriptData*>(classes[2].Create().get()), nullptr);
}

TEST(ModuleDescriptorsXml, EveryKindReadsBackThroughEachForm)
{
    const Module written = SampleModule();
    const IXmlDocumentPtr doc = ModuleDocument(written);

    const struct {
        const char* what;
        std::function<IXmlDocumentPtr()> reread;
    } forms[] = {
        {"the element itself", [&] { return doc; }},
        {"text",
         [&] {
             const IXmlDocumentPtr back = CreateXmlDocument();
             back->LoadXML(doc->Get_XML());
             return back;
         }},
        {"text, white space preserved",
         [&] {
             const IXmlDocumentPtr back = CreateXmlDocument();
             back->Set_PreserveWhiteSpace(true);
             back->LoadXML(doc->Get_XML());
             return back;
         }},
        {"stored bytes",
         [&] {
             rtl::TMemoryStream stream;
             doc->Save(stream);
             stream.SetPosition(0);
             const IXmlDocumentPtr back = CreateXmlDocument();
             back->Load(stream);
             return back;
         }},
        {"binary",
         [&] {
             const IXmlDocumentPtr back = CreateXmlDocument();
             back->LoadBinaryXML(doc->Get_BinaryXML());
             return back;
         }},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.what);
        const Module read = ReadModule(form.reread());
        ExpectSameModule(written, read);
    }
}

TEST(ModuleDescriptorsXml, ScriptIsWrittenAsCDataSections)
{
    const rtl::RefPtr<TModuleScriptData> script(new TModuleScriptData());
    script->Name = "s";
    script->Script = "a]]>b";
    const IXmlElementPtr e = NewElement("Script");
    script->SaveToXml(*e);
    EXPECT_EQ(e->Get_XML(), "\r\n<Script Name=\"s\" Language=\"vbscript\"><![CDATA[a]]]><![CDATA[]>b]]></Script>");

    // A script written by hand as plain text reads as that text.
    const IXmlDocumentPtr doc = CreateXmlDocument();
    doc->LoadXML("<Script Name=\"t\">MsgBox 1 &amp; 2</Script>");
    script->LoadFromXml(*doc->Get_DocumentElement());
    EXPECT_EQ(script->Script, "MsgBox 1 & 2");
    // An element with a simple value reads as its text.
    const IXmlElementPtr valued = NewElement("Script");
    valued->SetAttr("Name", "u");
    valued->Set_Text("x = 1");
    script->LoadFromXml(*valued);
    EXPECT_EQ(script->Script, "x = 1");
}

TEST(ModuleDescriptorsXml, AllAttributesAreWrittenInOrder)
{
    const Module m = SampleModule();
    const IXmlElementPtr action = NewElement("Action");
    m.actions->Actions.Get(1)->SaveToXml(*action);
    EXPECT_THAT(AttrNames(*action), ElementsAre("Name", "Category", "Caption", "Hint", "Shortcut", "Visible", "Enabled",
                                                "Checked", "HandlerScript", "HandlerMethod"));
    EXPECT_EQ(action->GetAttr("Shortcut"), "Shift+Alt+F4");
    EXPECT_THAT(action->Get_XML(), HasSubstr(" Visible=\"0\" Enabled=\"0\" Checked=\"1\" "));

    const IXmlElementPtr item = NewElement("Item");
    m.menu->Items.Get(0)->Items.Get(0)->SaveToXml(*item);
    EXPECT_THAT(AttrNames(*item), ElementsAre("Name", "Action", "Caption", "Visible", "RadioItem", "GroupIndex"));

    const IXmlElementPtr button = NewElement("Button");
    m.toolbar->Buttons.Get(2)->SaveToXml(*button);
    EXPECT_EQ(button->Get_XML(), "\r\n<Button Name=\"tb2\" Action=\"\" Group=\"2\"/>");

    const struct {
        const TModuleItemData* item;
        std::vector<std::string> attrs;
        std::vector<std::string> children;
    } items[] = {
        {m.actions.get(), {"Name", "IntegrationWindowName"}, {"Action", "Action"}},
        {m.menu.get(), {"Name", "IntegrationWindowName", "IntegrationMenuName"}, {"Item"}},
        {m.toolbar.get(), {"Name", "IntegrationWindowName", "IntegrationToolbarName"}, {"Button", "Button", "Button"}},
        {m.script.get(), {"Name", "Language", "Locale"}, {"#cdata-section", "#cdata-section", "#cdata-section"}},
    };
    for (const auto& c : items) {
        const IXmlElementPtr e = NewElement(c.item->ElementName());
        c.item->SaveToXml(*e);
        EXPECT_EQ(AttrNames(*e), c.attrs) << c.item->ElementName();
        std::vector<std::string> children;
        for (int i = 0; i < e->Get_ChildNodes()->Get_Count(); ++i)
            children.push_back(e->Get_ChildNodes()->Get_Item(i)->Get_NodeName());
        EXPECT_EQ(children, c.children) << c.item->ElementName();
    }
}

TEST(ModuleDescriptorsXml, MissingAttributesTakeTheirDefaults)
{
    const IXmlDocumentPtr doc = CreateXmlDocument();
    doc->LoadXML("<Module><Actions Name=\"a\"><Action Name=\"x\"/></Actions><Menu Name=\"m\"><Item Name=\"i\"/></Menu>"
                 "<Toolbar Name=\"t\"><Button Name=\"b\"/></Toolbar><Script Name=\"s\"/></Module>");
    const Module m = ReadModule(doc);
    EXPECT_EQ(m.actions->IntegrationWindowName, "");
    ASSERT_EQ(m.actions->Actions.Count(), 1);
    const TModuleActionData& action = *m.actions->Actions.Get(0);
    EXPECT_EQ(action.Caption, "");
    EXPECT_EQ(action.ShortCut, 0);
    EXPECT_FALSE(action.Visible || action.Enabled || action.Checked);
    EXPECT_EQ(action.Bitmap, nullptr);
    const TModuleMenuItemData& item = *m.menu->Items.Get(0);
    EXPECT_FALSE(item.Visible || item.RadioItem);
    EXPECT_EQ(item.GroupIndex, 0);
    EXPECT_EQ(item.Items.Count(), 0);
    EXPECT_EQ(m.toolbar->Buttons.Get(0)->Group, 0);
    EXPECT_EQ(m.script->Language, "vbscript");
    EXPECT_EQ(m.script->Locale, UserDefaultLocale()) << "a script without Locale has the user's default";
    EXPECT_EQ(m.script->Script, "");

    const IXmlElementPtr e = NewElement("Script");
    m.script->SaveToXml(*e);
    EXPECT_FALSE(e->AttrExists("Locale")) << "the default locale is not written";

    const rtl::RefPtr<TModuleScriptData> fresh(new TModuleScriptData());
    EXPECT_EQ(fresh->Language, "vbscript");
    EXPECT_EQ(fresh->Locale, UserDefaultLocale());
}

TEST(ModuleDescriptorsXml, MissingNameKeepsWhatWasReadBefore)
{
    const IXmlDocumentPtr doc = CreateXmlDocument();
    doc->LoadXML("<Actions Name=\"a\"><Action Name=\"1\"/><Action Name=\"2\"/><Action Caption=\"no name\"/>"
                 "<Action Name=\"4\"/></Actions>");
    const rtl::RefPtr<TModuleActionsData> actions(new TModuleActionsData());
    EXPECT_EQ(ErrorOf([&] { actions->LoadFromXml(*doc->Get_DocumentElement()); }), "Не задан атрибут \"Name\"");
    ASSERT_EQ(actions->Actions.Count(), 2);
    EXPECT_EQ(actions->Actions.Get(1)->Name, "2");

    for (const TModuleItemDataClass& c : ModuleItemDataClassList()) {
        const IXmlElementPtr unnamed = NewElement(c.ElementName);
        const rtl::RefPtr<TModuleItemData> item = c.Create();
        item->Name = "kept";
        EXPECT_EQ(ErrorOf([&] { item->LoadFromXml(*unnamed); }), "Не задан атрибут \"Name\"") << c.ElementName;
        EXPECT_EQ(item->Name, "kept") << c.ElementName;
    }
    const IXmlDocumentPtr nested = CreateXmlDocument();
    nested->LoadXML("<Menu Name=\"m\"><Item Name=\"a\"><Item Name=\"b\"/><Item/></Item></Menu>");
    const rtl::RefPtr<TModuleMenuData> menu(new TModuleMenuData());
    EXPECT_EQ(ErrorOf([&] { menu->LoadFromXml(*nested->Get_DocumentElement()); }), "Не задан атрибут \"Name\"");
    EXPECT_EQ(menu->Items.Count(), 0) << "the item that failed in its sub-items is released";
}

TEST(ModuleDescriptorsXml, ListsAreReplacedWhenRead)
{
    Module m = SampleModule();
    const IXmlDocumentPtr doc = CreateXmlDocument();
    doc->LoadXML("<Toolbar Name=\"t\"><Button Name=\"only\" Group=\"7\"/><Other Name=\"x\"/></Toolbar>");
    m.toolbar->LoadFromXml(*doc->Get_DocumentElement());
    ASSERT_EQ(m.toolbar->Buttons.Count(), 1);
    EXPECT_EQ(m.toolbar->Buttons.Get(0)->Group, 7);
}

// ---- bitmaps -------------------------------------------------------------------------

TEST(ModuleBitmaps, WrittenAsBase64InLinesOf80)
{
    const rtl::RefPtr<TModuleActionData> action(new TModuleActionData());
    action->Name = "a";
    action->Bitmap = TBitmapData::FromBytes(FourByFour());
    const IXmlElementPtr e = NewElement("Action");
    action->SaveToXml(*e);
    const std::string text = e->NeedChild("Bitmap")->Get_Text();
    EXPECT_EQ(text, Base64Encode(FourByFour().data(), FourByFour().size(), 80));
    EXPECT_EQ(text.find("\r\n"), 80u);
    EXPECT_EQ(text.size(), 136u + 2);

    // Reading drops the bitmap held before, also when the element has none.
    const IXmlElementPtr plain = NewElement("Action");
    plain->SetAttr("Name", "b");
    action->LoadFromXml(*plain);
    EXPECT_EQ(action->Bitmap, nullptr);
}

TEST(ModuleBitmaps, AcceptedLayouts)
{
    const struct {
        const char* what;
        std::string bytes;
        int width;
        int height;
    } cases[] = {
        {"1 x 1, 24 bits", OnePixel(), 1, 1},
        {"top-down rows", Bmp().FileHeader(58, 54).InfoHeader(1, -1, 24).Fill(4, 0).str(), 1, 1},
        {"core header, 1 bit with its two colours",
         Bmp().FileHeader(14 + 12 + 6 + 8, 32).I32(12).I16(3).I16(2).I16(1).I16(1).Fill(6, 0xFF).Fill(8, 0).str(), 3, 2},
        {"8 bits, four colours used",
         Bmp().FileHeader(54 + 16 + 8, 70).InfoHeader(3, 2, 8, 0, 0, 4).Fill(16, 1).Fill(8, 2).str(), 3, 2},
        {"bit fields with their masks",
         Bmp().FileHeader(54 + 12 + 4, 66).InfoHeader(1, 1, 32, 3).I32(0xFF0000).I32(0xFF00).I32(0xFF).I32(7).str(), 1,
         1},
        {"RLE8", Bmp().FileHeader(54 + 1024 + 4, 1078).InfoHeader(2, 1, 8, 1, 4).Fill(1024, 0).U8(2).U8(0).U8(0).U8(1).str(),
         2, 1},
    };
    for (const auto& c : cases) {
        std::unique_ptr<TBitmapData> bitmap;
        EXPECT_EQ(ErrorOf([&] { bitmap = TBitmapData::FromBytes(c.bytes); }), "") << c.what;
        if (!bitmap) continue;
        EXPECT_EQ(bitmap->Width(), c.width) << c.what;
        EXPECT_EQ(bitmap->Height(), c.height) << c.what;
        EXPECT_EQ(bitmap->Bytes(), c.bytes) << c.what;
    }
}

TEST(ModuleBitmaps, BadBitmapsAreRefusedAndKeepTheActionsReadBefore)
{
    const std::string good = OnePixel();
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"not a bitmap", "just some text, not a bitmap file at all"},
        {"empty", ""},
        {"shorter than the headers", good.substr(0, 40)},
        {"another signature", "MB" + good.substr(2)},
        {"an unknown header size", Bmp().FileHeader(58, 54).I32(20).Fill(40, 0).str()},
        {"width 0", Bmp().FileHeader(58, 54).InfoHeader(0, 1, 24).Fill(4, 0).str()},
        {"height 0", Bmp().FileHeader(58, 54).InfoHeader(1, 0, 24).Fill(4, 0).str()},
        {"a negative width", Bmp().FileHeader(58, 54).InfoHeader(-1, 1, 24).Fill(4, 0).str()},
        {"the most negative height", Bmp().FileHeader(58, 54).InfoHeader(1, INT32_MIN, 24).Fill(4, 0).str()},
        {"3 bits per pixel", Bmp().FileHeader(58, 54).InfoHeader(1, 1, 3).Fill(4, 0).str()},
        {"two planes",
         Bmp().FileHeader(58, 54).I32(40).I32(1).I32(1).I16(2).I16(24).Fill(24, 0).Fill(4, 0).str()},
        {"JPEG compression", Bmp().FileHeader(58, 54).InfoHeader(1, 1, 24, 4, 4).Fill(4, 0).str()},
        {"RLE8 of 24 bits", Bmp().FileHeader(58, 54).InfoHeader(1, 1, 24, 1, 4).Fill(4, 0).str()},
        {"RLE without its size", Bmp().FileHeader(54 + 1024, 1078).InfoHeader(1, 1, 8, 1, 0).Fill(1024, 0).str()},
        {"more colours than the depth holds", Bmp().FileHeader(54 + 12 + 4, 66).InfoHeader(1, 1, 1, 0, 0, 3).Fill(16, 0).str()},
        {"the pixels cut short", good.substr(0, 57)},
        {"pixels beyond the data", Bmp().FileHeader(58, 54).InfoHeader(1000, 1000, 24).Fill(4, 0).str()},
        {"an offset past the end", Bmp().FileHeader(58, 5000).InfoHeader(1, 1, 24).Fill(4, 0).str()},
        {"an offset inside the headers", Bmp().FileHeader(58, 20).InfoHeader(1, 1, 24).Fill(4, 0).str()},
        {"an offset inside the colour table", Bmp().FileHeader(54 + 8 + 4, 58).InfoHeader(1, 1, 1).Fill(12, 0).str()},
        {"a huge claimed width", Bmp().FileHeader(58, 54).InfoHeader(INT32_MAX, 1, 32).Fill(4, 0).str()},
    };
    for (const auto& c : cases) {
        EXPECT_THAT(ErrorOf([&] { TBitmapData::FromBytes(c.bytes); }),
                    StartsWith("Некорректные данные растрового изображения: "))
            << c.what;
        EXPECT_THROW(TBitmapData::FromBytes(c.bytes), EBitmapDataError) << c.what;

        const IXmlElementPtr actions = NewElement("Actions");
        actions->SetAttr("Name", "a");
        const rtl::RefPtr<TModuleActionData> good1(new TModuleActionData());
        good1->Name = "good";
        good1->Bitmap = TBitmapData::FromBytes(OnePixel());
        good1->SaveToXml(*actions->AppendElement("Action"));
        const IXmlElementPtr bad = actions->AppendElement("Action");
        bad->SetAttr("Name", "bad");
        bad->AppendElement("Bitmap")->ReplaceTextByBinaryData(c.bytes.data(), c.bytes.size(), 80);
        actions->AppendElement("Action")->SetAttr("Name", "after");
        const rtl::RefPtr<TModuleActionsData> read(new TModuleActionsData());
        EXPECT_THROW(read->LoadFromXml(*actions), EBitmapDataError) << c.what;
        ASSERT_EQ(read->Actions.Count(), 1) << c.what;
        EXPECT_EQ(read->Actions.Get(0)->Name, "good");
        EXPECT_NE(read->Actions.Get(0)->Bitmap, nullptr);
    }

    // Read on its own, the action keeps its attributes and has no bitmap.
    const rtl::RefPtr<TModuleActionData> action(new TModuleActionData());
    action->Bitmap = TBitmapData::FromBytes(OnePixel());
    const IXmlElementPtr e = NewElement("Action");
    e->SetAttr("Name", "alone");
    e->AppendElement("Bitmap")->Set_Text("not base64 at all!");
    EXPECT_THROW(action->LoadFromXml(*e), EBitmapDataError);
    EXPECT_EQ(action->Name, "alone");
    EXPECT_EQ(action->Bitmap, nullptr);
}

// ---- shortcut text and locale -----------------------------------------------------------

TEST(ModuleShortCuts, TextBothWays)
{
    const struct {
        int shortCut;
        const char* text;
    } cases[] = {
        {0, ""},
        {scCtrl | 'S', "Ctrl+S"},
        {'0', "0"},
        {0x74, "F5"},
        {0x87, "F24"},
        {scShift | scCtrl | scAlt | 0x2E, "Shift+Ctrl+Alt+Del"},
        {0x0D, "Enter"},
        {scAlt | 0x21, "Alt+PgUp"},
        {0x65, "Num 5"},
        {scCtrl | 0x6B, "Ctrl+Num +"},
        {scCtrl | 0xBD, "Ctrl+-"},
        {scShift | 0xBF, "Shift+/"},
        {0x13, "#19"},
        {scCtrl | 0xFF, "Ctrl+#255"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShortCutToText(static_cast<TShortCut>(c.shortCut)), c.text) << c.shortCut;
        EXPECT_EQ(TextToShortCut(c.text), c.shortCut) << c.text;
    }
    const struct {
        const char* text;
        int shortCut;
    } read[] = {
        {"ctrl+s", scCtrl | 'S'},
        {"Alt+Shift+a", scShift | scAlt | 'A'},
        {"CTRL+f5", scCtrl | 0x74},
        {"Ctrl+", 0},
        {"Ctrl+Foo", 0},
        {"Ctrl+#256", 0},
        {"#0", 0},
        {"S+", 0},
    };
    for (const auto& c : read) EXPECT_EQ(TextToShortCut(c.text), c.shortCut) << c.text;
    EXPECT_EQ(ShortCutToText(scCtrl), "") << "no key, no text";
}

// Sets the locale variables for the life of the object and puts them back.
class LocaleEnvironment {
public:
    LocaleEnvironment(const char* lcAll, const char* lcMessages, const char* lang)
    {
        for (int i = 0; i < 3; ++i) {
            const char* old = std::getenv(kNames[i]);
            saved_[i] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        Set(kNames[0], lcAll);
        Set(kNames[1], lcMessages);
        Set(kNames[2], lang);
    }
    ~LocaleEnvironment()
    {
        for (int i = 0; i < 3; ++i) Set(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
    }
    LocaleEnvironment(const LocaleEnvironment&) = delete;
    LocaleEnvironment& operator=(const LocaleEnvironment&) = delete;

private:
    static void Set(const char* name, const char* value)
    {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::optional<std::string> saved_[3];
};

TEST(ModuleLocale, UserDefaultFollowsTheLocaleVariables)
{
    const struct {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        int lcid;
    } cases[] = {
        {"ru_RU.UTF-8", nullptr, "en_US.UTF-8", 1049},
        {"", "en_GB.UTF-8", "ru_RU", 2057},
        {nullptr, nullptr, "en_US.UTF-8", 1033},
        {nullptr, nullptr, "de_DE@euro", 1031},
        {nullptr, nullptr, "uk_UA.KOI8-U", 1058},
        {nullptr, nullptr, "C", 1033},
        {nullptr, nullptr, "POSIX", 1033},
        {nullptr, nullptr, nullptr, 1033},
    };
    for (const auto& c : cases) {
        const LocaleEnvironment env(c.lcAll, c.lcMessages, c.lang);
        EXPECT_EQ(UserDefaultLocale(), c.lcid) << (c.lang ? c.lang : "(none)");
    }

    // A script written under one locale names it when read under another.
    const IXmlElementPtr e = NewElement("Script");
    {
        const LocaleEnvironment env("ru_RU.UTF-8", nullptr, nullptr);
        const rtl::RefPtr<TModuleScriptData> script(new TModuleScriptData());
        script->Name = "s";
        script->SaveToXml(*e);
        EXPECT_FALSE(e->AttrExists("Locale"));
        script->Locale = 1033;
        script->SaveToXml(*e);
        EXPECT_EQ(e->GetAttr("Locale"), "1033");
    }
    const LocaleEnvironment env("en_US.UTF-8", nullptr, nullptr);
    const rtl::RefPtr<TModuleScriptData> back(new TModuleScriptData());
    back->LoadFromXml(*e);
    EXPECT_EQ(back->Locale, 1033);
}

} // namespace
