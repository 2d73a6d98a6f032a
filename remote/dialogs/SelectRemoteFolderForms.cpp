// The folder chooser's form.
#include "remote/dialogs/SelectRemoteFolderForms.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/HandlerGuard.h"
#include "remote/dialogs/RemoteComputerComps.h"

namespace {

// Texts of the form.
constexpr const char* kCaption = "Выбор папки";
constexpr const char* kCreateFolder = "Создать папку...";
constexpr const char* kOk = "ОК";
constexpr const char* kCancel = "Отмена";

constexpr int kIndent = 19;

QString ToQ(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

TSelectRemoteFolderForm::TSelectRemoteFolderForm(IVelmoServerRemoteComputerPtr remoteComputer, QWidget* parent)
    : QDialog(parent),
      TopLabel(new QLabel(this)),
      Folders(new TXTreeView(this)),
      FoldersImages(MakeRemoteDialogImages()),
      CreateFolder(new QPushButton(ToQ(kCreateFolder), this)),
      Ok(new QPushButton(ToQ(kOk), this)),
      Cancel(new QPushButton(ToQ(kCancel), this)),
      RemoteComputer(std::move(remoteComputer))
{
    setWindowTitle(ToQ(kCaption));
    TopLabel->setObjectName("TopLabel");
    Folders->setObjectName("Folders");
    CreateFolder->setObjectName("CreateFolder");
    Ok->setObjectName("Ok");
    Cancel->setObjectName("Cancel");

    TopLabel->setWordWrap(true);
    Folders->setIndentation(kIndent);
    Folders->SetImages(&FoldersImages);
    // The selection stays visible while the tree has no focus.
    QPalette palette = Folders->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    Folders->setPalette(palette);
    Ok->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(TopLabel);
    layout->addWidget(Folders, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CreateFolder);
    buttons->addStretch(1);
    buttons->addWidget(Ok);
    buttons->addWidget(Cancel);
    layout->addLayout(buttons);
    resize(380, 420);
    gui::CenterOnMainForm(*this);

    // The view expands first and asks afterwards: a refused expansion is
    // undone at once, before anything is painted.
    connect(Folders, &QTreeView::expanded, this, gui::Guarded([this](const QModelIndex& index) {
                TXTreeNode* node = Folders->NodeOf(index);
                if (!node) return;
                if (FoldersExpanding(node))
                    FoldersExpandedChanged(node);
                else
                    node->Collapse(false);
            }));
    connect(Folders, &QTreeView::collapsed, this, gui::Guarded([this](const QModelIndex& index) {
                if (TXTreeNode* node = Folders->NodeOf(index)) FoldersExpandedChanged(node);
            }));
    connect(CreateFolder, &QPushButton::clicked, this, gui::Guarded([this] { CreateFolderClick(); }));
    connect(Ok, &QPushButton::clicked, this, gui::Guarded([this] { OkClick(); }));
    connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

TSelectRemoteFolderForm::~TSelectRemoteFolderForm()
{
    Folders->SetImages(nullptr);
}

bool TSelectRemoteFolderForm::FoldersExpanding(TXTreeNode* node)
{
    return ExpandFolderNode(node, *RemoteComputer);
}

void TSelectRemoteFolderForm::FoldersExpandedChanged(TXTreeNode* node)
{
    FolderNodeExpandedChanged(node);
}

void TSelectRemoteFolderForm::CreateFolderClick()
{
    CreateFolderInTree(*Folders, *RemoteComputer);
}

void TSelectRemoteFolderForm::OkClick()
{
    GetSelectedFolder(*Folders);
    accept();
}

bool SelectRemoteFolder(IVelmoServerRemoteComputerPtr remoteComputer, const std::string& caption, std::string& folder)
{
    TSelectRemoteFolderForm form(std::move(remoteComputer));
    FillDriveNodes(*form.Folders, *form.RemoteComputer);
    SelectFolderPath(*form.Folders, *form.RemoteComputer, folder);
    form.TopLabel->setText(QString::fromStdString(caption));
    if (!gui::ShowModalOk(form)) return false;
    folder = GetSelectedFolder(*form.Folders);
    return true;
}
