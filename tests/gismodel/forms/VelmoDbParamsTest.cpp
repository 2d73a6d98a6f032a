// The open-database dialog as a real dialog on the offscreen platform, over
// real driver managers and Velmo fixture pairs: its captions, opening a pair
// of Paradox tables typed in by hand, the version rule and its messages, a
// failed OK that keeps the dialog and releases what it opened, Cancel,
// reopening from the open pair, "<" and ">", and a pair made by a driver
// library that outlives the manager's Refresh.
#include "gismodel/forms/VelmoDbParams.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QPushButton>

#include "platform/gui/Dialogs.h"
#include "platform/rtl/Format.h"
#include "tests/CoreLib/controls/PropGridTestSupport.h"
#include "tests/CoreLib/controls/WidgetTestSupport.h"
#include "tests/UdbProject/frames/ParamsFrameTestSupport.h"
#include "tests/platform/gui/GuiTestSupport.h"
#include "tests/support/PdoxOpener.h"
#include "tests/support/SqliteUdb.h"
#include "tests/support/VelmoFixture.h"

#ifndef PARVANE_TEST_DRIVER_DIR
#define PARVANE_TEST_DRIVER_DIR ""
#endif

namespace {

using framestest::ReadParams;
using framestest::TOwnDrivers;
using framestest::TParamsDoc;
using framestest::TScriptedManager;
using velmotest::TVelmoDbPair;
using velmotest::TVelmoDesc;
using ::testing::HasSubstr;

std::string S(const QString& text) { return text.toStdString(); }

// A SQLite test database that counts the live objects of its class.
class TCountedSqliteUdb : public TSqliteUdb {
public:
    TCountedSqliteUdb() { ++Live; }
    static inline int Live = 0;

protected:
    ~TCountedSqliteUdb() override { --Live; }
};

constexpr const char* kSqliteDefinition =
    "<driver name=\"Test.SQLite\" caption=\"SQLite\"><param name=\"file\" caption=\"Файл\" editor=\"file\"/></driver>";

std::string SpatialFile(const TVelmoDbPair& pair) { return pair.Folder() + "/spatial.sqlite"; }
std::string SemanticFile(const TVelmoDbPair& pair) { return pair.Folder() + "/semantic.sqlite"; }

// A click on the value cell of row, the text typed over the value, and a
// click on another row, as a user enters a value.
void EnterValue(TDBParamsFrame& frame, int row, const std::string& text, int nextRow)
{
    TPropGrid& grid = *frame.ParamsGrid;
    widgettest::Click(grid.viewport(), grid.CellRect(1, row).center());
    ASSERT_EQ(grid.Row(), row);
    TPropInplaceEdit* box = grid.InplaceBox();
    ASSERT_TRUE(box && box->isVisible());
    box->selectAll();
    for (const QChar ch : QString::fromStdString(text)) widgettest::Key(box, QEvent::KeyPress, 0, QString(ch));
    widgettest::Click(grid.viewport(), grid.CellRect(1, nextRow).center());
}

// Runs each open-database dialog with drive; counts the dialogs.
struct DialogDriver {
    explicit DialogDriver(std::function<int(TOpenVelmoDbForm&)> drive)
        : runner([this, drive](QDialog& dialog) {
              ++shown;
              auto* form = dynamic_cast<TOpenVelmoDbForm*>(&dialog);
              if (!form) {
                  ADD_FAILURE() << "unexpected form " << S(dialog.windowTitle());
                  return static_cast<int>(QDialog::Rejected);
              }
              form->show();
              return drive(*form);
          })
    {
    }
    int shown = 0;
    gui::ScopedModalRunner runner;
};

class OpenDbDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterBuiltInDrivers(); }
    void SetUp() override
    {
        drivers.Add(kSqliteDefinition, nullptr, UdbClassOf<TCountedSqliteUdb>());
        TCountedSqliteUdb::Live = 0;
    }

    // The program's built-in drivers through a real manager that finds no library.
    rtl::RefPtr<IUdbManager> BuiltIns() { return rtl::MakeRef<TUdbManager>(noLibraries.Path() + "/"); }

    // A form over the SQLite drivers showing the files of a pair.
    std::unique_ptr<TOpenVelmoDbForm> FormOn(const std::string& spatial, const std::string& semantic)
    {
        auto form = std::make_unique<TOpenVelmoDbForm>(drivers.Manager());
        form->SpacialParams->SetParams(SqliteParamsXml(spatial));
        form->SemParams->SetParams(SqliteParamsXml(semantic));
        form->show();
        return form;
    }

    testing_support::TempFolder noLibraries;
    TOwnDrivers drivers;
};

// ---- the dialog -------------------------------------------------------------------------------

TEST_F(OpenDbDialog, CaptionsControlsAndTheFramesOfANewDialog)
{
    TOpenVelmoDbForm form(BuiltIns());
    form.show();
    EXPECT_EQ(S(form.windowTitle()), "Открыть базу данных");
    EXPECT_EQ(S(form.GroupBox1->title()), "Поространственный данные");
    EXPECT_EQ(S(form.GroupBox2->title()), "Семантика");
    EXPECT_EQ(S(form.AssignSpatialDriver->text()), "<");
    EXPECT_EQ(S(form.AssignSemDriver->text()), ">");
    EXPECT_EQ(S(form.btnOk->text()), "Открыть");
    EXPECT_EQ(S(form.btnCancel->text()), "Отмена");
    EXPECT_TRUE(form.btnOk->isDefault());
    EXPECT_EQ(form.SpacialParams->parentWidget(), form.GroupBox1);
    EXPECT_EQ(form.SemParams->parentWidget(), form.GroupBox2);
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "a fixed border";
    EXPECT_EQ(form.RequiredVersion(), 265);
    for (TDBParamsFrame* frame : {form.SpacialParams, form.SemParams}) {
        EXPECT_EQ(frame->Mode(), dpmEditAll);
        EXPECT_TRUE(frame->DriversLookup->isEnabled());
        EXPECT_EQ(frame->DriverCount(), 3);
        EXPECT_EQ(frame->SelectedIndex(), 0) << "the manager's first driver";
        EXPECT_NE(frame->RemoteComputer(), nullptr);
    }
    // "<" sits between the boxes, ">" below it.
    EXPECT_GT(form.AssignSpatialDriver->x(), form.GroupBox1->geometry().right());
    EXPECT_LT(form.AssignSpatialDriver->geometry().right(), form.GroupBox2->x());
    EXPECT_GT(form.AssignSemDriver->y(), form.AssignSpatialDriver->y());
    EXPECT_GT(framestest::SaveShot(form, "OpenVelmoDbForm-new.png"), 4u);
}

TEST_F(OpenDbDialog, OpensAFixturePairOfParadoxTablesTypedInByHand)
{
    const TVelmoDbPair pair(TVelmoDesc().Database("{6B1E33C0-5A3F-4C1D-9E0B-0000000000AA}", "Город"),
                            velmotest::PdoxOpener());
    rtl::RefPtr<IUdb> spatial;
    rtl::RefPtr<IUdb> semantic;
    const DialogDriver driver([&](TOpenVelmoDbForm& form) {
        EnterValue(*form.SpacialParams, 1, pair.Folder() + "/spatial", 2);
        EnterValue(*form.SemParams, 1, pair.Folder() + "/semantic", 2);
        EXPECT_GT(framestest::SaveShot(form, "OpenVelmoDbForm.png"), 4u);
        widgettest::Click(form.btnOk, form.btnOk->rect().center());
        return form.result();
    });
    ASSERT_TRUE(ShowOpenDbDialog(spatial, semantic, 265, BuiltIns()));
    EXPECT_EQ(driver.shown, 1);
    ASSERT_NE(spatial, nullptr);
    ASSERT_NE(semantic, nullptr);
    EXPECT_TRUE(spatial->IsOpen());
    EXPECT_TRUE(semantic->IsOpen());
    EXPECT_NE(spatial.get(), &pair.Spatial()) << "databases of its own";
    EXPECT_EQ(GetDbVersion(*spatial), 265);
    EXPECT_EQ(velmotest::ReadRows(*spatial, "VELMO_DBINFO", {"DBCAPTION"}), (velmotest::TRows{{"Город"}}));
    EXPECT_EQ(ReadParams(spatial->GetParams()->GetXml()),
              (TParamsDoc{"BDE.Paradox", "Paradox", {{"folder", pair.Folder() + "/spatial"}, {"password", ""}}}));
    EXPECT_EQ(ReadParams(semantic->GetParams()->GetXml()).Params[0].second, pair.Folder() + "/semantic");
}

// ---- the version rule -------------------------------------------------------------------------

TEST_F(OpenDbDialog, GetDbVersionReadsTheFirstRowWithTheFlagCleared)
{
    struct Case {
        const char* what;
        std::function<void(TVelmoDesc&)> describe;
        std::function<void(IUdb&)> alter;
        std::int32_t version;
    };
    const Case cases[] = {
        {"265", [](TVelmoDesc& d) { d.Database("{0}", "a", 265); }, nullptr, 265},
        {"265 with the flag", [](TVelmoDesc& d) { d.Database("{0}", "a", 4361); }, nullptr, 265},
        {"264", [](TVelmoDesc& d) { d.Database("{0}", "a", 264); }, nullptr, 264},
        {"only the flag", [](TVelmoDesc& d) { d.Database("{0}", "a", 4096); }, nullptr, 0},
        {"Null", [](TVelmoDesc&) {},
         [](IUdb& db) { PrepareSQL(db, "UPDATE VELMO_DBINFO SET VERSION = NULL", {}, false)->Execute(nullptr, 0); },
         0},
        {"no row", [](TVelmoDesc& d) { d.NoDbInfo(); }, nullptr, 0},
        {"no table", [](TVelmoDesc&) {}, [](IUdb& db) { db.DropTable("VELMO_DBINFO"); }, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TVelmoDesc desc;
        c.describe(desc);
        const TVelmoDbPair pair(desc);
        if (c.alter) c.alter(pair.Spatial());
        EXPECT_EQ(GetDbVersion(pair.Spatial()), c.version);
    }
    // A closed database cannot be read either.
    const TVelmoDbPair pair((TVelmoDesc()));
    const rtl::RefPtr<IUdb> closed = pair.OpenSpatial();
    closed->Close();
    EXPECT_EQ(GetDbVersion(*closed), -1);
}

TEST_F(OpenDbDialog, OkAcceptsOnlyTheRequiredVersion)
{
    const std::string older = "Найдена база данных более ранней версии. Требуется обновление базы данных.";
    const std::string newer = "Найдена база данных более новой версии.";
    struct Case {
        const char* what;
        std::function<void(TVelmoDesc&)> describe;
        bool dropTable;
        std::string message; // empty: accepted
    };
    const Case cases[] = {
        {"265", [](TVelmoDesc& d) { d.Database("{0}", "a", 265); }, false, ""},
        {"4361: 265 with the flag", [](TVelmoDesc& d) { d.Database("{0}", "a", 4361); }, false, ""},
        {"264", [](TVelmoDesc& d) { d.Database("{0}", "a", 264); }, false, older},
        {"4360", [](TVelmoDesc& d) { d.Database("{0}", "a", 4360); }, false, older},
        {"an empty VELMO_DBINFO", [](TVelmoDesc& d) { d.NoDbInfo(); }, false, older},
        {"266", [](TVelmoDesc& d) { d.Database("{0}", "a", 266); }, false, newer},
        {"no VELMO_DBINFO", [](TVelmoDesc&) {}, true, "Не найдена таблица <VELMO_DBINFO>."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TVelmoDesc desc;
        c.describe(desc);
        const TVelmoDbPair pair(desc);
        if (c.dropTable) pair.Spatial().DropTable("VELMO_DBINFO");
        const auto form = FormOn(SpatialFile(pair), SemanticFile(pair));
        guitest::BoxRecorder boxes;
        form->btnOk->click();
        if (c.message.empty()) {
            EXPECT_TRUE(boxes.boxes.empty());
            EXPECT_EQ(form->result(), QDialog::Accepted);
            EXPECT_NE(form->SpatialDb(), nullptr);
            EXPECT_NE(form->SemDb(), nullptr);
            EXPECT_EQ(TCountedSqliteUdb::Live, 2);
        } else {
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Error);
            EXPECT_EQ(boxes.boxes[0].text, c.message);
            EXPECT_TRUE(form->isVisible()) << "the dialog stays for another try";
            EXPECT_NE(form->result(), QDialog::Accepted);
            EXPECT_EQ(form->SpatialDb(), nullptr);
            EXPECT_EQ(form->SemDb(), nullptr);
            EXPECT_EQ(TCountedSqliteUdb::Live, 0) << "both databases released";
        }
    }
    // The required version is the caller's.
    const TVelmoDbPair pair(TVelmoDesc().Database("{0}", "a", 300));
    const auto form = FormOn(SpatialFile(pair), SemanticFile(pair));
    form->SetRequiredVersion(300);
    form->btnOk->click();
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(OpenDbDialog, AFailedOkKeepsTheDialogAndReleasesWhatItOpened)
{
    const TVelmoDbPair pair((TVelmoDesc()));
    const std::string missing = pair.Folder() + "/no/such/folder/x.sqlite";
    struct Case {
        const char* what;
        std::string spatial;
        std::string semantic;
    };
    const Case cases[] = {
        {"the spatial database does not open", missing, SemanticFile(pair)},
        {"the semantic half fails after the spatial one opened", SpatialFile(pair), missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto form = FormOn(c.spatial, c.semantic);
        {
            guitest::BoxRecorder boxes;
            form->btnOk->click();
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Error);
        }
        EXPECT_TRUE(form->isVisible());
        EXPECT_NE(form->result(), QDialog::Accepted);
        EXPECT_EQ(form->SpatialDb(), nullptr);
        EXPECT_EQ(form->SemDb(), nullptr);
        EXPECT_EQ(TCountedSqliteUdb::Live, 0);

        // Mended, the next OK succeeds.
        form->SpacialParams->SetParams(SqliteParamsXml(SpatialFile(pair)));
        form->SemParams->SetParams(SqliteParamsXml(SemanticFile(pair)));
        form->btnOk->click();
        EXPECT_EQ(form->result(), QDialog::Accepted);
        EXPECT_EQ(TCountedSqliteUdb::Live, 2);
    }
    EXPECT_EQ(TCountedSqliteUdb::Live, 0);

    // Through ShowOpenDbDialog: a failed OK hands nothing back, whatever
    // closes the dialog afterwards.
    const TVelmoDbPair other(TVelmoDesc().Database("{0}", "a", 266));
    rtl::RefPtr<IUdb> spatial = pair.SpatialDb();
    rtl::RefPtr<IUdb> semantic = pair.SemanticDb();
    int boxes = 0;
    const gui::ScopedBoxAnswerer answerer([&](const gui::BoxRequest&) {
        ++boxes;
        return gui::BoxButton::Ok;
    });
    const DialogDriver driver([&](TOpenVelmoDbForm& form) {
        form.SpacialParams->SetParams(SqliteParamsXml(SpatialFile(other)));
        form.SemParams->SetParams(SqliteParamsXml(SemanticFile(other)));
        form.btnOk->click();
        widgettest::Type(&form, Qt::Key_Escape);
        return form.result();
    });
    EXPECT_FALSE(ShowOpenDbDialog(spatial, semantic, 265, drivers.Manager()));
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(spatial, pair.SpatialDb());
    EXPECT_EQ(semantic, pair.SemanticDb());
    EXPECT_EQ(TCountedSqliteUdb::Live, 0);
}

// ---- the pair that is open ----------------------------------------------------------------------

TEST_F(OpenDbDialog, CancelKeepsTheOpenPairAndCreatesNothing)
{
    const TVelmoDbPair pair((TVelmoDesc()));
    rtl::RefPtr<IUdb> spatial = pair.SpatialDb();
    rtl::RefPtr<IUdb> semantic = pair.SemanticDb();
    const auto manager = rtl::MakeRef<TScriptedManager>([&](const std::string& request) {
        return drivers.Manager()->XMLRequest(request);
    });
    for (const bool byKey : {false, true}) {
        const DialogDriver driver([&](TOpenVelmoDbForm& form) {
            if (byKey)
                widgettest::Type(&form, Qt::Key_Escape);
            else
                widgettest::Click(form.btnCancel, form.btnCancel->rect().center());
            return form.result();
        });
        EXPECT_FALSE(ShowOpenDbDialog(spatial, semantic, 265, manager));
        EXPECT_EQ(driver.shown, 1);
        EXPECT_EQ(spatial, pair.SpatialDb());
        EXPECT_EQ(semantic, pair.SemanticDb());
        EXPECT_TRUE(spatial->IsOpen());
        EXPECT_EQ(TCountedSqliteUdb::Live, 0);
    }
    EXPECT_EQ(manager->refreshes, 2) << "the manager is refreshed each time the dialog is shown";
}

TEST_F(OpenDbDialog, ReopeningStartsFromTheOpenPair)
{
    const TVelmoDbPair first((TVelmoDesc()));
    const TVelmoDbPair second((TVelmoDesc()));
    rtl::RefPtr<IUdb> spatial;
    rtl::RefPtr<IUdb> semantic;
    // The first time: nothing open, the first driver; the pair is typed in.
    {
        const DialogDriver driver([&](TOpenVelmoDbForm& form) {
            EXPECT_EQ(form.SpacialParams->SelectedIndex(), 0);
            EXPECT_EQ(ReadParams(form.SemParams->GetParams()), (TParamsDoc{"Test.SQLite", "SQLite", {{"file", ""}}}));
            EnterValue(*form.SpacialParams, 1, SpatialFile(first), 1);
            EnterValue(*form.SemParams, 1, SemanticFile(first), 1);
            widgettest::Type(form.btnOk, Qt::Key_Space);
            return form.result();
        });
        ASSERT_TRUE(ShowOpenDbDialog(spatial, semantic, 265, drivers.Manager()));
    }
    const rtl::RefPtr<IUdb> opened = spatial;
    // Again: both frames show the open pair; OK opens a new pair.
    {
        const DialogDriver driver([&](TOpenVelmoDbForm& form) {
            EXPECT_EQ(ReadParams(form.SpacialParams->GetParams()),
                      (TParamsDoc{"Test.SQLite", "SQLite", {{"file", SpatialFile(first)}}}));
            EXPECT_EQ(ReadParams(form.SemParams->GetParams()),
                      (TParamsDoc{"Test.SQLite", "SQLite", {{"file", SemanticFile(first)}}}));
            EnterValue(*form.SpacialParams, 1, SpatialFile(second), 1);
            EnterValue(*form.SemParams, 1, SemanticFile(second), 1);
            form.btnOk->click();
            return form.result();
        });
        ASSERT_TRUE(ShowOpenDbDialog(spatial, semantic, 265, drivers.Manager()));
    }
    EXPECT_NE(spatial, opened);
    EXPECT_EQ(ReadParams(spatial->GetParams()->GetXml()).Params[0].second, SpatialFile(second));
    EXPECT_TRUE(opened->IsOpen()) << "the caller closes the previous pair";
}

TEST_F(OpenDbDialog, TheArrowsCopyTheSettingsBetweenTheHalves)
{
    TOpenVelmoDbForm form(BuiltIns());
    form.show();
    form.SemParams->DriversLookup->setCurrentIndex(1);
    emit form.SemParams->DriversLookup->activated(1);
    EnterValue(*form.SemParams, 1, "server1", 3);
    widgettest::Click(form.AssignSpatialDriver, form.AssignSpatialDriver->rect().center());
    EXPECT_EQ(form.SpacialParams->SelectedIndex(), 1);
    EXPECT_EQ(form.SpacialParams->GetParams(), form.SemParams->GetParams());
    EXPECT_EQ(ReadParams(form.SpacialParams->GetParams()).Params[0].second, "server1");

    form.SpacialParams->DriversLookup->setCurrentIndex(0);
    emit form.SpacialParams->DriversLookup->activated(0);
    EnterValue(*form.SpacialParams, 1, "/data/pair", 2);
    widgettest::Click(form.AssignSemDriver, form.AssignSemDriver->rect().center());
    EXPECT_EQ(form.SemParams->SelectedIndex(), 0);
    EXPECT_EQ(ReadParams(form.SemParams->GetParams()),
              (TParamsDoc{"BDE.Paradox", "Paradox", {{"folder", "/data/pair"}, {"password", ""}}}));

    // A setting of a driver the manager does not list arrives read-only.
    form.SemParams->SetParams("<driver name=\"Other.Driver\"><param name=\"x\">1</param></driver>");
    widgettest::Click(form.AssignSpatialDriver, form.AssignSpatialDriver->rect().center());
    EXPECT_EQ(form.SpacialParams->DriverCount(), 4);
    EXPECT_EQ(form.SpacialParams->SelectedDriver()->Mode, dpmReadOnly);
}

TEST_F(OpenDbDialog, APairFromADriverLibraryStaysUsableAcrossRefresh)
{
    std::string built = PARVANE_TEST_DRIVER_DIR;
    if (built.empty()) built = QCoreApplication::applicationDirPath().toStdString() + "/testdrivers";
    built += "/libUdbTestSqlite.so";
    ASSERT_TRUE(std::filesystem::exists(built)) << built << " is built by the target UdbTestSqlite";
    testing_support::TempFolder programFolder;
    const std::string library = programFolder.File("libUdbTestSqlite.so");
    std::filesystem::copy_file(built, library);
    const auto manager = rtl::MakeRef<TUdbManager>(programFolder.Path() + "/");

    const TVelmoDbPair pair(TVelmoDesc().Database("{0}", "Из библиотеки", 265));
    rtl::RefPtr<IUdb> spatial;
    rtl::RefPtr<IUdb> semantic;
    {
        const DialogDriver driver([&](TOpenVelmoDbForm& form) {
            EXPECT_EQ(S(form.SpacialParams->DriversLookup->itemText(3)), "SQLite (test)") << "after the built-ins";
            form.SpacialParams->SetParams(SqliteParamsXml(SpatialFile(pair)));
            form.SemParams->SetParams(SqliteParamsXml(SemanticFile(pair)));
            form.btnOk->click();
            return form.result();
        });
        ASSERT_TRUE(ShowOpenDbDialog(spatial, semantic, 265, manager));
    }
    // The library is gone and the manager refreshed by the next dialog: the
    // pair keeps working, and the frames still show its document.
    std::filesystem::remove(library);
    {
        const DialogDriver driver([&](TOpenVelmoDbForm& form) {
            // The library is no longer listed: the pair's document is shown
            // as a driver of its own, after the built-ins.
            EXPECT_EQ(form.SpacialParams->DriverCount(), 4);
            EXPECT_EQ(form.SpacialParams->SelectedIndex(), 3);
            EXPECT_EQ(ReadParams(form.SpacialParams->GetParams()).Params[0].second, SpatialFile(pair));
            return static_cast<int>(QDialog::Rejected);
        });
        EXPECT_FALSE(ShowOpenDbDialog(spatial, semantic, 265, manager));
    }
    EXPECT_EQ(GetDbVersion(*spatial), 265);
    EXPECT_EQ(velmotest::ReadRows(*spatial, "VELMO_DBINFO", {"DBCAPTION"}), (velmotest::TRows{{"Из библиотеки"}}));
    EXPECT_TRUE(semantic->IsOpen());
    EXPECT_FALSE(semantic->TableExists("VELMO_DBINFO"));
}

} // namespace
