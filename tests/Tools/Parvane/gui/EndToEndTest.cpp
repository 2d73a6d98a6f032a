// The program as a user meets it: the real main window over the demo pair of
// Paradox tables, driven with mouse and key events on its real widgets. The
// dialogs and message boxes run their own modal loops, as in the program;
// each is answered from inside its loop through its own widgets by a timer
// that waits for it to appear. Open, the open-database dialog with the folder
// chooser and ">", then a mode, Change, the questions and the layers, and the
// database changed as the mode says.
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "Tools/Parvane/gui/MainForms.h"
#include "Tools/Parvane/gui/SelectLayersForms.h"
#include "UdbProject/PdoxUdbs.h"
#include "UdbProject/UdbDrivers.h"
#include "gismodel/forms/VelmoDbParams.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/MessageBoxes.h"
#include "platform/gui/Popups.h"
#include "remote/dialogs/RemoteComputerComps.h"
#include "remote/dialogs/SelectRemoteFolderForms.h"
#include "tests/CoreLib/controls/WidgetTestSupport.h"
#include "tests/UdbProject/frames/ParamsFrameTestSupport.h"
#include "tests/platform/gui/GuiTestSupport.h"
#include "tests/support/DemoPair.h"
#include "tests/support/PdoxOpener.h"
#include "tests/support/TempFolder.h"

namespace {

using namespace velmotest;
using ::testing::HasSubstr;

std::string S(const QString& text) { return text.toStdString(); }

void ClickWidget(QWidget* widget) { widgettest::Click(widget, widget->rect().center()); }

// Closes every modal window still shown, so a test that went wrong ends
// instead of waiting for an answer that never comes.
void CloseModals()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) dialog->reject();
}

// The texts of the message boxes shown now.
std::string ShownBoxes()
{
    std::string text;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            text += " [" + S(box->text()) + "]";
    return text;
}

// Runs action on the first shown top-level window of class T once it is up,
// from inside the modal loop that shows it; fails the test when none comes
// within ten seconds.
template <class T>
void WhenShown(std::function<void(T&)> action)
{
    auto* timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = dynamic_cast<T*>(widget);
            if (!window || !window->isVisible()) continue;
            timer->stop();
            timer->deleteLater();
            action(*window);
            return;
        }
        if (clock->elapsed() > 10000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no " << typeid(T).name() << " was shown; boxes:" << ShownBoxes();
            CloseModals();
        }
    });
    timer->start(10);
}

// Answers the next message box with one of its buttons, recording its text.
void AnswerBox(QMessageBox::StandardButton button, std::vector<std::string>& seen,
               std::function<void()> before = nullptr)
{
    WhenShown<QMessageBox>([button, &seen, before](QMessageBox& box) {
        seen.push_back(S(box.text()));
        if (before) before();
        QAbstractButton* pressed = box.button(button);
        if (!pressed) {
            ADD_FAILURE() << "no such button on \"" << S(box.text()) << "\"";
            box.reject();
            return;
        }
        ClickWidget(pressed);
    });
}

// The folder chooser, driven as a user does: each folder on the way expanded,
// the last one clicked, then OK.
void ChooseFolder(TSelectRemoteFolderForm& chooser, const std::string& path)
{
    TXTreeNode* node = chooser.Folders->Items().GetFirstNode(); // the drive "/"
    std::string reached = "/";
    std::size_t from = 1;
    while (node && reached != path) {
        chooser.Folders->expand(chooser.Folders->IndexOf(node));
        const std::size_t slash = path.find('/', from);
        reached = path.substr(0, slash);
        from = slash == std::string::npos ? path.size() : slash + 1;
        TXTreeNode* next = nullptr;
        for (TXTreeNode* child = node->GetFirstChild(); child; child = child->GetNextSibling())
            if (!IsPlaceholder(child) && NodePath(child) == reached) next = child;
        node = next;
    }
    if (!node) {
        ADD_FAILURE() << "no folder node for " << path;
        chooser.reject();
        return;
    }
    const QModelIndex index = chooser.Folders->IndexOf(node);
    chooser.Folders->scrollTo(index);
    widgettest::Click(chooser.Folders->viewport(), chooser.Folders->visualRect(index).center());
    EXPECT_EQ(GetSelectedFolder(*chooser.Folders), path);
    ClickWidget(chooser.Ok);
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterBuiltInDrivers(); }
    void SetUp() override
    {
        demo = temp.File("demo");
        WriteDemoPair(demo);
        form = std::make_unique<TMainForm>(temp.File("parvane.log"));
        gui::SetMainForm(form.get());
        form->show();
    }
    void TearDown() override { form.reset(); }

    // Open, the demo folder chosen for the spatial half in the folder
    // chooser and copied to the semantic half with ">", OK.
    void OpenDemoPair(const char* screenshot = nullptr)
    {
        WhenShown<TOpenVelmoDbForm>([this, screenshot](TOpenVelmoDbForm& dialog) {
            TPropGrid& grid = *dialog.SpacialParams->ParamsGrid;
            widgettest::Click(grid.viewport(), grid.CellRect(1, 1).center());
            WhenShown<TSelectRemoteFolderForm>([this](TSelectRemoteFolderForm& chooser) { ChooseFolder(chooser, demo); });
            ClickWidget(grid.Button);
            ClickWidget(dialog.AssignSemDriver);
            if (screenshot) {
                EXPECT_GT(framestest::SaveShot(dialog, screenshot), 4u);
            }
            ClickWidget(dialog.btnOk);
        });
        ClickWidget(form->btnOpen);
    }

    void ChooseMode(int mode)
    {
        form->ChangeType->setFocus();
        while (form->ChangeType->currentIndex() < mode) widgettest::Type(form->ChangeType, Qt::Key_Down);
        while (form->ChangeType->currentIndex() > mode) widgettest::Type(form->ChangeType, Qt::Key_Up);
    }

    // A connection of the test's own to the demo pair.
    rtl::RefPtr<IUdb> OpenDemo() const
    {
        const rtl::RefPtr<IUdb> db = rtl::MakeRef<TPdoxUdb>();
        db->Open(PdoxParamsXml(demo));
        return db;
    }

    // The real modal loops, boxes and pop-ups, not the test main's seams.
    const gui::ScopedModalRunner realDialogs{nullptr};
    const gui::ScopedBoxAnswerer realBoxes{nullptr};
    const gui::ScopedPopupRunner realPopups{nullptr};
    const guitest::TitleScope title{MainFormText::Title};
    testing_support::TempFolder temp;
    std::string demo;
    std::unique_ptr<TMainForm> form;
};

TEST_F(EndToEnd, OpensTheDemoPairThroughTheDialogs)
{
    EXPECT_EQ(S(form->DBCaption->text()), "<НЕ ОТКРЫТА>");
    EXPECT_FALSE(form->btnChange->isEnabled());
    OpenDemoPair("EndToEnd-OpenVelmoDbForm.png");
    EXPECT_EQ(S(form->DBCaption->text()), "Демо: город Велмо");
    EXPECT_TRUE(form->btnChange->isEnabled());
    ASSERT_NE(form->Engine().Db(), nullptr);
    EXPECT_EQ(framestest::ReadParams(form->Engine().Db()->GetParams()->GetXml()),
              (framestest::TParamsDoc{"BDE.Paradox", "Paradox", {{"folder", demo}, {"password", ""}}}));
    EXPECT_EQ(framestest::ReadParams(form->Engine().SemDb()->GetParams()->GetXml()).Params[0].second, demo);
    EXPECT_GT(framestest::SaveShot(*form, "EndToEnd-MainForm.png"), 4u);

    // Open again: the dialog starts from the open pair; Esc keeps it.
    IUdb* const opened = form->Engine().Db();
    WhenShown<TOpenVelmoDbForm>([&](TOpenVelmoDbForm& dialog) {
        EXPECT_EQ(framestest::ReadParams(dialog.SpacialParams->GetParams()).Params[0].second, demo);
        EXPECT_EQ(framestest::ReadParams(dialog.SemParams->GetParams()).Params[0].second, demo);
        widgettest::Type(&dialog, Qt::Key_Escape);
    });
    ClickWidget(form->btnOpen);
    EXPECT_EQ(form->Engine().Db(), opened);
    EXPECT_EQ(S(form->DBCaption->text()), "Демо: город Велмо");

    // A folder that holds no Velmo database: the message, the dialog stays,
    // and Cancel keeps the open pair.
    const std::string empty = temp.Sub("empty");
    std::vector<std::string> boxes;
    WhenShown<TOpenVelmoDbForm>([&](TOpenVelmoDbForm& dialog) {
        dialog.SpacialParams->SetParams(PdoxParamsXml(empty));
        AnswerBox(QMessageBox::Ok, boxes);
        ClickWidget(dialog.btnOk);
        EXPECT_TRUE(dialog.isVisible());
        ClickWidget(dialog.btnCancel);
    });
    ClickWidget(form->btnOpen);
    EXPECT_EQ(boxes, std::vector<std::string>{"Не найдена таблица <VELMO_DBINFO>."});
    EXPECT_EQ(form->Engine().Db(), opened);
}

TEST_F(EndToEnd, ChangesTheGenerator)
{
    OpenDemoPair();
    ChooseMode(cmChangeGenerator);
    std::vector<std::string> boxes;
    AnswerBox(QMessageBox::Ok, boxes);
    ClickWidget(form->btnChange);
    EXPECT_EQ(boxes, std::vector<std::string>{"Генератор изменен"});

    const rtl::RefPtr<IUdb> db = OpenDemo();
    const TRows counter = ReadRows(*db, "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"});
    ASSERT_EQ(counter.size(), 1u);
    EXPECT_NE(counter[0][0], "1") << "a new identifier group";
    EXPECT_EQ(counter[0][1], "1000");
    const TRows spaces = ReadRows(*db, "VELMO_IDMAPER", {"LOCALID"});
    EXPECT_EQ(spaces, (TRows{{"1"}, {counter[0][0]}}));
    EXPECT_EQ(CountRows(*db, "VELMO_PREFS"), 0) << "the stored SERVERID is gone";
}

TEST_F(EndToEnd, GivesEveryIdentifierSpaceANewGuid)
{
    const TRows before = ReadRows(*OpenDemo(), "VELMO_IDMAPER", {"LOCALID", "GLOBALID"});
    OpenDemoPair();
    ChooseMode(cmGlobalIDs);
    std::vector<std::string> boxes;
    AnswerBox(QMessageBox::Ok, boxes);
    ClickWidget(form->btnChange);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Идентификаторы изменены");

    const TRows after = ReadRows(*OpenDemo(), "VELMO_IDMAPER", {"LOCALID", "GLOBALID"});
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i][0], before[i][0]);
        EXPECT_NE(after[i][1], before[i][1]);
        EXPECT_EQ(after[i][1].size(), 38u);
    }
}

TEST_F(EndToEnd, RenumbersTheMapObjectsOfAChosenLayer)
{
    const TDemoLayer houses = DemoLayers()[0];
    OpenDemoPair();
    ChooseMode(cmSpatialObjects);
    std::vector<std::string> boxes;
    // The backup question (Yes), the layers (Дома checked), the result box.
    AnswerBox(QMessageBox::Yes, boxes, [&] {
        WhenShown<TSelectLayersForm>([&](TSelectLayersForm& select) {
            select.XTreeView->expandAll();
            TXTreeNode* node = nullptr;
            for (TXTreeNode* n = select.XTreeView->Items().GetFirstNode(); n; n = n->GetNext())
                if (n->Text() == houses.Name) node = n;
            if (!node) {
                ADD_FAILURE() << "no node for the layer";
                select.reject();
                return;
            }
            const QModelIndex index = select.XTreeView->IndexOf(node);
            widgettest::Click(select.XTreeView->viewport(), select.XTreeView->visualRect(index).center());
            widgettest::Type(select.XTreeView, Qt::Key_Space, " ");
            EXPECT_EQ(node->GetCheckState(), csChecked);
            EXPECT_GT(framestest::SaveShot(select, "EndToEnd-SelectLayers.png"), 4u);
            AnswerBox(QMessageBox::Ok, boxes);
            ClickWidget(select.btnOk);
        });
    });
    ClickWidget(form->btnChange);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], EngineText::BackupQuestion);
    EXPECT_THAT(boxes[1], HasSubstr("Изменено: 3"));

    const rtl::RefPtr<IUdb> db = OpenDemo();
    const std::set<std::string> old(houses.ObjectIDs.begin(), houses.ObjectIDs.end());
    std::set<std::string> renumbered;
    for (const std::uint32_t sector : {70u, 71u}) // the sectors of Дома
        for (const TObjectDesc& object : ReadSectorObjects(*db, Id(1, sector))) renumbered.insert(object.ID);
    EXPECT_EQ(renumbered.size(), 3u);
    for (const std::string& id : renumbered) EXPECT_EQ(old.count(id), 0u) << id;
    std::set<std::string> semRows;
    for (const TRow& row : ReadRows(*db, "SEM_HOUSES", {"ID"})) semRows.insert(row[0]);
    EXPECT_EQ(semRows, renumbered) << "the semantic rows follow their objects";
    // The other layers keep their objects.
    std::set<std::string> roads;
    for (const TObjectDesc& object : ReadSectorObjects(*db, Id(1, 72))) roads.insert(object.ID);
    EXPECT_EQ(roads, (std::set<std::string>{DemoLayers()[1].ObjectIDs[0], DemoLayers()[1].ObjectIDs[1]}));
}

} // namespace
