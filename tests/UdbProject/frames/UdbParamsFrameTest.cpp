// The connection-parameter frame as a real widget on the offscreen platform,
// over the real driver manager: the built-in drivers and their parameter
// grids, the value choices (inline, asked of the driver, Ctrl+Enter), the
// folder and file dialogs, the parameter document both ways, unknown
// drivers, and reloading the drivers while editors are shown.
#include "UdbProject/frames/UdbParamsFrame.h"

#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "CoreLib/controls/XListView.h"
#include "remote/dialogs/RemoteComputerComps.h"
#include "remote/dialogs/RemoteOpenDialogs.h"
#include "remote/dialogs/SelectRemoteFolderForms.h"
#include "tests/CoreLib/controls/PropGridTestSupport.h"
#include "tests/CoreLib/controls/WidgetTestSupport.h"
#include "tests/UdbProject/frames/ParamsFrameTestSupport.h"
#include "tests/platform/gui/GuiTestSupport.h"
#include "tests/remote/dialogs/RemoteDialogsTestSupport.h"
#include "tests/support/PdoxOpener.h"

namespace {

using framestest::ReadParams;
using framestest::TOwnDrivers;
using framestest::TParamsDoc;
using framestest::TScriptedManager;
using ::testing::HasSubstr;

const std::string kParadoxRows = "#Параметры | Папка | Пароль";
const std::string kMsSqlRows = "#Параметры | Сервер | Способ идентификации | Имя пользователя | Пароль | "
                               "База данных | #Доп. Параметры | connection-timeout (в сек) | command-timeout (в сек)";
const std::string kOracleRows = "#Параметры | Источник данных | Имя пользователя | Пароль | #Доп. Параметры | "
                                "connection-timeout (в сек) | command-timeout (в сек)";

std::string S(const QString& text) { return text.toStdString(); }

// Every editor row as "caption=shown text".
std::string Shown(const TDBParamsFrame& frame)
{
    std::string text;
    for (const TPropGridRow& row : frame.ParamsGrid->Rows()) {
        if (!row.Editor) continue;
        if (!text.empty()) text += " | ";
        text += row.Editor->Name() + "=" + row.Editor->GetDisplayText();
    }
    return text;
}

std::vector<std::string> Items(const QComboBox& combo)
{
    std::vector<std::string> items;
    for (int i = 0; i < combo.count(); ++i) items.push_back(S(combo.itemText(i)));
    return items;
}

// The editor of the row showing caption (the first one).
TParamPropEditor* EditorNamed(const TDBParamsFrame& frame, const std::string& caption)
{
    for (const TPropGridRow& row : frame.ParamsGrid->Rows())
        if (row.Editor && row.Editor->Name() == caption) return static_cast<TParamPropEditor*>(row.Editor);
    return nullptr;
}

// The vendor element's "file" and "version": the hint of every built-in driver.
std::string BuiltInHint()
{
    const ISimpleParamsPtr vendor = CreateSimpleParams(GetVendorDocument()->Get_DocumentElement(), false);
    return "file: \"" + vendor->GetStr("file", "") + "\" version: \"" + vendor->GetStr("version", "") + "\"";
}

class ParamsFrame : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterBuiltInDrivers(); }

    // The built-in drivers through a real manager that finds no library.
    rtl::RefPtr<IUdbManager> BuiltIns() { return rtl::MakeRef<TUdbManager>(noLibraries.Path() + "/"); }

    std::unique_ptr<TDBParamsFrame> Make(const rtl::RefPtr<IUdbManager>& manager, TDBParamsMode mode = dpmEditAll)
    {
        auto frame = std::make_unique<TDBParamsFrame>();
        frame->resize(380, 230);
        frame->Init(manager, computer, mode);
        frame->show();
        return frame;
    }

    // The user picks driver index in the list.
    static void Choose(TDBParamsFrame& frame, int index)
    {
        frame.DriversLookup->setCurrentIndex(index);
        emit frame.DriversLookup->activated(index);
    }

    // A click on the value cell of row.
    static void ClickRow(TDBParamsFrame& frame, int row)
    {
        widgettest::Click(frame.ParamsGrid->viewport(), frame.ParamsGrid->CellRect(1, row).center());
        ASSERT_EQ(frame.ParamsGrid->Row(), row);
    }

    // A key to the in-place box when it shows, else to the grid.
    static void Key(TDBParamsFrame& frame, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        TPropInplaceEdit* box = frame.ParamsGrid->InplaceBox();
        QWidget* target = box && box->isVisible() ? static_cast<QWidget*>(box) : frame.ParamsGrid;
        widgettest::Key(target, QEvent::KeyPress, key, {}, false, modifiers);
    }

    static void TypeText(TDBParamsFrame& frame, const QString& text)
    {
        TPropInplaceEdit* box = frame.ParamsGrid->InplaceBox();
        ASSERT_TRUE(box && box->isVisible());
        box->selectAll();
        for (const QChar ch : text) widgettest::Key(box, QEvent::KeyPress, 0, QString(ch));
    }

    static void PressButton(TDBParamsFrame& frame)
    {
        TPropButton* button = frame.ParamsGrid->Button;
        ASSERT_TRUE(button->isVisible());
        widgettest::Click(button, button->rect().center());
    }

    testing_support::TempFolder noLibraries;
    IVelmoServerRemoteComputerPtr computer = CreateLocalRemoteComputer();
};

// ---- the built-in drivers ---------------------------------------------------------------

TEST_F(ParamsFrame, ListsTheBuiltInDriversInAnswerOrderAndSelectsTheFirst)
{
    const auto frame = Make(BuiltIns());
    EXPECT_EQ(S(frame->Label1->text()), "Драйвер");
    EXPECT_FALSE(frame->DriversLookup->isEditable());
    EXPECT_TRUE(frame->DriversLookup->isEnabled());
    EXPECT_EQ(Items(*frame->DriversLookup), (std::vector<std::string>{"Paradox", "MSSQL cервер", "ORACLE cервер "}));
    EXPECT_EQ(frame->DriversLookup->currentIndex(), 0);
    EXPECT_EQ(frame->SelectedIndex(), 0);
    EXPECT_EQ(frame->Driver(0).Name, "BDE.Paradox");
    EXPECT_EQ(frame->Driver(1).Name, "ADO.MSSQL");
    EXPECT_EQ(frame->Driver(2).Name, "ADO.ORACLE");
    EXPECT_FALSE(frame->GetDriverFile().empty()) << "the built-in drivers' module";
    EXPECT_EQ(S(frame->DriversLookup->toolTip()), BuiltInHint());
    EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), kParadoxRows);
    EXPECT_EQ(frame->ParamsGrid->ColCount(), 2);
    EXPECT_EQ(frame->ParamsGrid->DefaultRowHeight(), 16);

    // The list as the user drives it: the arrow key selects the next driver.
    frame->DriversLookup->setFocus();
    widgettest::Type(frame->DriversLookup, Qt::Key_Down);
    EXPECT_EQ(frame->SelectedIndex(), 1);
    EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), kMsSqlRows);
}

TEST_F(ParamsFrame, TheParadoxDriverShowsItsFolderWithABrowseButtonAndItsPassword)
{
    const auto frame = Make(BuiltIns());
    TPropGrid& grid = *frame->ParamsGrid;
    EXPECT_FALSE(frame->AdvancedGroup().Visible);
    EXPECT_TRUE(frame->BasicGroup().Visible);

    const TPropRowEntry folder = grid.EntryFor(1);
    EXPECT_EQ(folder.Button, pbkEllipsis);
    EXPECT_TRUE(folder.ShowEdit);
    EXPECT_EQ(folder.StatusText, "Выбирите папку в которой находится база данных");
    const TPropRowEntry password = grid.EntryFor(2);
    EXPECT_EQ(password.Button, pbkNone);
    EXPECT_TRUE(password.ShowEdit);
    EXPECT_EQ(password.StatusText, "Пароль для доступа к таблицам");

    ClickRow(*frame, 1);
    EXPECT_TRUE(grid.Button->isVisible());
    EXPECT_TRUE(grid.Button->Ellipsis());
    TypeText(*frame, "/data/velmo");
    ClickRow(*frame, 2);
    EXPECT_FALSE(grid.Button->isVisible());
    TypeText(*frame, "секрет");
    ClickRow(*frame, 1);
    EXPECT_EQ(Shown(*frame), "Папка=/data/velmo | Пароль=секрет") << "the password is shown in clear";
    EXPECT_EQ(ReadParams(frame->GetParams()),
              (TParamsDoc{"BDE.Paradox", "Paradox", {{"folder", "/data/velmo"}, {"password", "секрет"}}}));
}

TEST_F(ParamsFrame, EachDriverShowsItsBasicAndAdvancedParameters)
{
    struct Case {
        int index;
        std::string rows;
        std::string shown;
    };
    const Case cases[] = {
        {1, kMsSqlRows,
         "Сервер= | Способ идентификации=Указанный пользователь | Имя пользователя=sa | Пароль= | "
         "База данных= | connection-timeout (в сек)=15 | command-timeout (в сек)=30"},
        {2, kOracleRows,
         "Источник данных= | Имя пользователя= | Пароль= | connection-timeout (в сек)=15 | "
         "command-timeout (в сек)=30"},
        {0, kParadoxRows, "Папка= | Пароль="},
    };
    const auto frame = Make(BuiltIns());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        Choose(*frame, c.index);
        EXPECT_EQ(frame->SelectedIndex(), c.index);
        EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), c.rows);
        EXPECT_EQ(Shown(*frame), c.shown);
        EXPECT_EQ(frame->AdvancedGroup().Visible, c.index != 0);
    }
    Choose(*frame, 1);
    EXPECT_EQ(ReadParams(frame->GetParams()),
              (TParamsDoc{"ADO.MSSQL",
                          "MSSQL cервер",
                          {{"server", ""},
                           {"authentication", ""},
                           {"login-name", "sa"},
                           {"login-password", ""},
                           {"database", ""},
                           {"connection-timeout", "15"},
                           {"command-timeout", "30"}}}));
}

TEST_F(ParamsFrame, AnInlineChoiceShowsItsCaptionAndCtrlEnterTakesTheNext)
{
    const auto frame = Make(BuiltIns());
    Choose(*frame, 1);
    TParamPropEditor* authentication = EditorNamed(*frame, "Способ идентификации");
    ASSERT_NE(authentication, nullptr);
    EXPECT_EQ(authentication->Value(), "") << "the definition's own text is only blanks";
    EXPECT_EQ(authentication->GetDisplayText(), "Указанный пользователь");
    EXPECT_EQ(frame->ParamsGrid->EntryFor(2).Button, pbkArrow);
    EXPECT_FALSE(frame->ParamsGrid->EntryFor(2).ShowEdit);

    ClickRow(*frame, 2);
    Key(*frame, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(authentication->Value(), "SSPI");
    EXPECT_EQ(authentication->GetDisplayText(), "Система безопасности Windows NT");
    Key(*frame, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(authentication->Value(), "");
    EXPECT_EQ(authentication->GetDisplayText(), "Указанный пользователь");

    // The pick list shows the captions with the current one chosen; the
    // choice stores its value.
    propgridtest::PickListAnswer answer{{Qt::Key_Up, Qt::Key_Return}};
    {
        const auto runner = answer.Install();
        Key(*frame, Qt::Key_Return);
    }
    EXPECT_EQ(answer.shownCount, 2);
    EXPECT_EQ(answer.preselected, 1);
    EXPECT_EQ(authentication->Value(), "SSPI");
    EXPECT_EQ(ReadParams(frame->GetParams()).Params[1],
              (std::pair<std::string, std::string>{"authentication", "SSPI"}));
}

TEST_F(ParamsFrame, SwitchingDriversKeepsEachDriversValues)
{
    const auto frame = Make(BuiltIns());
    ClickRow(*frame, 1);
    TypeText(*frame, "/base");
    ClickRow(*frame, 2);
    Choose(*frame, 1);
    ClickRow(*frame, 1);
    TypeText(*frame, "server1");
    ClickRow(*frame, 3);
    Choose(*frame, 0);
    EXPECT_EQ(Shown(*frame), "Папка=/base | Пароль=");
    Choose(*frame, 1);
    EXPECT_THAT(Shown(*frame), ::testing::StartsWith("Сервер=server1 |"));
}

// ---- the parameter document ---------------------------------------------------------------

TEST_F(ParamsFrame, TheParameterDocumentRoundTrips)
{
    struct Case {
        const char* what;
        std::string xml;
        int selected;
        TParamsDoc expected;
    };
    const Case cases[] = {
        {"Paradox with both values",
         "<driver name=\"BDE.Paradox\" caption=\"Paradox\"><param name=\"folder\">/a/b</param>"
         "<param name=\"password\">pw</param></driver>",
         0,
         {"BDE.Paradox", "Paradox", {{"folder", "/a/b"}, {"password", "pw"}}}},
        {"a document with some parameters: the others keep their values",
         "<driver name=\"ADO.MSSQL\"><param name=\"server\">srv</param>"
         "<param name=\"command-timeout\">99</param><param name=\"unknown\">x</param></driver>",
         1,
         {"ADO.MSSQL",
          "MSSQL cервер",
          {{"server", "srv"},
           {"authentication", ""},
           {"login-name", "sa"},
           {"login-password", ""},
           {"database", ""},
           {"connection-timeout", "15"},
           {"command-timeout", "99"}}}},
        {"the name is compared exactly: another case is another driver",
         "<driver name=\"bde.paradox\"><param name=\"folder\">/c</param></driver>",
         3,
         {"bde.paradox", "-", {{"folder", "/c"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto frame = Make(BuiltIns());
        frame->SetParams(c.xml);
        EXPECT_EQ(frame->SelectedIndex(), c.selected);
        EXPECT_EQ(frame->DriversLookup->currentIndex(), c.selected);
        const std::string written = frame->GetParams();
        EXPECT_EQ(ReadParams(written), c.expected);
        // What the frame writes, a second frame shows alike.
        const auto second = Make(BuiltIns());
        second->SetParams(written);
        EXPECT_EQ(ReadParams(second->GetParams()), c.expected);
    }
}

TEST_F(ParamsFrame, WithoutADriverTheDocumentIsAnEmptyDriverElement)
{
    const auto manager = rtl::MakeRef<TScriptedManager>([](const std::string&) { return std::string("<response/>"); });
    const auto frame = Make(manager);
    EXPECT_EQ(frame->DriverCount(), 0);
    EXPECT_EQ(frame->SelectedIndex(), -1);
    EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), "#Параметры");
    EXPECT_EQ(S(frame->DriversLookup->toolTip()), "Driver unselected ");
    EXPECT_EQ(ReadParams(frame->GetParams()), (TParamsDoc{"-", "-", {}}));
    EXPECT_EQ(frame->GetDriverFile(), "");
    EXPECT_EQ(frame->GetDriverVersion(), "");
    ASSERT_EQ(manager->requests.size(), 1u);
    EXPECT_EQ(ReadParams(manager->requests[0]).Name, "<query-drivers>");
}

TEST_F(ParamsFrame, ADocumentOfAnUnknownDriverIsShownReadOnly)
{
    const auto frame = Make(BuiltIns());
    const std::string xml = "<driver name=\"ODBC.Other\" caption=\"Чужой\">"
                            "<param name=\"dsn\">  base  </param>"
                            "<param name=\"user\" caption=\"Кто\" editor=\"folder\">me</param></driver>";
    frame->SetParams(xml);
    EXPECT_EQ(Items(*frame->DriversLookup),
              (std::vector<std::string>{"Paradox", "MSSQL cервер", "ORACLE cервер ", "Чужой"}));
    EXPECT_EQ(frame->SelectedIndex(), 3);
    EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), "#Параметры | dsn | Кто");
    EXPECT_EQ(Shown(*frame), "dsn=base | Кто=me");
    for (int row = 1; row <= 2; ++row) {
        EXPECT_EQ(frame->ParamsGrid->EditorAt(row)->Options(), 0) << "row " << row;
        EXPECT_FALSE(frame->ParamsGrid->EntryFor(row).ShowEdit);
        EXPECT_EQ(frame->ParamsGrid->EntryFor(row).Button, pbkNone);
    }
    EXPECT_EQ(ReadParams(frame->GetParams()), (TParamsDoc{"ODBC.Other", "Чужой", {{"dsn", "base"}, {"user", "me"}}}));

    // The same document again selects that driver; it is not added twice.
    Choose(*frame, 0);
    frame->SetParams("<driver name=\"ODBC.Other\"><param name=\"dsn\">other</param></driver>");
    EXPECT_EQ(frame->DriverCount(), 4);
    EXPECT_EQ(frame->SelectedIndex(), 3);
    EXPECT_EQ(Shown(*frame), "dsn=other | Кто=me");
}

TEST_F(ParamsFrame, ABadDocumentChangesNothing)
{
    struct Case {
        const char* what;
        std::string xml;
        std::string message;
    };
    const Case cases[] = {
        {"no root element", "", "Документ параметров подключения не содержит корневого элемента"},
        {"only a comment", "<!-- nothing -->", "Документ параметров подключения не содержит корневого элемента"},
        {"a root without name", "<driver><param name=\"folder\">/x</param></driver>", "name"},
        {"an unknown driver whose parameter has no name",
         "<driver name=\"Other\"><param caption=\"c\">v</param></driver>", "name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto frame = Make(BuiltIns());
        Choose(*frame, 1);
        const std::string before = frame->GetParams();
        try {
            frame->SetParams(c.xml);
            ADD_FAILURE() << "no error";
        } catch (const rtl::Exception& e) {
            EXPECT_THAT(e.Message(), HasSubstr(c.message));
        }
        EXPECT_EQ(frame->DriverCount(), 3);
        EXPECT_EQ(frame->SelectedIndex(), 1);
        EXPECT_EQ(frame->GetParams(), before);
        EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), kMsSqlRows);
    }
}

TEST_F(ParamsFrame, ParametersWithOneCaptionKeepTheirOwnValues)
{
    TOwnDrivers drivers;
    drivers.Add("<driver name=\"Twin\"><param name=\"first\" caption=\"Пароль\">one</param>"
                "<param name=\"second\" caption=\"Пароль\">two</param></driver>");
    const auto frame = Make(drivers.Manager());
    EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), "#Параметры | Пароль | Пароль");
    EXPECT_EQ(ReadParams(frame->GetParams()), (TParamsDoc{"Twin", "-", {{"first", "one"}, {"second", "two"}}}));

    ClickRow(*frame, 2);
    TypeText(*frame, "второй");
    ClickRow(*frame, 1);
    EXPECT_EQ(ReadParams(frame->GetParams()), (TParamsDoc{"Twin", "-", {{"first", "one"}, {"second", "второй"}}}));

    frame->SetParams("<driver name=\"Twin\"><param name=\"second\">2</param><param name=\"first\">1</param></driver>");
    EXPECT_EQ(Shown(*frame), "Пароль=1 | Пароль=2");
}

// ---- value choices -------------------------------------------------------------------------

TEST_F(ParamsFrame, AQueryLookupAsksTheDriverUnderTheWaitCursor)
{
    std::vector<TParamsDoc> asked;
    std::vector<bool> waitCursor;
    std::string answer = "<response><value> alpha </value><value>beta</value><other>x</other>"
                         "<value>gamma</value></response>";
    TOwnDrivers drivers;
    drivers.Add("<driver name=\"Lookup\" caption=\"С выбором\"><param name=\"server\" caption=\"Сервер\">srv</param>"
                "<param name=\"database\" caption=\"База\" editor=\"query-lookup\">beta</param></driver>",
                [&](const IXmlDocumentPtr& request, IXmlDocumentPtr& response) {
                    const IXmlElementPtr root = request->Get_DocumentElement();
                    TParamsDoc doc = ReadParams(root->Get_XML());
                    doc.Name = root->GetAttr("driver-name") + "/" + root->GetAttr("param-name");
                    asked.push_back(doc);
                    waitCursor.push_back(QApplication::overrideCursor() &&
                                         QApplication::overrideCursor()->shape() == Qt::WaitCursor);
                    if (answer == "fail") throw rtl::Exception("сервер не отвечает");
                    response = framestest::Parse(answer);
                });
    const auto frame = Make(drivers.Manager());
    EXPECT_EQ(frame->ParamsGrid->EntryFor(2).Button, pbkArrow);
    EXPECT_TRUE(frame->ParamsGrid->EntryFor(2).ShowEdit) << "typed in place as well";

    ClickRow(*frame, 2);
    propgridtest::PickListAnswer pick{{Qt::Key_Down, Qt::Key_Return}};
    {
        const auto runner = pick.Install();
        Key(*frame, Qt::Key_Return);
    }
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], (TParamsDoc{"Lookup/database", "-", {{"server", "srv"}, {"database", "beta"}}}));
    EXPECT_EQ(waitCursor, std::vector<bool>{true});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is back";
    EXPECT_EQ(pick.shownCount, 3);
    EXPECT_EQ(pick.preselected, 1) << "the current value";
    EXPECT_EQ(Shown(*frame), "Сервер=srv | База=gamma");
    EXPECT_EQ(frame->ParamsGrid->InplaceBox()->text(), QString("gamma"));

    // An answer without values opens no list.
    answer = "<response/>";
    {
        const gui::ScopedPopupRunner none([](QWidget&) { ADD_FAILURE() << "a list without values"; });
        Key(*frame, Qt::Key_Return);
    }
    EXPECT_EQ(Shown(*frame), "Сервер=srv | База=gamma");

    // A failing driver: its message is shown and the cursor comes back.
    answer = "fail";
    {
        guitest::BoxRecorder boxes;
        const gui::ScopedPopupRunner none([](QWidget&) { ADD_FAILURE() << "a list after a failure"; });
        frame->ParamsGrid->Button->Press();
        frame->ParamsGrid->Button->Release(true);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Error);
        EXPECT_THAT(boxes.boxes[0].text, HasSubstr("сервер не отвечает"));
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(asked.size(), 3u);
}

TEST_F(ParamsFrame, InlineChoicesWithoutCaptionShowTheirValue)
{
    TOwnDrivers drivers;
    drivers.Add("<driver name=\"Inline\"><param name=\"mode\" caption=\"Режим\" editor=\"INLINE-LOOKUP\">"
                "<value caption=\"Быстро\">fast</value><value> plain </value><value name=\"n\">named</value>"
                "plain</param></driver>");
    const auto frame = Make(drivers.Manager());
    TParamPropEditor* mode = EditorNamed(*frame, "Режим");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->Kind(), pekInlineLookup) << "the editor word is read ignoring case";
    EXPECT_EQ(mode->Value(), "plain");
    EXPECT_EQ(mode->GetDisplayText(), "plain");

    TPickItems list;
    int index = -1;
    mode->GetValues(list, index);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Strings(0), "Быстро");
    EXPECT_EQ(list.Strings(1), "plain");
    EXPECT_EQ(list.Strings(2), "named");
    EXPECT_EQ(index, 1);
    mode->SelectValue(list, 2);
    mode->ValuesDone(list);
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(mode->Value(), "named");
    EXPECT_EQ(mode->GetDisplayText(), "named");
    mode->SetStrValue("not listed");
    EXPECT_EQ(mode->GetDisplayText(), "not listed");
}

// ---- folders and files ----------------------------------------------------------------------

TEST_F(ParamsFrame, BrowsesToAFolder)
{
    dialogtest::DiskTree disk;
    const auto frame = Make(BuiltIns());
    frame->SetParams(velmotest::PdoxParamsXml(disk.Path("Data/Old")));
    ClickRow(*frame, 1);

    dialogtest::FormDriver driver;
    std::string startedAt;
    std::string caption;
    driver.On<TSelectRemoteFolderForm>([&](TSelectRemoteFolderForm& form) {
        caption = S(form.TopLabel->text());
        startedAt = GetSelectedFolder(*form.Folders);
        SelectFolderPath(*form.Folders, *form.RemoteComputer, disk.Path("Data/Sub"));
        form.Ok->click();
        return form.result();
    });
    {
        const auto runner = driver.Install();
        PressButton(*frame);
    }
    EXPECT_EQ(driver.shown, 1);
    EXPECT_EQ(caption, "Выберите папку") << "the definition's title";
    EXPECT_EQ(startedAt, disk.Path("Data/Old"));
    EXPECT_EQ(Shown(*frame), "Папка=" + disk.Path("Data/Sub") + " | Пароль=");
    EXPECT_EQ(frame->ParamsGrid->InplaceBox()->text(), QString::fromStdString(disk.Path("Data/Sub")));

    // Ctrl+Enter opens the dialog too; Cancel keeps the value.
    dialogtest::FormDriver cancel;
    cancel.On<TSelectRemoteFolderForm>([](TSelectRemoteFolderForm& form) {
        form.Cancel->click();
        return form.result();
    });
    {
        const auto runner = cancel.Install();
        Key(*frame, Qt::Key_Return, Qt::ControlModifier);
    }
    EXPECT_EQ(cancel.shown, 1);
    EXPECT_EQ(Shown(*frame), "Папка=" + disk.Path("Data/Sub") + " | Пароль=");
}

// A folder typed into the box and not yet taken by leaving the row is where the dialog starts.
TEST_F(ParamsFrame, BrowsingStartsAtTheFolderTypedIntoTheBox)
{
    dialogtest::DiskTree disk;
    for (const bool enter : {true, false}) {
        SCOPED_TRACE(enter ? "Enter" : "the button");
        const auto frame = Make(BuiltIns());
        frame->SetParams(velmotest::PdoxParamsXml(disk.Path("Data/Old")));
        ClickRow(*frame, 1);
        TypeText(*frame, QString::fromStdString(disk.Path("Data/Sub")));

        dialogtest::FormDriver driver;
        std::string startedAt;
        driver.On<TSelectRemoteFolderForm>([&](TSelectRemoteFolderForm& form) {
            startedAt = GetSelectedFolder(*form.Folders);
            if (enter) framestest::SaveShot(form, "UdbParamsFrame-folder-typed.png");
            form.Cancel->click();
            return form.result();
        });
        {
            const auto runner = driver.Install();
            if (enter)
                Key(*frame, Qt::Key_Return);
            else
                PressButton(*frame);
        }
        EXPECT_EQ(driver.shown, 1);
        EXPECT_EQ(startedAt, disk.Path("Data/Sub"));
        EXPECT_EQ(Shown(*frame), "Папка=" + disk.Path("Data/Sub") + " | Пароль=") << "the typed text was taken";
    }
}

TEST_F(ParamsFrame, AFileIsChosenInItsFolderOrAnywhereWhenTheFolderIsGone)
{
    dialogtest::DiskTree disk;
    TOwnDrivers drivers;
    drivers.Add("<driver name=\"Files\"><param name=\"file\" caption=\"Файл\" editor=\"file\" "
                "file-filters=\"Paradox (*.db)|*.db\"/><param name=\"log\" caption=\"Лог\" editor=\"file\" "
                "title=\"Журнал\"/></driver>");
    struct Case {
        const char* what;
        std::string start;
        std::string root; // the folder the dialog is confined to
        std::string chosen;
    };
    const Case cases[] = {
        {"a file in an existing folder", disk.Path("Data/c.db"), disk.Path("Data/"), disk.Path("Data/b.DB")},
        {"a folder that is gone", disk.Path("Gone/x.db"), "", disk.Path("Data/b.DB")},
        {"no value", "", "", disk.Path("Data/b.DB")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto frame = Make(drivers.Manager());
        frame->SetParams("<driver name=\"Files\"><param name=\"file\">" + c.start + "</param></driver>");
        ClickRow(*frame, 1);
        dialogtest::FormDriver driver;
        std::string root, title, filter;
        driver.On<TRemoteOpenDialogsForm>([&](TRemoteOpenDialogsForm& form) {
            root = form.Dialog().RootFolder();
            title = S(form.windowTitle());
            filter = S(form.FileTypes->currentText());
            // The user goes to Data when the dialog is elsewhere and picks b.DB.
            if (rtl::ExcludeTrailingPathDelimiter(form.Dialog().ListedFolder()) != disk.Path("Data"))
                form.Init(disk.Path("Data") + "/");
            for (int i = 0; i < form.Files->count(); ++i)
                if (form.Files->item(i)->text() == "b.DB") form.Files->setCurrentRow(i);
            form.OpenBtn->click();
            return form.result();
        });
        {
            const auto runner = driver.Install();
            PressButton(*frame);
        }
        EXPECT_EQ(driver.shown, 1);
        EXPECT_EQ(root, c.root);
        EXPECT_EQ(title, "Выберите файл:");
        EXPECT_EQ(filter, "Paradox (*.db)");
        EXPECT_EQ(EditorNamed(*frame, "Файл")->Value(), c.chosen);
    }

    // The other parameter: its own title, the default filter.
    const auto frame = Make(drivers.Manager());
    ClickRow(*frame, 2);
    dialogtest::FormDriver driver;
    driver.On<TRemoteOpenDialogsForm>([&](TRemoteOpenDialogsForm& form) {
        EXPECT_EQ(S(form.windowTitle()), "Журнал");
        EXPECT_EQ(S(form.FileTypes->currentText()), "All files (*.*)");
        return static_cast<int>(QDialog::Rejected);
    });
    const auto runner = driver.Install();
    PressButton(*frame);
    EXPECT_EQ(EditorNamed(*frame, "Лог")->Value(), "");
}

// ---- modes ----------------------------------------------------------------------------------

TEST_F(ParamsFrame, TheModeDecidesWhatCanBeChanged)
{
    struct Case {
        TDBParamsMode mode;
        bool driverList;
        // Options of Сервер, Способ идентификации, connection-timeout.
        std::vector<int> options;
    };
    const Case cases[] = {
        {dpmEditAll, true, {poEditText, poValueList, poEditText}},
        {dpmDriverFixed, false, {poEditText, poValueList, poEditText}},
        {dpmBasicReadOnly, false, {0, 0, poEditText}},
        {dpmReadOnly, false, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        const auto frame = Make(BuiltIns(), c.mode);
        EXPECT_EQ(frame->Mode(), c.mode);
        EXPECT_EQ(frame->DriversLookup->isEnabled(), c.driverList);
        Choose(*frame, 1);
        const std::vector<int> options = {EditorNamed(*frame, "Сервер")->Options(),
                                          EditorNamed(*frame, "Способ идентификации")->Options(),
                                          EditorNamed(*frame, "connection-timeout (в сек)")->Options()};
        EXPECT_EQ(options, c.options);
    }
}

// ---- loading the drivers again ------------------------------------------------------------

TEST_F(ParamsFrame, LoadingTheDriversAgainTakesTheEditorsOutOfTheGridFirst)
{
    std::string answer;
    const auto builtIns = BuiltIns();
    const auto manager = rtl::MakeRef<TScriptedManager>([&](const std::string& request) {
        if (answer == "fail") throw rtl::Exception("менеджер недоступен");
        return answer.empty() ? builtIns->XMLRequest(request) : answer;
    });
    const auto frame = Make(manager);
    // A row being edited, with its box and button shown.
    ClickRow(*frame, 1);
    TypeText(*frame, "/typed");

    // A second Init: new editors, the first driver selected again.
    frame->Init(manager, nullptr, dpmEditAll);
    EXPECT_NE(frame->RemoteComputer(), nullptr) << "this computer when none is given";
    EXPECT_EQ(frame->SelectedIndex(), 0);
    EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), kParadoxRows);
    EXPECT_EQ(Shown(*frame), "Папка= | Пароль=");
    ClickRow(*frame, 2);

    // Reloading alone selects the first driver anew as well.
    Choose(*frame, 1);
    ClickRow(*frame, 7);
    frame->LoadDrivers();
    EXPECT_EQ(frame->SelectedIndex(), 0);
    EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), kParadoxRows);

    // An answer without drivers: an empty list and an empty grid.
    Choose(*frame, 2);
    ClickRow(*frame, 5);
    answer = "<response/>";
    frame->LoadDrivers();
    EXPECT_EQ(frame->DriverCount(), 0);
    EXPECT_EQ(frame->DriversLookup->count(), 0);
    EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), "#Параметры");

    // A failing manager: the error passes on, nothing of the old drivers stays.
    answer.clear();
    frame->LoadDrivers();
    Choose(*frame, 1);
    ClickRow(*frame, 1);
    answer = "fail";
    EXPECT_THROW(frame->LoadDrivers(), rtl::Exception);
    EXPECT_EQ(frame->DriverCount(), 0);
    EXPECT_EQ(frame->SelectedIndex(), -1);
    EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), "#Параметры");
    QCoreApplication::processEvents();

    // Loaded once more, then freed while a row is being edited.
    answer.clear();
    frame->LoadDrivers();
    Choose(*frame, 1);
    ClickRow(*frame, 8);
    TypeText(*frame, "45");
}

TEST_F(ParamsFrame, RefusedAnswersAndDefinitions)
{
    struct Case {
        const char* what;
        std::string answer;
        std::string message;
    };
    const Case cases[] = {
        {"an answer without a root", "<!-- none -->", "Invalid Xml document"},
        {"a parameter without name", "<response><driver name=\"A\"><param caption=\"x\"/></driver></response>",
         "name"},
        {"an editor outside the seven words",
         "<response><driver name=\"A\"><param name=\"x\" editor=\"combo\"/></driver></response>", "folder"},
        {"a driver without name", "<response><driver caption=\"A\"/></response>", "name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto manager = rtl::MakeRef<TScriptedManager>([&](const std::string&) { return c.answer; });
        auto frame = std::make_unique<TDBParamsFrame>();
        try {
            frame->Init(manager, computer, dpmEditAll);
            ADD_FAILURE() << "no error";
        } catch (const rtl::Exception& e) {
            EXPECT_THAT(e.Message(), HasSubstr(c.message));
        }
        EXPECT_EQ(frame->DriverCount(), 0);
        EXPECT_EQ(frame->DriversLookup->count(), 0);
        EXPECT_EQ(propgridtest::Describe(*frame->ParamsGrid), "#Параметры");
    }
}

// ---- screenshots -----------------------------------------------------------------------------

TEST_F(ParamsFrame, Screenshots)
{
    const auto frame = Make(BuiltIns());
    frame->SetParams(velmotest::PdoxParamsXml("/srv/velmo/demo"));
    ClickRow(*frame, 1);
    EXPECT_GT(framestest::SaveShot(*frame, "UdbParamsFrame-Paradox.png"), 4u);
    Choose(*frame, 1);
    ClickRow(*frame, 2);
    EXPECT_GT(framestest::SaveShot(*frame, "UdbParamsFrame-MSSQL.png"), 4u);
}

} // namespace
