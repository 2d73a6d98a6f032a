// The main window as a real window on the offscreen platform, over Velmo
// database pairs on the SQLite test driver: its controls and texts, attaching
// and detaching a pair (with the generator's counter written back), the busy
// state with progress bar, spinner and Cancel, the guard that holds the window
// for a whole run, and the log file in Windows-1251 bytes.
#include "Tools/Parvane/gui/MainForms.h"

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>

#include "Tools/Parvane/gui/SelectLayersForms.h"
#include "UdbProject/UdbDrivers.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/MessageBoxes.h"
#include "platform/rtl/Exceptions.h"
#include "tests/CoreLib/controls/WidgetTestSupport.h"
#include "tests/support/TempFolder.h"
#include "tests/support/VelmoFixture.h"

namespace {

using namespace velmotest;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kNotOpen = "<НЕ ОТКРЫТА>";
const std::string kCancelQuestion = "Вы действительно хотите прервать операцию ?";
const std::string kRunUnderWay = "Идет изменение идентификаторов: дождитесь его окончания";
const char* const kGeneratorChanged = "Генератор изменен";
// "Начало процесса: " and "Процесс завершен" in Windows-1251, written by hand.
const std::string kStartBytes = "\xcd\xe0\xf7\xe0\xeb\xee \xef\xf0\xee\xf6\xe5\xf1\xf1\xe0: ";
const std::string kEndBytes = "\xcf\xf0\xee\xf6\xe5\xf1\xf1 \xe7\xe0\xe2\xe5\xf0\xf8\xe5\xed";

std::string S(const QString& text) { return text.toStdString(); }

std::string FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

TRows Counter(IUdb& db) { return ReadRows(db, "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}); }

// Records every box and answers questions with one button, the others with OK.
// While a run is under way, hook (when set) sees each box first.
struct Boxes {
    explicit Boxes(gui::BoxButton questionAnswer = gui::BoxButton::No)
        : answerer([this, questionAnswer](const gui::BoxRequest& request) {
              seen.push_back(request);
              if (hook) hook(request);
              const bool question = request.kind == gui::BoxKind::Question || request.kind == gui::BoxKind::Warning;
              return question ? questionAnswer : gui::BoxButton::Ok;
          })
    {
    }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const gui::BoxRequest& r : seen) texts.push_back(r.text);
        return texts;
    }

    std::vector<gui::BoxRequest> seen;
    std::function<void(const gui::BoxRequest&)> hook;
    gui::ScopedBoxAnswerer answerer;
};

// A window with a log of its own in a temporary folder.
class FormTest : public ::testing::Test {
protected:
    std::string LogPath() const { return folder / "parvane.log"; }
    std::unique_ptr<TMainForm> MakeForm() { return std::make_unique<TMainForm>(LogPath()); }

    testing_support::TempFolder folder;
};

using MainFormLayout = FormTest;
using MainFormPair = FormTest;
using MainFormBusy = FormTest;
using MainFormRun = FormTest;
using MainFormLog = FormTest;

void SaveScreenshot(QWidget& window, const char* name)
{
    const QImage shot = window.grab().toImage();
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    ASSERT_TRUE(shot.save(path, "PNG"));
    const QImage saved(path);
    ASSERT_FALSE(saved.isNull());
    EXPECT_GT(QFileInfo(path).size(), 0);
    std::set<QRgb> colours;
    for (int y = 0; y < saved.height(); y += 2)
        for (int x = 0; x < saved.width(); x += 2) colours.insert(saved.pixel(x, y));
    EXPECT_GT(colours.size(), 4u);
}

// ---- the window at rest ---------------------------------------------------------------------

TEST_F(MainFormLayout, ShowsItsControlsAndTextsWithNoDatabase)
{
    const auto form = MakeForm();
    EXPECT_EQ(S(form->windowTitle()), "Изменение идентификаторов БД Велмо");
    EXPECT_EQ(S(form->Label1->text()), "База данных:");
    EXPECT_EQ(S(form->DBCaption->text()), kNotOpen);
    EXPECT_TRUE(form->DBCaption->isReadOnly());
    EXPECT_EQ(S(form->btnOpen->text()), "Открыть");
    EXPECT_EQ(S(form->GroupBox3->title()), "Опции");
    EXPECT_EQ(S(form->Label2->text()), "Режим работы:");
    EXPECT_FALSE(form->ChangeType->isEditable());
    const std::vector<std::string> modes = {
        "Смена генератора базы",
        "Изменение идентификаторов системных объектов",
        "Изменение идентификаторов пространственных объектов",
        "Смена всех идентификаторов",
    };
    ASSERT_EQ(form->ChangeType->count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(S(form->ChangeType->itemText(i)), modes[i]) << i;
    EXPECT_EQ(form->ChangeType->currentIndex(), 0);
    EXPECT_EQ(S(form->chkChangeDBID->text()), "Изменить идентификатор базы данных");
    EXPECT_FALSE(form->chkChangeDBID->isChecked());
    EXPECT_EQ(S(form->ChangeIDOnlyCurrentIDs->text()),
              "Изменять идентификаторы только активного пространства идентификаторов");
    EXPECT_FALSE(form->ChangeIDOnlyCurrentIDs->isChecked());
    EXPECT_EQ(S(form->SaveLog->text()), "Сохранять лог");
    EXPECT_TRUE(form->SaveLog->isChecked());
    EXPECT_EQ(S(form->btnChange->text()), "Изменить");
    EXPECT_EQ(S(form->btnCancel->text()), "Отмена");

    // Before and after showing: options and Change wait for a pair, the busy
    // controls are hidden, the status panels are empty.
    for (const bool shown : {false, true}) {
        if (shown) form->show();
        SCOPED_TRACE(shown ? "shown" : "created");
        EXPECT_TRUE(form->btnOpen->isEnabled());
        EXPECT_FALSE(form->GroupBox3->isEnabled());
        EXPECT_FALSE(form->btnChange->isEnabled());
        EXPECT_TRUE(form->ProgressBar->isHidden());
        EXPECT_TRUE(form->btnCancel->isHidden());
        EXPECT_FALSE(form->Busy());
        EXPECT_EQ(form->StatusPanels[0]->text(), QString());
        EXPECT_EQ(form->StatusPanels[1]->text(), QString());
    }
    EXPECT_EQ(form->StatusBar, form->statusBar());
    EXPECT_TRUE(form->StatusPanels[0]->alignment().testFlag(Qt::AlignHCenter));
    EXPECT_EQ(form->Engine().Db(), nullptr);
    EXPECT_EQ(&form->Engine().Host(), static_cast<IChangeHost*>(form.get()));

    for (const char* name : {"Label1", "DBCaption", "btnOpen", "GroupBox3", "Label2", "ChangeType", "chkChangeDBID",
                             "ChangeIDOnlyCurrentIDs", "SaveLog", "btnChange", "ProgressBar", "btnCancel",
                             "StatusBar"})
        EXPECT_NE(form->findChild<QWidget*>(name), nullptr) << name;
}

TEST_F(MainFormLayout, IsCentredSizeableAndStretchesWithTheWidth)
{
    const auto form = MakeForm();
    const QRect screen = form->screen()->availableGeometry();
    EXPECT_LE((form->frameGeometry().center() - screen.center()).manhattanLength(), 2);
    EXPECT_NE(form->minimumSize(), form->maximumSize());

    form->show();
    const int height = form->height();
    form->resize(600, height);
    QApplication::processEvents();
    const int caption = form->DBCaption->width();
    const int mode = form->ChangeType->width();
    const int group = form->GroupBox3->width();
    const int open = form->btnOpen->x();
    form->resize(800, height);
    QApplication::processEvents();
    EXPECT_EQ(form->DBCaption->width() - caption, 200);
    EXPECT_EQ(form->ChangeType->width() - mode, 200);
    EXPECT_EQ(form->GroupBox3->width() - group, 200);
    EXPECT_EQ(form->btnOpen->x() - open, 200);
}

// ---- the pair --------------------------------------------------------------------------------

TEST_F(MainFormPair, AttachingShowsTheCaptionAndEnablesTheOptions)
{
    TVelmoDbPair pair(TVelmoDesc().Database("{6B1E33C0-5A3F-4C1D-9E0B-0000000000AA}", "Тестовая база"));
    const auto form = MakeForm();
    form->show();
    form->OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    EXPECT_EQ(S(form->DBCaption->text()), "Тестовая база");
    EXPECT_EQ(form->Engine().Db(), &pair.Spatial());
    EXPECT_EQ(form->Engine().SemDb(), &pair.Semantic());
    EXPECT_TRUE(form->GroupBox3->isEnabled());
    EXPECT_TRUE(form->ChangeType->isEnabled());
    EXPECT_TRUE(form->btnChange->isEnabled());
    EXPECT_FALSE(form->ChangeIDOnlyCurrentIDs->isEnabled()); // mode 0

    // Detaching keeps the caption and disables the options again.
    form->CloseDatabases();
    EXPECT_EQ(S(form->DBCaption->text()), "Тестовая база");
    EXPECT_EQ(form->Engine().Db(), nullptr);
    EXPECT_FALSE(form->GroupBox3->isEnabled());
    EXPECT_FALSE(form->btnChange->isEnabled());
}

TEST_F(MainFormPair, TheGeneratorCounterIsWrittenBackOnReopenCloseAndDestruction)
{
    TVelmoDbPair first(TVelmoDesc().Counter(3, 5000).Space(3, "{6B1E33C0-5A3F-4C1D-9E0B-000000000003}"));
    TVelmoDbPair second(TVelmoDesc().Counter(7, 2000).Space(7, "{6B1E33C0-5A3F-4C1D-9E0B-000000000007}"));
    auto form = MakeForm();

    form->OpenDatabases(first.SpatialDb(), first.SemanticDb());
    EXPECT_EQ(form->Engine().IDGenerator().NextID(), (BinID(3) << 32) | 5001);
    EXPECT_EQ(Counter(first.Spatial()), (TRows{{"3", "5100"}})); // the block reserved at once

    // Opening another pair gives the unused numbers of the first back.
    form->OpenDatabases(second.SpatialDb(), second.SemanticDb());
    EXPECT_EQ(Counter(first.Spatial()), (TRows{{"3", "5001"}}));
    EXPECT_EQ(form->Engine().IDGenerator().NextID(), (BinID(7) << 32) | 2001);
    EXPECT_EQ(Counter(second.Spatial()), (TRows{{"7", "2100"}}));

    form->CloseDatabases();
    EXPECT_EQ(Counter(second.Spatial()), (TRows{{"7", "2001"}}));

    form->OpenDatabases(second.SpatialDb(), second.SemanticDb());
    EXPECT_EQ(form->Engine().IDGenerator().NextID(), (BinID(7) << 32) | 2002);
    form.reset();
    EXPECT_EQ(Counter(second.Spatial()), (TRows{{"7", "2002"}}));
    EXPECT_EQ(Counter(first.Spatial()), (TRows{{"3", "5001"}}));
}

TEST_F(MainFormPair, AFailedAttachLeavesNoPairAndNoCaption)
{
    TVelmoDbPair good(TVelmoDesc().Counter(4, 1500).Database("{6B1E33C0-5A3F-4C1D-9E0B-0000000000BB}", "Старая база"));
    TVelmoDbPair noInfoTable((TVelmoDesc()));
    noInfoTable.Spatial().DropTable("VELMO_DBINFO");
    TVelmoDbPair noInfoRow(TVelmoDesc().NoDbInfo());
    const rtl::RefPtr<IUdb> closed = good.OpenSpatial();
    closed->Close();

    struct Case {
        const char* name;
        rtl::RefPtr<IUdb> db;
        rtl::RefPtr<IUdb> semDb;
    };
    const Case cases[] = {
        {"spatial database without VELMO_DBINFO", noInfoTable.SpatialDb(), noInfoTable.SemanticDb()},
        {"VELMO_DBINFO without its row", noInfoRow.SpatialDb(), noInfoRow.SemanticDb()},
        {"closed spatial database", closed, good.SemanticDb()},
        {"no semantic database", good.SpatialDb(), nullptr},
    };
    const auto form = MakeForm();
    std::int32_t issued = 1500;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form->OpenDatabases(good.SpatialDb(), good.SemanticDb());
        ASSERT_EQ(S(form->DBCaption->text()), "Старая база");
        form->Engine().IDGenerator().NextID();
        ASSERT_EQ(Counter(good.Spatial()), (TRows{{"4", std::to_string(issued + 100)}})); // a block reserved
        ++issued;

        EXPECT_THROW(form->OpenDatabases(c.db, c.semDb), rtl::Exception);
        EXPECT_EQ(S(form->DBCaption->text()), kNotOpen);
        EXPECT_EQ(form->Engine().Db(), nullptr);
        EXPECT_EQ(form->Engine().SemDb(), nullptr);
        EXPECT_FALSE(form->Engine().IsOpen());
        EXPECT_FALSE(form->GroupBox3->isEnabled());
        EXPECT_FALSE(form->btnChange->isEnabled());
        // The pair that was open had its counter written back first.
        EXPECT_EQ(Counter(good.Spatial()), (TRows{{"4", std::to_string(issued)}}));
    }
}

TEST_F(MainFormPair, TheOpenButtonRunsTheDialogAndAttachesWhatItReturns)
{
    TVelmoDbPair pair(TVelmoDesc().Database("{6B1E33C0-5A3F-4C1D-9E0B-0000000000CC}", "Первая"));
    TVelmoDbPair other(TVelmoDesc().Database("{6B1E33C0-5A3F-4C1D-9E0B-0000000000DD}", "Вторая"));
    const auto form = MakeForm();
    form->show();

    {
        // Without a stand-in Open runs the open-database dialog; cancelled,
        // nothing is attached.
        RegisterBuiltInDrivers();
        std::vector<std::string> shown;
        const gui::ScopedModalRunner runner([&](QDialog& dialog) {
            shown.push_back(S(dialog.windowTitle()));
            return static_cast<int>(QDialog::Rejected);
        });
        form->btnOpen->click();
        EXPECT_EQ(shown, std::vector<std::string>{"Открыть базу данных"});
        EXPECT_EQ(form->Engine().Db(), nullptr);
        EXPECT_EQ(S(form->DBCaption->text()), kNotOpen);
    }

    int calls = 0;
    TOpenedPair answer{true, pair.SpatialDb(), pair.SemanticDb()};
    form->OpenDialog = [&] {
        ++calls;
        return answer;
    };
    form->btnOpen->click();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(S(form->DBCaption->text()), "Первая");
    EXPECT_EQ(form->Engine().Db(), &pair.Spatial());

    // Cancelled: the pair stays.
    answer = TOpenedPair{false, other.SpatialDb(), other.SemanticDb()};
    form->btnOpen->click();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(S(form->DBCaption->text()), "Первая");
    EXPECT_EQ(form->Engine().Db(), &pair.Spatial());

    // A pair that cannot be attached: the error box, and no pair.
    const rtl::RefPtr<IUdb> closed = other.OpenSpatial();
    closed->Close();
    answer = TOpenedPair{true, closed, other.SemanticDb()};
    Boxes boxes;
    form->btnOpen->click();
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].kind, gui::BoxKind::Error);
    EXPECT_EQ(S(form->DBCaption->text()), kNotOpen);
    EXPECT_EQ(form->Engine().Db(), nullptr);
    EXPECT_FALSE(form->btnChange->isEnabled());
}

TEST_F(MainFormPair, OnlyCurrentIDsIsOfferedForTheModesThatRenumberObjects)
{
    TVelmoDbPair pair((TVelmoDesc()));
    const auto form = MakeForm();
    form->show();
    const bool offered[] = {false, true, true, false};
    for (const bool open : {false, true}) {
        if (open) form->OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
        for (int mode = 0; mode < 4; ++mode) {
            SCOPED_TRACE(::testing::Message() << "open " << open << ", mode " << mode);
            form->ChangeType->setCurrentIndex(mode);
            EXPECT_EQ(form->ChangeIDOnlyCurrentIDs->isEnabledTo(form->GroupBox3), offered[mode]);
            EXPECT_EQ(form->ChangeIDOnlyCurrentIDs->isEnabled(), open && offered[mode]);
            EXPECT_EQ(form->btnChange->isEnabled(), open);
        }
    }
}

// ---- the busy state ---------------------------------------------------------------------

TEST_F(MainFormBusy, StartAndEndProgressSwitchTheControlGroups)
{
    TVelmoDbPair pair((TVelmoDesc()));
    const auto form = MakeForm();
    form->show();
    form->OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    form->ChangeType->setCurrentIndex(cmSystemObjects);

    form->StartProgress("Загрузка связей", 20);
    EXPECT_TRUE(form->Busy());
    for (QWidget* w : std::initializer_list<QWidget*>{form->btnOpen, form->ChangeType, form->chkChangeDBID,
                                                       form->ChangeIDOnlyCurrentIDs, form->btnChange, form->SaveLog})
        EXPECT_FALSE(w->isEnabled()) << S(w->objectName());
    EXPECT_TRUE(form->ProgressBar->isVisible());
    EXPECT_TRUE(form->btnCancel->isVisible());
    EXPECT_TRUE(form->btnCancel->isEnabled());
    EXPECT_EQ(form->ProgressBar->value(), 0);
    EXPECT_EQ(form->ProgressBar->maximum(), 20);
    EXPECT_EQ(S(form->StatusPanels[0]->text()), "\\");
    EXPECT_EQ(S(form->StatusPanels[1]->text()), "Загрузка связей");

    form->StepProgress("Сектор 1", 1);
    EXPECT_EQ(S(form->ProgressBar->toolTip()), "Сектор 1");

    form->EndProgress();
    EXPECT_FALSE(form->Busy());
    EXPECT_FALSE(form->ProgressBar->isVisible());
    EXPECT_FALSE(form->btnCancel->isVisible());
    EXPECT_FALSE(form->btnCancel->isEnabled());
    EXPECT_EQ(form->StatusPanels[0]->text(), QString());
    EXPECT_EQ(form->StatusPanels[1]->text(), QString());
    EXPECT_EQ(form->ProgressBar->toolTip(), QString());
    for (QWidget* w : std::initializer_list<QWidget*>{form->btnOpen, form->ChangeType, form->chkChangeDBID,
                                                       form->ChangeIDOnlyCurrentIDs, form->btnChange, form->SaveLog})
        EXPECT_TRUE(w->isEnabled()) << S(w->objectName());

    // Without a pair the end of the busy state does not offer Change, and in
    // mode 0 the option of mode 1/2 stays off.
    form->CloseDatabases();
    form->ChangeType->setCurrentIndex(cmChangeGenerator);
    form->StartProgress("x", 0);
    form->EndProgress();
    EXPECT_TRUE(form->btnOpen->isEnabled());
    EXPECT_FALSE(form->btnChange->isEnabled());
    EXPECT_FALSE(form->ChangeIDOnlyCurrentIDs->isEnabledTo(form->GroupBox3));
}

TEST_F(MainFormBusy, TheSpinnerTurnsBackslashBarSlashHyphen)
{
    const auto form = MakeForm();
    std::vector<std::string> shown;
    for (int i = 0; i < 6; ++i) {
        form->TickSpinner(i % 2 == 0);
        shown.push_back(S(form->StatusPanels[0]->text()));
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"\\", "|", "/", "-", "\\", "|"}));

    // StartProgress begins at the backslash; each step turns it on.
    form->StartProgress("Шаг", 0);
    shown = {S(form->StatusPanels[0]->text())};
    for (int i = 0; i < 4; ++i) {
        form->StepProgress("Шаг", 0);
        shown.push_back(S(form->StatusPanels[0]->text()));
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"\\", "|", "/", "-", "\\"}));
    form->EndProgress();
    form->TickSpinner(false);
    EXPECT_EQ(S(form->StatusPanels[0]->text()), "\\");
}

TEST_F(MainFormBusy, ProgressStaysInsideItsRangeAndShowsNoBusyAnimation)
{
    struct Case {
        const char* name;
        std::int32_t maximum;
        std::vector<std::int32_t> deltas;
        std::vector<int> positions;
    };
    const Case cases[] = {
        {"steps inside the range", 10, {3, 0, 4, 3}, {3, 3, 7, 10}},
        {"past the maximum", 10, {6, 6, 1}, {6, 10, 10}},
        {"backwards below zero", 10, {2, -5, 1}, {2, 0, 1}},
        {"maximum 0: an empty bar", 0, {1, 5}, {0, 0}},
        {"a negative maximum is an empty bar", -3, {1}, {0}},
        {"a huge step", 100, {2147483647, -2147483647 - 1}, {100, 0}},
    };
    const auto form = MakeForm();
    form->show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form->StartProgress("Шаг", c.maximum);
        EXPECT_LT(form->ProgressBar->minimum(), form->ProgressBar->maximum()); // 0..0 would animate
        std::vector<int> positions;
        for (const std::int32_t delta : c.deltas) {
            form->StepProgress("Шаг", delta);
            positions.push_back(form->ProgressBar->value());
        }
        EXPECT_EQ(positions, c.positions);
        form->EndProgress();
    }
}

TEST_F(MainFormBusy, TheHintFollowsOnlyStepsThatMove)
{
    const auto form = MakeForm();
    form->StartProgress("Начало", 10);
    EXPECT_EQ(form->ProgressBar->toolTip(), QString());
    form->StepProgress("Первый", 1);
    form->StepProgress("Стоим", 0);
    form->StepProgress("Назад", -1);
    EXPECT_EQ(S(form->ProgressBar->toolTip()), "Первый");
    EXPECT_EQ(S(form->StatusPanels[1]->text()), "Назад");
    form->EndProgress();
}

TEST_F(MainFormBusy, CancelAsksOnceAndYesStopsTheRun)
{
    struct Case {
        gui::BoxButton answer;
        bool cancelled;
        std::size_t questionsAfterTwoClicks;
    };
    const Case cases[] = {
        {gui::BoxButton::No, false, 2},
        {gui::BoxButton::Yes, true, 1}, // no second question after Yes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cancelled ? "Yes" : "No");
        const auto form = MakeForm();
        form->show();
        form->StartProgress("Работа", 0);
        Boxes boxes(c.answer);
        form->btnCancel->click();
        ASSERT_EQ(boxes.seen.size(), 1u);
        EXPECT_EQ(boxes.seen[0].kind, gui::BoxKind::Question);
        EXPECT_EQ(boxes.seen[0].caption, "Предупреждение");
        EXPECT_EQ(boxes.seen[0].text, kCancelQuestion);
        EXPECT_EQ(form->Engine().Cancelled(), c.cancelled);
        form->btnCancel->click();
        EXPECT_EQ(boxes.seen.size(), c.questionsAfterTwoClicks);
        EXPECT_EQ(form->Engine().Cancelled(), c.cancelled);
        form->EndProgress();
    }
}

TEST_F(MainFormBusy, EscAsksToCancelOnlyWhileCancelCanBePressed)
{
    const auto form = MakeForm();
    form->show();
    Boxes boxes(gui::BoxButton::No);
    const auto esc = [&](QWidget* target) {
        const std::size_t before = boxes.seen.size();
        widgettest::Type(target, Qt::Key_Escape);
        return boxes.seen.size() - before;
    };
    EXPECT_EQ(esc(form.get()), 0u); // idle

    form->StartProgress("Работа", 0);
    EXPECT_EQ(esc(form.get()), 1u);
    EXPECT_EQ(boxes.seen.back().text, kCancelQuestion);
    EXPECT_EQ(esc(form->btnCancel), 1u); // from the focused button up to the window

    form->btnCancel->setEnabled(false);
    EXPECT_EQ(esc(form.get()), 0u);
    form->EndProgress();
    EXPECT_EQ(esc(form.get()), 0u);
    EXPECT_FALSE(form->Engine().Cancelled());
}

// ---- host operations ------------------------------------------------------------------------

TEST_F(MainFormRun, QuestionsMessagesAndDialogsGoThroughThePlatform)
{
    TVelmoDbPair pair(TVelmoDesc().Area(Id(1, 1), "Область"));
    const auto form = MakeForm();
    {
        Boxes boxes(gui::BoxButton::Yes);
        EXPECT_TRUE(form->AskBackup("Продолжить ?"));
        form->ShowMessage("Готово", "Операция завершена");
        form->ShowMessage("Без заголовка", "");
        ASSERT_EQ(boxes.seen.size(), 3u);
        EXPECT_EQ(boxes.seen[0].kind, gui::BoxKind::Warning);
        EXPECT_EQ(boxes.seen[0].caption, "Предупреждение");
        EXPECT_EQ(boxes.seen[0].text, "Продолжить ?");
        EXPECT_EQ(boxes.seen[1].kind, gui::BoxKind::Information);
        EXPECT_EQ(boxes.seen[1].caption, "Операция завершена");
        EXPECT_EQ(boxes.seen[2].caption, gui::ApplicationTitle());
    }
    {
        Boxes boxes(gui::BoxButton::No);
        EXPECT_FALSE(form->AskBackup("Продолжить ?"));
    }

    // The selection dialogs: the one of every kind, and the one of layers.
    std::vector<std::string> titles;
    const gui::ScopedModalRunner runner([&](QDialog& dialog) {
        titles.push_back(S(dialog.windowTitle()));
        return static_cast<int>(QDialog::Rejected);
    });
    TVelmoSysObjectList list;
    EXPECT_FALSE(form->SelectSystemObjects(pair.Spatial(), list));
    EXPECT_FALSE(form->SelectLayers(pair.Spatial(), list));
    EXPECT_EQ(titles, (std::vector<std::string>{"Выберите системные объекты Велмо", "Выберите слои Велмо"}));

    form->ShowReport("<html>отчет</html>");
    EXPECT_EQ(form->ShownReport(), "<html>отчет</html>");
}

// ---- the run guard -----------------------------------------------------------------------------

// What the window looked like and did from inside a run.
struct InRun {
    bool seen = false;
    bool openEnabled = true;
    bool changeEnabled = true;
    bool modeEnabled = true;
    bool saveLogEnabled = true;
    bool closed = true;
    bool stillVisible = false;
    bool openDatabasesRefused = false;
    std::size_t refusals = 0;
};

// Tries everything a run must refuse; boxes must belong to form's run.
void ProbeRun(TMainForm& form, TVelmoDbPair& pair, Boxes& boxes, InRun& state)
{
    state.seen = true;
    state.openEnabled = form.btnOpen->isEnabled();
    state.changeEnabled = form.btnChange->isEnabled();
    state.modeEnabled = form.ChangeType->isEnabled();
    state.saveLogEnabled = form.SaveLog->isEnabled();
    const std::size_t before = boxes.seen.size();
    form.btnOpenClick();
    form.btnChangeClick();
    try {
        form.OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    } catch (const rtl::Exception& e) {
        state.openDatabasesRefused = e.Message() == kRunUnderWay;
    }
    state.closed = form.close();
    state.stillVisible = form.isVisible();
    for (std::size_t i = before; i < boxes.seen.size(); ++i)
        if (boxes.seen[i].text == kRunUnderWay) ++state.refusals;
}

void ExpectRefusedEverything(const InRun& state)
{
    EXPECT_TRUE(state.seen);
    EXPECT_FALSE(state.openEnabled);
    EXPECT_FALSE(state.changeEnabled);
    EXPECT_FALSE(state.modeEnabled);
    EXPECT_FALSE(state.saveLogEnabled);
    EXPECT_TRUE(state.openDatabasesRefused);
    EXPECT_FALSE(state.closed);
    EXPECT_TRUE(state.stillVisible);
    EXPECT_EQ(state.refusals, 3u); // Open, Change, close
}

void ExpectIdleWithPair(const TMainForm& form)
{
    EXPECT_FALSE(form.Engine().Running());
    EXPECT_FALSE(form.Busy());
    EXPECT_TRUE(form.btnOpen->isEnabled());
    EXPECT_TRUE(form.btnChange->isEnabled());
    EXPECT_TRUE(form.ChangeType->isEnabled());
    EXPECT_TRUE(form.SaveLog->isEnabled());
    EXPECT_FALSE(form.ProgressBar->isVisible());
    EXPECT_FALSE(form.btnCancel->isVisible());
}

TEST_F(MainFormRun, ARunWithoutProgressHoldsTheWindowUntilItsMessage)
{
    struct Case {
        int mode;
        const char* endMessage;
    };
    const Case cases[] = {
        {cmChangeGenerator, kGeneratorChanged},
        {cmGlobalIDs, "Идентификаторы изменены"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.endMessage);
        TVelmoDbPair pair(TVelmoDesc().Counter(1, 1500).Space(1, "{6B1E33C0-5A3F-4C1D-9E0B-000000000001}"));
        const auto form = MakeForm();
        int dialogs = 0;
        form->OpenDialog = [&] {
            ++dialogs;
            return TOpenedPair{};
        };
        form->show();
        form->OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
        form->ChangeType->setCurrentIndex(c.mode);

        Boxes boxes;
        InRun state;
        boxes.hook = [&](const gui::BoxRequest& request) {
            if (request.text == c.endMessage) ProbeRun(*form, pair, boxes, state);
        };
        form->btnChange->click();
        ExpectRefusedEverything(state);
        EXPECT_EQ(dialogs, 0);
        EXPECT_EQ(form->Engine().Db(), &pair.Spatial());
        ExpectIdleWithPair(*form);
        // Nothing but the refusals and the end message.
        EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{c.endMessage, kRunUnderWay, kRunUnderWay, kRunUnderWay}));
        EXPECT_TRUE(form->close());
    }
}

// A window that lets a test in at the start of the busy state.
class ObservedForm : public TMainForm {
public:
    using TMainForm::TMainForm;
    std::function<void()> onStartProgress;
    void StartProgress(const std::string& text, std::int32_t maximum) override
    {
        TMainForm::StartProgress(text, maximum);
        if (auto hook = std::exchange(onStartProgress, nullptr)) hook();
    }
};

TEST_F(MainFormRun, ABusyRunStaysGuardedAcrossItsPhases)
{
    TVelmoDbPair pair(TVelmoDesc().Area(Id(1, 1), "Область"));
    ObservedForm form(LogPath());
    form.show();
    form.OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    form.ChangeType->setCurrentIndex(cmSystemObjects);

    Boxes boxes(gui::BoxButton::Yes);
    InRun atQuestion;
    InRun busy;
    InRun betweenPhases;
    bool progressShown = false;
    boxes.hook = [&](const gui::BoxRequest& request) {
        if (request.kind == gui::BoxKind::Warning && !atQuestion.seen) ProbeRun(form, pair, boxes, atQuestion);
    };
    const gui::ScopedModalRunner selection([](QDialog& dialog) {
        auto* select = dynamic_cast<TSelectLayersForm*>(&dialog);
        EXPECT_NE(select, nullptr);
        if (!select) return static_cast<int>(QDialog::Rejected);
        select->XTreeView->Items().GetFirstNode()->SetCheckState(csChecked);
        return static_cast<int>(QDialog::Accepted);
    });
    form.onStartProgress = [&] {
        progressShown = form.ProgressBar->isVisible() && form.btnCancel->isVisible();
        ProbeRun(form, pair, boxes, busy);
        // The engine leaves the busy state between two phases for a moment.
        form.EndProgress();
        ProbeRun(form, pair, boxes, betweenPhases);
        form.StartProgress("Следующая фаза", 0);
    };
    form.btnChange->click();

    {
        SCOPED_TRACE("backup question");
        ExpectRefusedEverything(atQuestion);
    }
    {
        SCOPED_TRACE("busy");
        EXPECT_TRUE(progressShown);
        ExpectRefusedEverything(busy);
    }
    {
        SCOPED_TRACE("between phases");
        ExpectRefusedEverything(betweenPhases);
    }
    ExpectIdleWithPair(form);
    EXPECT_TRUE(form.ChangeIDOnlyCurrentIDs->isEnabled());
    EXPECT_EQ(form.StatusPanels[1]->text(), QString());
}

TEST_F(MainFormRun, ScreenshotsOfTheIdleAndTheBusyWindow)
{
    TVelmoDbPair pair(TVelmoDesc().Database("{6B1E33C0-5A3F-4C1D-9E0B-0000000000EE}", "Городская база Велмо"));
    const auto form = MakeForm();
    form->show();
    form->OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    form->ChangeType->setCurrentIndex(cmSpatialObjects);
    QApplication::processEvents();
    SaveScreenshot(*form, "MainForm-idle.png");

    form->StartProgress("Изменение идентификаторов пространственных объектов", 10);
    form->StepProgress("Слой \"Дороги\": сектор 4 из 10", 4);
    // A passing status message covers neither panel.
    form->StatusBar->showMessage("Подсказка");
    EXPECT_TRUE(form->StatusPanels[0]->isVisible());
    EXPECT_TRUE(form->StatusPanels[1]->isVisible());
    EXPECT_TRUE(form->ProgressBar->isVisible());
    EXPECT_EQ(S(form->StatusPanels[1]->text()), "Слой \"Дороги\": сектор 4 из 10");
    SaveScreenshot(*form, "MainForm-busy.png");
    form->EndProgress();
}

// ---- the log ---------------------------------------------------------------------------------

TEST_F(MainFormLog, CreatedWhenMissingAndAppendedInWindows1251)
{
    TVelmoDbPair pair((TVelmoDesc()));
    {
        const auto form = MakeForm();
        EXPECT_TRUE(form->Log().IsOpen());
        EXPECT_EQ(form->Log().Path(), LogPath());
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(LogPath())));
        EXPECT_EQ(FileBytes(LogPath()), "");
    }
    WriteFileBytes(LogPath(), "old\r\n");
    const auto form = MakeForm();
    form->WriteLog("Привет, мир");
    form->WriteLog("\"000100000001\" -> \"000200000001\"\r\n\"000100000002\" -> \"000200000002\"");
    EXPECT_EQ(FileBytes(LogPath()), "old\r\n"
                                    "\xcf\xf0\xe8\xe2\xe5\xf2, \xec\xe8\xf0\r\n"
                                    "\"000100000001\" -> \"000200000001\"\r\n\"000100000002\" -> \"000200000002\"\r\n");

    // A run logs an empty entry, its start with the local time, and its end.
    WriteFileBytes(LogPath(), "");
    form->OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    Boxes boxes;
    form->btnChange->click();
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{kGeneratorChanged}));
    const std::string bytes = FileBytes(LogPath());
    const std::regex entry("\r\n" + kStartBytes + "\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\r\n" + kEndBytes + "\r\n");
    EXPECT_TRUE(std::regex_match(bytes, entry)) << bytes;
}

TEST_F(MainFormLog, NothingIsWrittenWhileSaveLogIsOff)
{
    TVelmoDbPair pair((TVelmoDesc()));
    WriteFileBytes(LogPath(), "old\r\n");
    const auto form = MakeForm();
    form->OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    form->SaveLog->setChecked(false);
    EXPECT_FALSE(form->LogEnabled());
    form->WriteLog("ничего");
    for (const int mode : {cmChangeGenerator, cmGlobalIDs}) {
        form->ChangeType->setCurrentIndex(mode);
        Boxes boxes;
        form->btnChange->click();
        EXPECT_EQ(boxes.seen.size(), 1u);
    }
    EXPECT_EQ(FileBytes(LogPath()), "old\r\n");

    // The option is read anew at every entry.
    form->SaveLog->setChecked(true);
    EXPECT_TRUE(form->LogEnabled());
    form->WriteLog("x");
    EXPECT_EQ(FileBytes(LogPath()), "old\r\nx\r\n");
}

TEST_F(MainFormLog, ALogThatCannotBeOpenedIsShownOnceAndRefusesLoggedRuns)
{
    const std::string held = folder / "held.log";
    const auto holder = std::make_unique<TMainForm>(held);
    ASSERT_TRUE(holder->Log().IsOpen());
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"in a folder that does not exist", folder / "missing/parvane.log"},
        {"a folder", folder.Sub("log.d")},
        {"held by another window", held},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TVelmoDbPair pair(TVelmoDesc().Counter(1, 1500).Space(1, "{6B1E33C0-5A3F-4C1D-9E0B-000000000001}"));
        Boxes boxes;
        const auto form = std::make_unique<TMainForm>(c.path);
        form->show();
        EXPECT_FALSE(form->Log().IsOpen());
        // Shown once the window is up, and only once.
        EXPECT_TRUE(boxes.seen.empty());
        ASSERT_TRUE(guitest::WaitUntil([&] { return !boxes.seen.empty(); }));
        for (int i = 0; i < 20; ++i) QApplication::processEvents();
        ASSERT_EQ(boxes.seen.size(), 1u);
        EXPECT_EQ(boxes.seen[0].kind, gui::BoxKind::Error);
        EXPECT_THAT(boxes.seen[0].text, HasSubstr(c.path));
        EXPECT_TRUE(form->btnOpen->isEnabled());

        // A logged run is refused before anything changes.
        form->OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
        const TRows spaces = ReadRows(pair.Spatial(), "VELMO_IDMAPER", {"LOCALID"});
        form->btnChange->click();
        ASSERT_EQ(boxes.seen.size(), 2u);
        EXPECT_EQ(boxes.seen[1].kind, gui::BoxKind::Error);
        EXPECT_THAT(boxes.seen[1].text, StartsWith("Лог-файл не открыт: "));
        EXPECT_THAT(boxes.seen[1].text, HasSubstr(c.path));
        EXPECT_THAT(boxes.seen[1].text, HasSubstr("Снимите флажок \"Сохранять лог\" или устраните причину"));
        EXPECT_EQ(ReadRows(pair.Spatial(), "VELMO_IDMAPER", {"LOCALID"}), spaces);
        ExpectIdleWithPair(*form);

        // Without the log option the run goes on.
        form->SaveLog->setChecked(false);
        form->btnChange->click();
        ASSERT_EQ(boxes.seen.size(), 3u);
        EXPECT_EQ(boxes.seen[2].text, kGeneratorChanged);
        EXPECT_EQ(ReadRows(pair.Spatial(), "VELMO_IDMAPER", {"LOCALID"}).size(), spaces.size() + 1);
    }
    EXPECT_EQ(FileBytes(held), "");
}

} // namespace
