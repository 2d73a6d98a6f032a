// The three dialogs as real forms on the offscreen platform: their captions,
// the new-folder prompt's rule, browsing and choosing a folder, making a
// folder from the chooser, the hint for OK without a folder, choosing a file
// with the filters, folders and the up button, the not-found message, and
// screenshots of each form.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "CoreLib/controls/XComboBoxes.h"
#include "CoreLib/controls/XListView.h"
#include "remote/dialogs/CreateFolderForms.h"
#include "remote/dialogs/RemoteComputerComps.h"
#include "remote/dialogs/RemoteOpenDialogs.h"
#include "remote/dialogs/SelectRemoteFolderForms.h"
#include "tests/CoreLib/controls/WidgetTestSupport.h"
#include "tests/remote/dialogs/RemoteDialogsTestSupport.h"

namespace {

using dialogtest::DiskTree;
using dialogtest::FormDriver;

const char* const kHint =
    "Подсказка: Перед тем, как нажать кнопку \"Далее\", выделите папку, в которой размещена база данных.";

int Accepted()
{
    return static_cast<int>(QDialog::Accepted);
}

// Saves a picture of the form in the build folder; the number of colours in it.
std::size_t SaveShot(QWidget& form, const char* name)
{
    form.show();
    QCoreApplication::processEvents();
    const QImage shot = form.grab().toImage();
    EXPECT_TRUE(shot.save(QDir(QCoreApplication::applicationDirPath()).filePath(name), "PNG"));
    std::set<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2) colours.insert(shot.pixel(x, y));
    return colours.size();
}

// The form's result after it was closed by a button, or Rejected while open.
int ResultOf(QDialog& form)
{
    return form.isVisible() ? static_cast<int>(QDialog::Rejected) : form.result();
}

// ---- the new-folder prompt ----------------------------------------------------------------

TEST(CreateFolderForm, CaptionsAndTheRuleOfOk)
{
    TCreateFolderForm form;
    EXPECT_EQ(form.windowTitle(), QString("Создание папки"));
    EXPECT_EQ(form.Label->text(), QString("Введите название новой папки:"));
    EXPECT_EQ(form.Ok->text(), QString("Создать"));
    EXPECT_EQ(form.Cancel->text(), QString("Отмена"));
    EXPECT_TRUE(form.Ok->isDefault());
    struct Case {
        const char* text;
        bool enabled;
    };
    const Case cases[] = {
        {"", false},     {"   ", false}, {"a*b", false}, {"a?b", false}, {" * ", false},
        {"Новая", true}, {" x ", true},  {"a/b", true},  {"c:d", true},
    };
    for (const Case& c : cases) {
        form.FolderName->setText(QString::fromUtf8(c.text));
        EXPECT_EQ(form.Ok->isEnabled(), c.enabled) << "\"" << c.text << "\"";
    }
    form.FolderName->setText("Новая папка");
    EXPECT_GT(SaveShot(form, "CreateFolderForm.png"), 4u);
}

TEST(CreateFolderForm, AskFolderNameGivesTheTextAsTyped)
{
    FormDriver driver;
    driver.On<TCreateFolderForm>([](TCreateFolderForm& form) {
        EXPECT_EQ(form.FolderName->text(), QString("старое"));
        form.show();
        form.FolderName->setText("  новое  ");
        form.Ok->click();
        return ResultOf(form);
    });
    std::string name = "старое";
    {
        const auto runner = driver.Install();
        EXPECT_TRUE(AskFolderName(name));
    }
    EXPECT_EQ(name, "  новое  ") << "not trimmed";
    FormDriver cancel;
    cancel.On<TCreateFolderForm>([](TCreateFolderForm& form) {
        form.show();
        form.FolderName->setText("x");
        form.Cancel->click();
        return ResultOf(form);
    });
    const auto runner = cancel.Install();
    EXPECT_FALSE(AskFolderName(name));
    EXPECT_EQ(name, "  новое  ");
}

// ---- the folder chooser ----------------------------------------------------------------------

class FolderChooser : public ::testing::Test {
protected:
    TXTreeNode* Find(TSelectRemoteFolderForm& form, const std::string& path)
    {
        for (TXTreeNode* n = form.Folders->Items().GetFirstNode(); n; n = n->GetNext())
            if (!IsPlaceholder(n) && NodePath(n) == path) return n;
        return nullptr;
    }
    DiskTree disk;
    IVelmoServerRemoteComputerPtr computer = CreateLocalRemoteComputer();
    FormDriver driver;
};

TEST_F(FolderChooser, CaptionsAndTheStartingFolder)
{
    driver.On<TSelectRemoteFolderForm>([&](TSelectRemoteFolderForm& form) {
        EXPECT_EQ(form.windowTitle(), QString("Выбор папки"));
        EXPECT_EQ(form.TopLabel->text(), QString("Выберите папку:"));
        EXPECT_TRUE(form.TopLabel->wordWrap());
        EXPECT_EQ(form.CreateFolder->text(), QString("Создать папку..."));
        EXPECT_EQ(form.Ok->text(), QString("ОК"));
        EXPECT_EQ(form.Cancel->text(), QString("Отмена"));
        EXPECT_TRUE(form.Ok->isDefault());
        EXPECT_EQ(form.Folders->indentation(), 19);
        EXPECT_EQ(form.Folders->Checkboxes(), cbmNone);
        EXPECT_NE(form.Folders->Selected(), nullptr);
        EXPECT_EQ(NodePath(form.Folders->Selected()), disk.Path("Data/Old"));
        EXPECT_GT(SaveShot(form, "SelectRemoteFolderForm.png"), 4u);
        form.Ok->click();
        return ResultOf(form);
    });
    const auto runner = driver.Install();
    std::string folder = disk.Path("Data/Old/");
    EXPECT_TRUE(SelectRemoteFolder(computer, "Выберите папку:", folder));
    EXPECT_EQ(folder, disk.Path("Data/Old"));
}

TEST_F(FolderChooser, BrowsesByExpandingAndChoosesAFolder)
{
    driver.On<TSelectRemoteFolderForm>([&](TSelectRemoteFolderForm& form) {
        form.show();
        TXTreeNode* data = Find(form, disk.Path("Data"));
        if (!data) {
            ADD_FAILURE() << "no node for Data";
            return static_cast<int>(QDialog::Rejected);
        }
        EXPECT_FALSE(data->Expanded());
        EXPECT_TRUE(IsPlaceholder(data->GetFirstChild()));
        form.Folders->expand(form.Folders->IndexOf(data));
        EXPECT_TRUE(data->Expanded());
        EXPECT_EQ(data->ImageIndex(), riFolderOpen);
        EXPECT_EQ(dialogtest::Children(data), "Old@8 Sub@8");
        form.Folders->collapse(form.Folders->IndexOf(data));
        EXPECT_EQ(data->ImageIndex(), riFolderClosed);
        form.Folders->setCurrentIndex(form.Folders->IndexOf(data->GetLastChild()));
        form.Ok->click();
        return ResultOf(form);
    });
    const auto runner = driver.Install();
    std::string folder = disk.Path();
    EXPECT_TRUE(SelectRemoteFolder(computer, "Папка базы", folder));
    EXPECT_EQ(folder, disk.Path("Data/Sub"));
}

TEST_F(FolderChooser, AnExpansionWithNothingToShowIsUndone)
{
    driver.On<TSelectRemoteFolderForm>([&](TSelectRemoteFolderForm& form) {
        form.show();
        TXTreeNode* data = Find(form, disk.Path("Data"));
        std::filesystem::remove_all(disk.Path("Data/Old"));
        std::filesystem::remove_all(disk.Path("Data/Sub"));
        form.Folders->expand(form.Folders->IndexOf(data));
        EXPECT_FALSE(data->Expanded());
        EXPECT_FALSE(form.Folders->isExpanded(form.Folders->IndexOf(data)));
        EXPECT_TRUE(IsPlaceholder(data->GetFirstChild()));
        EXPECT_EQ(data->ImageIndex(), riFolderClosed);
        form.Cancel->click();
        return ResultOf(form);
    });
    const auto runner = driver.Install();
    std::string folder = disk.Path();
    EXPECT_FALSE(SelectRemoteFolder(computer, "", folder));
    EXPECT_EQ(folder, disk.Path()) << "unchanged";
}

TEST_F(FolderChooser, OkWithoutAFolderShowsTheHintAndStaysOpen)
{
    guitest::BoxRecorder boxes;
    driver.On<TSelectRemoteFolderForm>([&](TSelectRemoteFolderForm& form) {
        form.show();
        EXPECT_EQ(form.Folders->Selected(), nullptr);
        form.Ok->click();
        EXPECT_TRUE(form.isVisible()) << "still open";
        EXPECT_EQ(boxes.boxes.size(), 1u);
        form.Folders->setCurrentIndex(form.Folders->IndexOf(form.Folders->Items().TopLevelItem(0)));
        form.Ok->click();
        return ResultOf(form);
    });
    const auto runner = driver.Install();
    std::string folder = "relative/path";
    EXPECT_TRUE(SelectRemoteFolder(computer, "", folder));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Error);
    EXPECT_EQ(boxes.boxes[0].text, kHint);
    EXPECT_EQ(folder, "/") << "the drive node";
}

TEST_F(FolderChooser, AcceptedWithoutAFolderRaisesTheHint)
{
    driver.On<TSelectRemoteFolderForm>([](TSelectRemoteFolderForm&) { return Accepted(); });
    const auto runner = driver.Install();
    std::string folder;
    try {
        SelectRemoteFolder(computer, "", folder);
        ADD_FAILURE() << "no exception";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), kHint);
    }
}

TEST_F(FolderChooser, MakesANewFolderBelowTheSelectedOne)
{
    driver.On<TCreateFolderForm>([](TCreateFolderForm& form) {
        form.show();
        EXPECT_FALSE(form.Ok->isEnabled()) << "an empty name";
        form.FolderName->setText("Новая");
        form.Ok->click();
        return ResultOf(form);
    });
    driver.On<TSelectRemoteFolderForm>([&](TSelectRemoteFolderForm& form) {
        form.show();
        TXTreeNode* empty = form.Folders->Selected();
        form.CreateFolder->click();
        EXPECT_EQ(form.Folders->Selected(), empty);
        EXPECT_EQ(dialogtest::Children(empty), "Новая@8");
        form.Folders->setCurrentIndex(form.Folders->IndexOf(empty->GetFirstChild()));
        form.Ok->click();
        return ResultOf(form);
    });
    const auto runner = driver.Install();
    std::string folder = disk.Path("Empty");
    EXPECT_TRUE(SelectRemoteFolder(computer, "", folder));
    EXPECT_EQ(folder, disk.Path("Empty/Новая"));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(driver.shown, 2);
}

TEST_F(FolderChooser, AFailedFolderIsReported)
{
    guitest::BoxRecorder boxes;
    driver.On<TCreateFolderForm>([](TCreateFolderForm& form) {
        form.FolderName->setText("README/x");
        return Accepted();
    });
    driver.On<TSelectRemoteFolderForm>([&](TSelectRemoteFolderForm& form) {
        form.show();
        form.CreateFolder->click();
        form.Cancel->click();
        return ResultOf(form);
    });
    const auto runner = driver.Install();
    std::string folder = disk.Path("Data");
    EXPECT_FALSE(SelectRemoteFolder(computer, "", folder));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Ошибка создания папки \"" + disk.Path("Data/README/") + "\"");
}

// ---- the open-file dialog --------------------------------------------------------------------

class OpenFileDialog : public ::testing::Test {
protected:
    static int Row(TRemoteOpenDialogsForm& form, const char* caption)
    {
        const auto found = form.Files->findItems(QString::fromUtf8(caption), Qt::MatchExactly);
        return found.isEmpty() ? -1 : form.Files->row(found.front());
    }
    // A press, a release and a double click on an item, as the mouse does it.
    static void DoubleClick(TRemoteOpenDialogsForm& form, int row)
    {
        QWidget* viewport = form.Files->viewport();
        const QPoint at = form.Files->visualItemRect(form.Files->item(row)).center();
        widgettest::Click(viewport, at);
        widgettest::Mouse(viewport, QEvent::MouseButtonDblClick, at);
        widgettest::Mouse(viewport, QEvent::MouseButtonRelease, at);
    }
    static QString Items(TRemoteOpenDialogsForm& form)
    {
        QStringList items;
        for (int i = 0; i < form.Files->count(); ++i) items << form.Files->item(i)->text();
        return items.join(' ');
    }
    DiskTree disk;
    IVelmoServerRemoteComputerPtr computer = CreateLocalRemoteComputer();
    FormDriver driver;
};

TEST_F(OpenFileDialog, CaptionsAndChoosingAFile)
{
    driver.On<TRemoteOpenDialogsForm>([&](TRemoteOpenDialogsForm& form) {
        EXPECT_EQ(form.windowTitle(), QString("Выберите файл:"));
        EXPECT_EQ(form.LookinLabel->text(), QString("Искать в:"));
        EXPECT_EQ(form.FileNameLabel->text(), QString("Имя файла:"));
        EXPECT_EQ(form.FileTypesLabel->text(), QString("Типы файлов:"));
        EXPECT_EQ(form.OpenBtn->text(), QString("Открыть"));
        EXPECT_EQ(form.CancelBtn->text(), QString("Отмена"));
        EXPECT_TRUE(form.OpenBtn->isDefault());
        EXPECT_TRUE(form.FileName->isReadOnly());
        EXPECT_EQ(form.FileTypes->count(), 2);
        EXPECT_EQ(form.FileTypes->currentText(), QString("Paradox (*.db)"));
        EXPECT_EQ(form.Lookin->count(), 1);
        EXPECT_EQ(form.Lookin->currentText(), QString("Data"));
        EXPECT_FALSE(form.ButtonsUpDir->isEnabled()) << "at the root";
        EXPECT_EQ(Items(form), QString("Old Sub b.DB c.db"));
        EXPECT_EQ(form.FileName->text(), QString("")) << "the initial name was a folder";
        form.Files->setCurrentRow(Row(form, "c.db"));
        EXPECT_EQ(form.FileName->text(), QString("c.db"));
        form.Files->setCurrentRow(Row(form, "Old"));
        EXPECT_EQ(form.FileName->text(), QString("c.db")) << "a folder does not change the name";
        form.Files->setCurrentRow(Row(form, "b.DB"));
        EXPECT_GT(SaveShot(form, "RemoteOpenDialogsForm.png"), 4u);
        form.OpenBtn->click();
        return ResultOf(form);
    });
    const auto runner = driver.Install();
    std::string fileName = disk.Path("Data");
    EXPECT_TRUE(RemoteOpenFile(computer, "Data", disk.Path("Data"),
                               "Выберите файл:", "Paradox (*.db)|*.db|All files (*.*)|*.*", fileName));
    EXPECT_EQ(fileName, disk.Path("Data/b.DB"));
}

TEST_F(OpenFileDialog, FoldersFiltersUpAndDoubleClicks)
{
    driver.On<TRemoteOpenDialogsForm>([&](TRemoteOpenDialogsForm& form) {
        form.show();
        form.FileTypes->setCurrentIndex(1);
        EXPECT_EQ(Items(form), QString("Old Sub b.DB c.db d.txt README"));
        form.Files->setCurrentRow(Row(form, "Sub"));
        form.OpenBtn->click();
        EXPECT_TRUE(form.isVisible()) << "a folder is entered";
        EXPECT_EQ(Items(form), QString("a.txt"));
        EXPECT_EQ(form.Lookin->count(), 2);
        EXPECT_EQ(form.Lookin->currentText(), QString("Sub"));
        EXPECT_TRUE(form.ButtonsUpDir->isEnabled());
        // Backspace in the list goes up, and is swallowed.
        widgettest::Type(form.Files, Qt::Key_Backspace);
        EXPECT_EQ(Items(form), QString("Old Sub b.DB c.db d.txt README"));
        emit form.Lookin->activated(0);
        EXPECT_EQ(form.Dialog().CurrentFolder(), "");
        DoubleClick(form, Row(form, "Sub"));
        EXPECT_EQ(Items(form), QString("a.txt"));
        form.ButtonsUpDir->click();
        EXPECT_EQ(form.Dialog().CurrentFolder(), "");
        DoubleClick(form, Row(form, "Sub"));
        DoubleClick(form, Row(form, "a.txt"));
        return ResultOf(form);
    });
    const auto runner = driver.Install();
    std::string fileName;
    EXPECT_TRUE(RemoteOpenFile(computer, "Data", disk.Path("Data"), "Файл", "Paradox|*.db|Все|*.*", fileName));
    EXPECT_EQ(fileName, disk.Path("Data/Sub/a.txt"));
}

TEST_F(OpenFileDialog, AMissingFileIsReportedAndTheDialogStaysOpen)
{
    guitest::BoxRecorder boxes;
    driver.On<TRemoteOpenDialogsForm>([&](TRemoteOpenDialogsForm& form) {
        form.show();
        EXPECT_EQ(form.FileName->text(), QString("missing.db"));
        form.OpenBtn->click();
        EXPECT_TRUE(form.isVisible());
        form.CancelBtn->click();
        return ResultOf(form);
    });
    const auto runner = driver.Install();
    std::string fileName = disk.Path("Data/missing.db");
    EXPECT_FALSE(RemoteOpenFile(computer, "", "", "Файл", "", fileName));
    EXPECT_EQ(fileName, disk.Path("Data/missing.db"));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Ошибка выбора файла: Не найден файл \"" + disk.Path("Data/missing.db") + "\"");
}

TEST_F(OpenFileDialog, WithoutARootTheDrivesLeadTheWay)
{
    driver.On<TRemoteOpenDialogsForm>([&](TRemoteOpenDialogsForm& form) {
        form.show();
        const int entries = form.Lookin->count();
        EXPECT_GE(entries, 3);
        EXPECT_EQ(form.Lookin->itemText(0).left(4), QString("/ - "));
        EXPECT_EQ(form.Lookin->currentIndex(), entries - 1);
        EXPECT_EQ(form.Lookin->currentText(), QString("Data2"));
        EXPECT_EQ(Items(form), QString("a.txt"));
        EXPECT_EQ(form.FileName->text(), QString("a.txt"));
        EXPECT_GT(SaveShot(form, "RemoteOpenDialogsForm-no-root.png"), 4u);
        // The entries of "Искать в:" with their indents.
        form.Lookin->showPopup();
        QCoreApplication::processEvents();
        const QImage list = form.Lookin->view()->window()->grab().toImage();
        EXPECT_TRUE(
            list.save(QDir(QCoreApplication::applicationDirPath()).filePath("RemoteOpenDialogsForm-lookin.png")));
        form.Lookin->hidePopup();
        form.OpenBtn->click();
        return ResultOf(form);
    });
    const auto runner = driver.Install();
    std::string fileName = disk.Path("Data2/a.txt");
    EXPECT_TRUE(RemoteOpenFile(computer, "", "", "Файл", "All files (*.*)|*.*", fileName));
    EXPECT_EQ(fileName, disk.Path("Data2/a.txt"));
}

} // namespace
