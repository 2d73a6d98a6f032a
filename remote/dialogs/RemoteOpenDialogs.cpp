// The open-file dialog: its state and its form.
#include "remote/dialogs/RemoteOpenDialogs.h"

#include <algorithm>
#include <set>

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QStylePainter>
#include <QToolButton>
#include <QVBoxLayout>

#include "CoreLib/AUtils.h"
#include "CoreLib/controls/XComboBoxes.h"
#include "CoreLib/controls/XListView.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/HandlerGuard.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/TextUtils.h"
#include "remote/dialogs/RemoteComputerComps.h"

namespace {

// Texts of the dialog.
constexpr const char* kLookin = "Искать в:";
constexpr const char* kFileNameLabel = "Имя файла:";
constexpr const char* kFileTypesLabel = "Типы файлов:";
constexpr const char* kOpen = "Открыть";
constexpr const char* kCancel = "Отмена";
constexpr const char* kFileNotFound = "Ошибка выбора файла: Не найден файл \"%s\"";
constexpr const char* kAllMasks = "*.*";

constexpr char kDelim = '/';
constexpr int kIndentStep = 8;
constexpr int kLookinItemHeight = 18;
constexpr int kImageLeft = 4;
constexpr int kCaptionOffset = 18;

QString ToQ(const std::string& text)
{
    return QString::fromStdString(text);
}

QString ToQ(const char* text)
{
    return QString::fromUtf8(text);
}

std::string WithoutTrailingDelims(std::string path)
{
    while (path.size() > 1 && path.back() == kDelim) path.pop_back();
    return path;
}

int DriveImage(int type)
{
    switch (type) {
    case dtCDRom: return riCDRom;
    case dtFixed: return riFixedDrive;
    case dtRamDisk: return riRamDisk;
    case dtRemote: return riNetworkDrive;
    default: return -1;
    }
}

} // namespace

bool TFileListItem::IsFolder() const noexcept
{
    return ImageIndex == riFolderClosed;
}

// ---- TRemoteOpenDialog --------------------------------------------------------------------

TRemoteOpenDialog::TRemoteOpenDialog(IVelmoServerRemoteComputerPtr computer, std::string rootCaption,
                                     std::string rootFolder, const std::string& filter)
    : computer_(std::move(computer)), rootCaption_(std::move(rootCaption)), rootFolder_(std::move(rootFolder))
{
    // Pairs of display name and mask list; an odd last piece is dropped.
    if (!filter.empty()) {
        const std::vector<std::string> pieces = SplitAt(filter, '|');
        for (std::size_t i = 0; i + 1 < pieces.size(); i += 2) {
            fileTypes_.push_back(pieces[i]);
            masks_.push_back(pieces[i + 1]);
        }
    }
}

bool TRemoteOpenDialog::IsAbsolute(std::string_view path) noexcept
{
    return !path.empty() && path.front() == kDelim;
}

bool TRemoteOpenDialog::IsFolder(const std::string& path) const
{
    // A pattern names no folder, whatever it might match.
    if (path.empty() || HasWildcards(path)) return false;
    const rtl::Variant row = computer_->GetFileInfo(path, MakeFieldCodes({fiAttributes}));
    if (!row.IsArray()) return false;
    return (row.GetElement(row.ArrayLowBound()).AsInteger() & faDirectory) != 0;
}

void TRemoteOpenDialog::SplitExistingFolder(const std::string& path, std::string& folder, std::string& rest) const
{
    const std::string trimmed = WithoutTrailingDelims(rtl::Trim(path));
    folder = trimmed;
    rest.clear();
    while (!folder.empty() && !IsFolder(folder)) {
        if (folder == "/") {
            folder.clear();
            break;
        }
        const std::size_t at = folder.rfind(kDelim);
        const std::string component = rtl::ExtractFileName(folder);
        rest = rest.empty() ? component : component + kDelim + rest;
        folder = at == std::string::npos ? std::string() : at == 0 ? std::string("/") : folder.substr(0, at);
    }
    if (folder.empty())
        rest = trimmed;
    else
        folder = WithoutTrailingDelims(folder);
}

bool TRemoteOpenDialog::RelativeToRoot(const std::string& folder, std::string& relative) const
{
    const std::string root = WithoutTrailingDelims(rootFolder_);
    const std::string path = WithoutTrailingDelims(folder);
    if (root.empty() || path.empty()) return false;
    if (path == root) {
        relative.clear();
        return true;
    }
    const std::string prefix = root == "/" ? root : root + kDelim;
    if (path.compare(0, prefix.size(), prefix) != 0) return false;
    relative = path.substr(prefix.size());
    return true;
}

void TRemoteOpenDialog::Init(const std::string& fileName)
{
    const bool rooted = !rootFolder_.empty();
    const std::string path = rooted && !IsAbsolute(fileName) ? JoinPath({rootFolder_, fileName}) : fileName;
    std::string folder, rest;
    SplitExistingFolder(path, folder, rest);
    if (rooted) {
        std::string relative;
        if (RelativeToRoot(folder, relative)) {
            currentFolder_ = relative;
            fileName_ = rest;
        } else {
            // Outside the root (or the root is missing): the name as given.
            currentFolder_.clear();
            fileName_ = fileName;
        }
    } else {
        currentFolder_ = folder;
        fileName_ = rest;
    }
    fileTypeIndex_ = fileTypes_.empty() ? -1 : 0;
    Refresh();
}

std::string TRemoteOpenDialog::ListedFolder() const
{
    return rootFolder_.empty() ? currentFolder_ : JoinPath({rootFolder_, currentFolder_});
}

void TRemoteOpenDialog::SetFileTypeIndex(int index)
{
    fileTypeIndex_ = index >= 0 && index < static_cast<int>(masks_.size()) ? index : -1;
    Refresh();
}

std::vector<std::string> TRemoteOpenDialog::ListNames(const rtl::Variant& listing) const
{
    std::vector<std::string> names;
    for (int i = listing.ArrayLowBound(); i <= listing.ArrayHighBound(); ++i) {
        const rtl::Variant row = listing.GetElement(i);
        names.push_back(rtl::VarToStr(row.GetElement(row.ArrayLowBound())));
    }
    std::sort(names.begin(), names.end(), LessName);
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

void TRemoteOpenDialog::Refresh()
{
    items_.clear();
    const std::string folder = ListedFolder();
    // Above the drives nothing is listed: no path is resolved against the
    // working folder.
    if (!folder.empty()) {
        const rtl::Variant nameCode = MakeFieldCodes({fiName});
        for (std::string& name : ListNames(computer_->GetFolders(folder, nameCode)))
            items_.push_back({std::move(name), riFolderClosed});
        const std::string maskList = fileTypeIndex_ >= 0 ? masks_[static_cast<std::size_t>(fileTypeIndex_)] : kAllMasks;
        std::set<std::string> listed;
        for (const std::string& piece : SplitAt(maskList, ';')) {
            const std::string mask = rtl::Trim(piece);
            if (mask.empty()) continue;
            for (std::string& name : ListNames(computer_->GetFiles(JoinPath({folder, mask}), nameCode)))
                if (listed.insert(name).second) items_.push_back({std::move(name), riFile});
        }
    }
    RebuildLookin();
}

void TRemoteOpenDialog::RebuildLookin()
{
    lookinItems_.clear();
    lookinIndex_ = -1;
    if (!rootFolder_.empty()) {
        lookinItems_.push_back({TLookinItem::lkRoot, std::string(), rootCaption_,
                                currentFolder_.empty() ? riFolderOpen : riFolderClosed, 0});
        if (!currentFolder_.empty()) {
            const std::vector<std::string> parts = SplitAt(currentFolder_, kDelim);
            std::string path;
            for (std::size_t i = 0; i < parts.size(); ++i) {
                path = i == 0 ? parts[i] : path + kDelim + parts[i];
                const bool last = i + 1 == parts.size();
                lookinItems_.push_back({TLookinItem::lkFolder, path, parts[i], last ? riFolderOpen : riFolderClosed,
                                        static_cast<int>(i + 1) * kIndentStep});
            }
        }
        lookinIndex_ = static_cast<int>(lookinItems_.size()) - 1;
        return;
    }
    const rtl::Variant drives =
        computer_->GetDrives(kAllButRemovable, MakeFieldCodes({dfType, dfLetter, dfLabel, dfFileSystem}));
    for (int d = drives.ArrayLowBound(); d <= drives.ArrayHighBound(); ++d) {
        const rtl::Variant row = drives.GetElement(d);
        const int low = row.ArrayLowBound();
        const int type = row.GetElement(low).AsInteger();
        if (type == dtUnknown || type == dtNoRootDir) continue;
        const std::string drive = rtl::VarToStr(row.GetElement(low + 1));
        lookinItems_.push_back(
            {TLookinItem::lkDrive, drive,
             DriveNodeText(drive, rtl::VarToStr(row.GetElement(low + 2)), rtl::VarToStr(row.GetElement(low + 3))),
             DriveImage(type), 0});
        // The folders of CurrentFolder go right below its drive.
        if (drive.empty() || currentFolder_.compare(0, drive.size(), drive) != 0) continue;
        lookinIndex_ = static_cast<int>(lookinItems_.size()) - 1;
        std::vector<std::string> parts;
        for (std::string& part : SplitAt(std::string_view(currentFolder_).substr(drive.size()), kDelim))
            if (!part.empty()) parts.push_back(std::move(part));
        std::string path = drive;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            path = JoinPath({path, parts[i]});
            const bool last = i + 1 == parts.size();
            lookinItems_.push_back({TLookinItem::lkFolder, path, parts[i], last ? riFolderOpen : riFolderClosed,
                                    static_cast<int>(i + 1) * kIndentStep});
            if (last) lookinIndex_ = static_cast<int>(lookinItems_.size()) - 1;
        }
    }
}

void TRemoteOpenDialog::ChooseLookin(int index)
{
    if (index < 0 || index >= static_cast<int>(lookinItems_.size())) return;
    currentFolder_ = lookinItems_[static_cast<std::size_t>(index)].Path;
    Refresh();
}

void TRemoteOpenDialog::UpDir()
{
    if (currentFolder_.empty()) return;
    const std::size_t at = currentFolder_.rfind(kDelim);
    if (!rootFolder_.empty())
        currentFolder_ = at == std::string::npos ? std::string() : currentFolder_.substr(0, at);
    else if (currentFolder_ == "/" || at == std::string::npos)
        currentFolder_.clear();
    else
        currentFolder_ = at == 0 ? std::string("/") : currentFolder_.substr(0, at);
    Refresh();
}

void TRemoteOpenDialog::SelectItem(int index)
{
    if (index < 0 || index >= static_cast<int>(items_.size())) return;
    const TFileListItem& item = items_[static_cast<std::size_t>(index)];
    if (item.ImageIndex == riFile) fileName_ = item.Caption;
}

std::string TRemoteOpenDialog::FullName() const
{
    if (IsAbsolute(fileName_)) return fileName_;
    if (rootFolder_.empty()) return JoinPath({currentFolder_, fileName_});
    return JoinPath({rootFolder_, currentFolder_, fileName_});
}

bool TRemoteOpenDialog::Open(int selected)
{
    if (selected >= 0 && selected < static_cast<int>(items_.size()) &&
        items_[static_cast<std::size_t>(selected)].IsFolder()) {
        currentFolder_ = JoinPath({currentFolder_, items_[static_cast<std::size_t>(selected)].Caption});
        Refresh();
        return false;
    }
    const std::string name = FullName();
    const std::string last = rtl::ExtractFileName(name);
    // Only the exact name of an existing file is taken, never a pattern.
    const bool found = !last.empty() && !HasWildcards(last) &&
                       computer_->GetFiles(name, MakeFieldCodes({fiName})).ArrayHighBound() >= 0;
    if (!found) throw rtl::Exception(rtl::Format(kFileNotFound, name.c_str()));
    return true;
}

// ---- the form ------------------------------------------------------------------------------

namespace {

// Paints an entry of "Искать в:": its picture 4 pixels from the left plus
// its indent, 1 below the top, and its caption 18 pixels further.
void PaintLookinEntry(QPainter& p, const QRect& rect, const gui::ImageList& images, const TLookinItem& item,
                      bool indent, bool selected, bool focused, const QPalette& palette)
{
    const int x = rect.left() + kImageLeft + (indent ? item.Indent : 0);
    images.Draw(p, x, rect.top() + 1, item.ImageIndex);
    const QRect text(x + kCaptionOffset, rect.top(), std::max(rect.right() - x - kCaptionOffset, 0), rect.height());
    const QString caption = ToQ(item.Caption);
    const QRect used(text.left(), text.top(), std::min(text.width(), p.fontMetrics().horizontalAdvance(caption) + 4),
                     text.height());
    if (selected) p.fillRect(used, palette.color(QPalette::Highlight));
    p.setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    p.save();
    p.setClipRect(text.intersected(rect));
    p.drawText(used.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption);
    p.restore();
    if (focused) {
        p.setPen(QPen(palette.color(QPalette::Text), 1, Qt::DotLine));
        p.drawRect(used.adjusted(0, 0, -1, -1));
    }
}

class TLookinDelegate final : public QStyledItemDelegate {
public:
    TLookinDelegate(QObject* parent, const gui::ImageList& images, const TRemoteOpenDialog& dialog)
        : QStyledItemDelegate(parent), images_(images), dialog_(dialog)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const auto& items = dialog_.LookinItems();
        const int at = index.row();
        painter->save();
        painter->fillRect(option.rect, option.palette.color(QPalette::Base));
        if (at >= 0 && at < static_cast<int>(items.size()))
            PaintLookinEntry(*painter, option.rect, images_, items[static_cast<std::size_t>(at)], true,
                             option.state & QStyle::State_Selected, option.state & QStyle::State_HasFocus,
                             option.palette);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return {option.rect.width(), kLookinItemHeight};
    }

private:
    const gui::ImageList& images_;
    const TRemoteOpenDialog& dialog_;
};

// The combo box of "Искать в:": its own entry drawn without the indent.
class TLookinComboBox final : public TXComboBox {
public:
    TLookinComboBox(QWidget* parent, const gui::ImageList& images, const TRemoteOpenDialog& dialog)
        : TXComboBox(parent), images_(images), dialog_(dialog)
    {
        setItemDelegate(new TLookinDelegate(this, images, dialog));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        option.currentText.clear();
        option.currentIcon = QIcon();
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
        const auto& items = dialog_.LookinItems();
        const int at = currentIndex();
        if (at < 0 || at >= static_cast<int>(items.size())) return;
        PaintLookinEntry(painter, field, images_, items[static_cast<std::size_t>(at)], false, false, false, palette());
    }

private:
    const gui::ImageList& images_;
    const TRemoteOpenDialog& dialog_;
};

} // namespace

TRemoteOpenDialogsForm::TRemoteOpenDialogsForm(IVelmoServerRemoteComputerPtr computer, const std::string& rootCaption,
                                               const std::string& rootFolder, const std::string& title,
                                               const std::string& filter, QWidget* parent)
    : QDialog(parent), Images(MakeRemoteDialogImages()), dialog_(std::move(computer), rootCaption, rootFolder, filter)
{
    setWindowTitle(ToQ(title));
    LookinLabel = new QLabel(ToQ(kLookin), this);
    Lookin = new TLookinComboBox(this, Images, dialog_);
    ButtonsUpDir = new QToolButton(this);
    Files = new TXListView(this);
    FileNameLabel = new QLabel(ToQ(kFileNameLabel), this);
    FileName = new QLineEdit(this);
    FileTypesLabel = new QLabel(ToQ(kFileTypesLabel), this);
    FileTypes = new QComboBox(this);
    OpenBtn = new QPushButton(ToQ(kOpen), this);
    CancelBtn = new QPushButton(ToQ(kCancel), this);
    for (auto [widget, name] :
         std::initializer_list<std::pair<QWidget*, const char*>>{{LookinLabel, "LookinLabel"},
                                                                 {Lookin, "Lookin"},
                                                                 {ButtonsUpDir, "ButtonsUpDir"},
                                                                 {Files, "Files"},
                                                                 {FileNameLabel, "FileNameLabel"},
                                                                 {FileName, "FileName"},
                                                                 {FileTypesLabel, "FileTypesLabel"},
                                                                 {FileTypes, "FileTypes"},
                                                                 {OpenBtn, "OpenBtn"},
                                                                 {CancelBtn, "CancelBtn"}})
        widget->setObjectName(name);

    ButtonsUpDir->setIcon(Images.Icon(riUpFolder));
    ButtonsUpDir->setAutoRaise(true);
    Files->setViewMode(QListView::ListMode);
    Files->setFlow(QListView::TopToBottom);
    Files->setWrapping(true);
    Files->setResizeMode(QListView::Adjust);
    Files->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Files->setSelectionMode(QAbstractItemView::SingleSelection);
    QPalette palette = Files->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    Files->setPalette(palette);
    FileName->setReadOnly(true);
    LookinLabel->setBuddy(Lookin);
    FileNameLabel->setBuddy(FileName);
    FileTypesLabel->setBuddy(FileTypes);
    OpenBtn->setDefault(true);
    for (const std::string& type : dialog_.FileTypes()) FileTypes->addItem(ToQ(type));

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(LookinLabel);
    top->addWidget(Lookin, 1);
    top->addWidget(ButtonsUpDir);
    layout->addLayout(top);
    layout->addWidget(Files, 1);
    auto* bottom = new QGridLayout;
    bottom->addWidget(FileNameLabel, 0, 0);
    bottom->addWidget(FileName, 0, 1);
    bottom->addWidget(OpenBtn, 0, 2);
    bottom->addWidget(FileTypesLabel, 1, 0);
    bottom->addWidget(FileTypes, 1, 1);
    bottom->addWidget(CancelBtn, 1, 2);
    bottom->setColumnStretch(1, 1);
    layout->addLayout(bottom);
    resize(540, 380);
    gui::CenterOnMainForm(*this);

    connect(Lookin, qOverload<int>(&QComboBox::activated), this,
            gui::Guarded([this](int index) { LookinSelect(index); }));
    connect(ButtonsUpDir, &QToolButton::clicked, this, gui::Guarded([this] { ButtonsUpDirClick(); }));
    connect(FileTypes, qOverload<int>(&QComboBox::currentIndexChanged), this,
            gui::Guarded([this](int index) { FileTypesChange(index); }));
    connect(Files, &QListWidget::currentItemChanged, this,
            gui::Guarded([this](QListWidgetItem* item, QListWidgetItem*) { FilesSelect(item); }));
    connect(Files, &QListWidget::itemDoubleClicked, this, gui::Guarded([this] { OpenBtnClick(); }));
    connect(OpenBtn, &QPushButton::clicked, this, gui::Guarded([this] { OpenBtnClick(); }));
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    Files->installEventFilter(this);
    Files->setFocus();
}

TRemoteOpenDialogsForm::~TRemoteOpenDialogsForm()
{
    Files->removeEventFilter(this);
}

void TRemoteOpenDialogsForm::Init(const std::string& fileName)
{
    dialog_.Init(fileName);
    ShowState();
}

void TRemoteOpenDialogsForm::ShowState()
{
    const bool was = showing_;
    showing_ = true;
    Files->clear();
    for (const TFileListItem& item : dialog_.Items()) {
        auto* row = new QListWidgetItem(Images.Icon(item.ImageIndex), ToQ(item.Caption), Files);
        row->setData(Qt::UserRole, item.ImageIndex);
    }
    Lookin->clear();
    for (const TLookinItem& item : dialog_.LookinItems()) Lookin->addItem(ToQ(item.Caption));
    Lookin->setCurrentIndex(dialog_.LookinIndex());
    ButtonsUpDir->setEnabled(dialog_.UpDirEnabled());
    FileName->setText(ToQ(dialog_.FileName()));
    if (FileTypes->currentIndex() != dialog_.FileTypeIndex()) FileTypes->setCurrentIndex(dialog_.FileTypeIndex());
    showing_ = was;
}

void TRemoteOpenDialogsForm::LookinSelect(int index)
{
    dialog_.ChooseLookin(index);
    ShowState();
}

void TRemoteOpenDialogsForm::ButtonsUpDirClick()
{
    dialog_.UpDir();
    ShowState();
}

void TRemoteOpenDialogsForm::FileTypesChange(int index)
{
    if (showing_) return;
    dialog_.SetFileTypeIndex(index);
    ShowState();
}

void TRemoteOpenDialogsForm::FilesSelect(QListWidgetItem* item)
{
    if (showing_ || !item) return;
    dialog_.SelectItem(Files->row(item));
    FileName->setText(ToQ(dialog_.FileName()));
}

void TRemoteOpenDialogsForm::OpenBtnClick()
{
    QListWidgetItem* current = Files->currentItem();
    const int selected = current && current->isSelected() ? Files->row(current) : -1;
    if (dialog_.Open(selected)) {
        accept();
        return;
    }
    ShowState();
}

bool TRemoteOpenDialogsForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Files && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Backspace) {
        gui::Guard([this] { ButtonsUpDirClick(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool RemoteOpenFile(IVelmoServerRemoteComputerPtr computer, const std::string& rootCaption,
                    const std::string& rootFolder, const std::string& title, const std::string& filter,
                    std::string& fileName)
{
    TRemoteOpenDialogsForm form(std::move(computer), rootCaption, rootFolder, title, filter);
    form.Init(fileName);
    if (!gui::ShowModalOk(form)) return false;
    fileName = form.Dialog().FullName();
    return true;
}
