// The open-file dialog over IVelmoServerRemoteComputer.
//
// TRemoteOpenDialog is the dialog's state without a display: the folder
// listed (CurrentFolder, relative to RootFolder when the dialog is confined
// to one), the entries of "Искать в:", the list of folders and files for the
// chosen file type, navigation, and the check of the chosen name.
// TRemoteOpenDialogsForm is the Qt form that shows it.
//
// Paths are Linux paths. Without a root, CurrentFolder is a full path ("/",
// "/data") or empty for the level above the drives, where nothing is listed.
// A root folder is compared on whole path components: "/d/Data2/a.txt" is
// not inside "/d/Data".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QDialog>

#include "platform/gui/ImageLists.h"
#include "remote/RemoteComputers.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidgetItem;
class QPushButton;
class QToolButton;
class TXComboBox;
class TXListView;

// An entry of "Искать в:".
struct TLookinItem {
    enum : std::uint8_t { lkRoot = 0, lkDrive = 1, lkFolder = 2 };
    std::uint8_t Kind = lkRoot;
    std::string Path; // the value CurrentFolder takes when the entry is chosen
    std::string Caption;
    int ImageIndex = -1;
    int Indent = 0; // pixels
};

// An item of the file list: a folder (image 8) or a file (image 10).
struct TFileListItem {
    std::string Caption;
    int ImageIndex = -1;
    bool IsFolder() const noexcept;
};

class TRemoteOpenDialog {
public:
    TRemoteOpenDialog(IVelmoServerRemoteComputerPtr computer, std::string rootCaption, std::string rootFolder,
                      const std::string& filter);

    // Splits the initial name into the folder listed and the name shown,
    // selects the first file type and lists the folder.
    void Init(const std::string& fileName);

    IVelmoServerRemoteComputer& Computer() const noexcept { return *computer_; }
    const std::string& RootCaption() const noexcept { return rootCaption_; }
    const std::string& RootFolder() const noexcept { return rootFolder_; }
    const std::string& CurrentFolder() const noexcept { return currentFolder_; }
    // The folder that is listed: CurrentFolder below the root, if any.
    std::string ListedFolder() const;

    // The display names of the file types and their mask lists.
    const std::vector<std::string>& FileTypes() const noexcept { return fileTypes_; }
    const std::vector<std::string>& Masks() const noexcept { return masks_; }
    int FileTypeIndex() const noexcept { return fileTypeIndex_; }
    // Selects a file type (-1: none, which lists "*.*") and lists anew.
    void SetFileTypeIndex(int index);

    // The text of "Имя файла:".
    const std::string& FileName() const noexcept { return fileName_; }
    void SetFileName(std::string text) { fileName_ = std::move(text); }

    const std::vector<TFileListItem>& Items() const noexcept { return items_; }
    const std::vector<TLookinItem>& LookinItems() const noexcept { return lookinItems_; }
    // The selected entry of "Искать в:", -1 when none.
    int LookinIndex() const noexcept { return lookinIndex_; }
    bool UpDirEnabled() const noexcept { return !currentFolder_.empty(); }

    // Lists CurrentFolder and rebuilds "Искать в:".
    void Refresh();
    void ChooseLookin(int index);
    // One level up; nothing at the top.
    void UpDir();
    // A file item's caption goes to FileName.
    void SelectItem(int index);
    // The Open button with item selected (-1: none): a folder is entered
    // (false); otherwise the full name must be an existing file, not a
    // folder and not a pattern (true), else rtl::Exception "Ошибка выбора
    // файла: Не найден файл "%s"".
    bool Open(int selected);
    // The chosen file's full name.
    std::string FullName() const;

    // A path beginning with "/".
    static bool IsAbsolute(std::string_view path) noexcept;
    // The longest prefix of path that is an existing folder, and the rest.
    void SplitExistingFolder(const std::string& path, std::string& folder, std::string& rest) const;
    // folder relative to the root, compared on whole components; false when
    // it does not lie inside the root.
    bool RelativeToRoot(const std::string& folder, std::string& relative) const;

private:
    bool IsFolder(const std::string& path) const;
    std::vector<std::string> ListNames(const rtl::Variant& listing) const;
    void RebuildLookin();

    IVelmoServerRemoteComputerPtr computer_;
    std::string rootCaption_;
    std::string rootFolder_;
    std::string currentFolder_;
    std::vector<std::string> fileTypes_;
    std::vector<std::string> masks_;
    int fileTypeIndex_ = -1;
    std::string fileName_;
    std::vector<TFileListItem> items_;
    std::vector<TLookinItem> lookinItems_;
    int lookinIndex_ = -1;
};

class TRemoteOpenDialogsForm : public QDialog {
    Q_OBJECT
public:
    TRemoteOpenDialogsForm(IVelmoServerRemoteComputerPtr computer, const std::string& rootCaption,
                           const std::string& rootFolder, const std::string& title, const std::string& filter,
                           QWidget* parent = nullptr);
    ~TRemoteOpenDialogsForm() override;

    QLabel* LookinLabel;
    TXComboBox* Lookin;
    QToolButton* ButtonsUpDir;
    TXListView* Files;
    QLabel* FileNameLabel;
    QLineEdit* FileName;
    QLabel* FileTypesLabel;
    QComboBox* FileTypes;
    QPushButton* OpenBtn;
    QPushButton* CancelBtn;
    gui::ImageList Images;

    TRemoteOpenDialog& Dialog() noexcept { return dialog_; }
    void Init(const std::string& fileName);

    void LookinSelect(int index);
    void ButtonsUpDirClick();
    void FileTypesChange(int index);
    void FilesSelect(QListWidgetItem* item);
    void OpenBtnClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shows the dialog's state in the controls.
    void ShowState();

    TRemoteOpenDialog dialog_;
    bool showing_ = false;
};

// Shows the open-file dialog; on OK, fileName becomes the chosen file's full
// name and the result is true.
bool RemoteOpenFile(IVelmoServerRemoteComputerPtr computer, const std::string& rootCaption,
                    const std::string& rootFolder, const std::string& title, const std::string& filter,
                    std::string& fileName);
