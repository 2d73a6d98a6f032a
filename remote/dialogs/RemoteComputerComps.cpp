// The folder tree routines and the dialogs' pictures.
#include "remote/dialogs/RemoteComputerComps.h"

#include <algorithm>

#include <QPainter>
#include <QPainterPath>

#include "CoreLib/AUtils.h"
#include "platform/gui/Progress.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"
#include "remote/dialogs/CreateFolderForms.h"

const char* const kChooseFolderHint =
    "Подсказка: Перед тем, как нажать кнопку \"Далее\", выделите папку, в которой размещена база данных.";

namespace {

constexpr const char* kImagesResource = "REMOTE_DIALOGS_IMAGES";
const QColor kImagesMask(0x80, 0x00, 0x80);
constexpr int kImageCount = 12;
constexpr const char* kDriveText = "%s - %s (%s)";
constexpr const char* kPlaceholderText = "*";
constexpr char kDelim = '/';

// The placeholder is known by this tag, not by its text: a folder may be
// called "*" on Linux.
char placeholderTag;

// ---- drawn pictures ----------------------------------------------------------------------

QPixmap Blank()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void DrawDrive(QPainter& p, QColor body)
{
    p.setPen(QColor(64, 64, 64));
    p.setBrush(body);
    p.drawRect(1, 5, 13, 7);
    p.setPen(QColor(160, 160, 160));
    p.drawLine(2, 6, 13, 6);
    p.fillRect(11, 9, 2, 2, QColor(0, 192, 0));
}

QPixmap FixedDrive()
{
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    DrawDrive(p, QColor(208, 208, 208));
    return pixmap;
}

QPixmap CDRom()
{
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(96, 96, 96));
    p.setBrush(QColor(200, 220, 240));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(6, 6, 4, 4));
    return pixmap;
}

QPixmap RamDisk()
{
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    p.setPen(QColor(0, 80, 0));
    p.setBrush(QColor(0, 150, 60));
    p.drawRect(1, 4, 13, 7);
    p.setPen(QColor(200, 170, 0));
    for (int x = 2; x <= 13; x += 2) p.drawLine(x, 12, x, 13);
    p.fillRect(3, 6, 3, 3, QColor(30, 30, 30));
    p.fillRect(8, 6, 3, 3, QColor(30, 30, 30));
    return pixmap;
}

QPixmap NetworkDrive()
{
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    DrawDrive(p, QColor(208, 208, 208));
    p.setPen(QColor(0, 0, 160));
    p.drawLine(7, 12, 7, 14);
    p.drawLine(2, 14, 13, 14);
    return pixmap;
}

QPixmap Folder(bool open)
{
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    p.setPen(QColor(128, 96, 0));
    p.setBrush(QColor(240, 200, 80));
    p.drawRect(1, 3, 5, 2);
    p.drawRect(1, 4, 13, 9);
    if (open) {
        const QPoint front[] = {QPoint(3, 7), QPoint(15, 7), QPoint(13, 13), QPoint(1, 13)};
        p.setBrush(QColor(255, 224, 128));
        p.drawPolygon(front, 4);
    }
    return pixmap;
}

QPixmap File()
{
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    p.setPen(QColor(64, 64, 64));
    p.setBrush(Qt::white);
    const QPoint page[] = {QPoint(3, 1), QPoint(10, 1), QPoint(13, 4), QPoint(13, 14), QPoint(3, 14)};
    p.drawPolygon(page, 5);
    p.drawLine(10, 1, 10, 4);
    p.drawLine(10, 4, 13, 4);
    p.setPen(QColor(150, 150, 200));
    for (int y = 6; y <= 12; y += 2) p.drawLine(5, y, 11, y);
    return pixmap;
}

QPixmap UpFolder()
{
    QPixmap pixmap = Folder(false);
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(0, 96, 0), 2));
    p.drawLine(8, 12, 8, 6);
    p.drawLine(5, 8, 8, 5);
    p.drawLine(11, 8, 8, 5);
    return pixmap;
}

// Adds a child per subfolder under node, with the placeholder where the
// subfolder has subfolders of its own.
void AddFolderNodes(TXTreeNode* node, const std::vector<TSubfolder>& folders)
{
    TXTreeNodes& items = node->TreeView()->Items();
    for (const TSubfolder& f : folders) {
        TXTreeNode* child = items.AddChild(node, f.Name);
        child->SetImageIndex(riFolderClosed);
        child->SetSelectedIndex(riFolderClosed);
        if (f.Flags & 2) items.AddChildObject(child, kPlaceholderText, &placeholderTag);
    }
}


} // namespace

gui::ImageList MakeRemoteDialogImages()
{
    gui::ImageList images(16, 16);
    const QImage strip = gui::LoadBitmapResource(kImagesResource);
    if (!strip.isNull() && images.AddStripMasked(strip, kImagesMask) >= 0 && images.Count() >= kImageCount)
        return images;
    images.Clear();
    for (int i = 0; i < kImageCount; ++i) {
        switch (i) {
        case riCDRom: images.Add(CDRom()); break;
        case riFixedDrive: images.Add(FixedDrive()); break;
        case riRamDisk: images.Add(RamDisk()); break;
        case riNetworkDrive: images.Add(NetworkDrive()); break;
        case riFolderClosed: images.Add(Folder(false)); break;
        case riFolderOpen: images.Add(Folder(true)); break;
        case riFile: images.Add(File()); break;
        case riUpFolder: images.Add(UpFolder()); break;
        default: images.Add(Blank()); break;
        }
    }
    return images;
}

rtl::Variant MakeFieldCodes(std::initializer_list<int> codes)
{
    rtl::Variant fields = rtl::VarArrayCreate(0, static_cast<int>(codes.size()) - 1, rtl::varInteger);
    int i = 0;
    for (const int code : codes) fields.PutElement(i++, rtl::Variant(std::int32_t{code}));
    return fields;
}

std::vector<TSubfolder> GetSubfolders(IVelmoServerRemoteComputer& computer, const std::string& path)
{
    const rtl::Variant listing = computer.GetFolders(path, MakeFieldCodes({ffName, ffContents}));
    std::vector<TSubfolder> folders;
    for (int i = listing.ArrayLowBound(); i <= listing.ArrayHighBound(); ++i) {
        const rtl::Variant row = listing.GetElement(i);
        const int low = row.ArrayLowBound();
        folders.push_back({rtl::VarToStr(row.GetElement(low)), row.GetElement(low + 1).AsInteger()});
    }
    std::sort(folders.begin(), folders.end(),
              [](const TSubfolder& a, const TSubfolder& b) { return LessName(a.Name, b.Name); });
    folders.erase(std::unique(folders.begin(), folders.end(),
                              [](const TSubfolder& a, const TSubfolder& b) { return a.Name == b.Name; }),
                  folders.end());
    return folders;
}

std::string DriveNodeText(const std::string& letter, const std::string& label, const std::string& fileSystem)
{
    return rtl::Format(kDriveText, letter.c_str(), label.c_str(), fileSystem.c_str());
}

bool IsPlaceholder(const TXTreeNode* node) noexcept
{
    return node && node->Data() == &placeholderTag;
}

std::string NodePath(const TXTreeNode* node)
{
    if (!node) return {};
    if (!node->Parent()) return node->Text().substr(0, 1);
    return JoinPath({NodePath(node->Parent()), node->Text()});
}

void FillDriveNodes(TXCustomTreeView& tree, IVelmoServerRemoteComputer& computer)
{
    const rtl::Variant drives =
        computer.GetDrives(kFixedDrives, MakeFieldCodes({dfType, dfLetter, dfLabel, dfFileSystem}));
    TXTreeNodes& items = tree.Items();
    for (int i = drives.ArrayLowBound(); i <= drives.ArrayHighBound(); ++i) {
        const rtl::Variant row = drives.GetElement(i);
        const int low = row.ArrayLowBound();
        TXTreeNode* node = items.AddChild(nullptr, DriveNodeText(rtl::VarToStr(row.GetElement(low + 1)),
                                                                 rtl::VarToStr(row.GetElement(low + 2)),
                                                                 rtl::VarToStr(row.GetElement(low + 3))));
        node->SetImageIndex(riFixedDrive);
        node->SetSelectedIndex(riFixedDrive);
        items.AddChildObject(node, kPlaceholderText, &placeholderTag);
    }
}

bool ExpandFolderNode(TXTreeNode* node, IVelmoServerRemoteComputer& computer)
{
    if (!node || node->Count() != 1 || !IsPlaceholder(node->GetFirstChild())) return true;
    const gui::ScopedCursor hourglass;
    const std::vector<TSubfolder> folders = GetSubfolders(computer, NodePath(node));
    if (folders.empty()) return false;
    TXTreeNode* placeholder = node->GetFirstChild();
    AddFolderNodes(node, folders);
    placeholder->Delete();
    return true;
}

void FolderNodeExpandedChanged(TXTreeNode* node)
{
    if (!node || !node->Parent()) return;
    const int image = node->Expanded() ? riFolderOpen : riFolderClosed;
    if (node->ImageIndex() == image) return;
    node->SetImageIndex(image);
    node->SetSelectedIndex(image);
}

bool ExpandNode(TXTreeNode* node, IVelmoServerRemoteComputer& computer)
{
    if (!node || !ExpandFolderNode(node, computer)) return false;
    // A node without children has nothing to show and stays as it is.
    if (!node->HasChildren()) return true;
    node->Expand(false);
    FolderNodeExpandedChanged(node);
    return true;
}

void SelectFolderPath(TXCustomTreeView& tree, IVelmoServerRemoteComputer& computer, const std::string& folder)
{
    const std::string path = rtl::Trim(folder);
    if (path.empty() || path.front() != kDelim) return;
    TXTreeNodes& items = tree.Items();
    for (int i = 0; i < items.TopLevelCount(); ++i) {
        TXTreeNode* node = items.TopLevelItem(i);
        if (node->Text().empty() || node->Text().front() != path.front()) continue;
        const TTreeUpdateScope update(items);
        ExpandNode(node, computer);
        tree.SetSelected(node);
        const std::string rest = path.substr(1);
        if (rest.empty()) return;
        for (const std::string& component : SplitAt(rest, kDelim)) {
            TXTreeNode* next = nullptr;
            for (TXTreeNode* child = node->GetFirstChild(); child; child = child->GetNextSibling())
                if (!IsPlaceholder(child) && child->Text() == component) {
                    next = child;
                    break;
                }
            if (!next) break;
            node = next;
            ExpandNode(node, computer);
            tree.SetSelected(node);
        }
        node->MakeVisible();
        return;
    }
}

void CreateFolderBelow(TXTreeNode* node, IVelmoServerRemoteComputer& computer, const std::string& name)
{
    const std::string path = NodePath(node);
    computer.ForceFolder(JoinPath({path, name}));
    const std::vector<TSubfolder> folders = GetSubfolders(computer, path);
    if (folders.empty()) return;
    node->DeleteChildren();
    AddFolderNodes(node, folders);
}

void CreateFolderInTree(TXCustomTreeView& tree, IVelmoServerRemoteComputer& computer)
{
    TXTreeNode* node = tree.Selected();
    if (!node) return;
    std::string name;
    if (!AskFolderName(name)) return;
    CreateFolderBelow(node, computer, name);
}

std::string GetSelectedFolder(const TXCustomTreeView& tree)
{
    const TXTreeNode* node = tree.Selected();
    if (!node) throw rtl::Exception(kChooseFolderHint);
    return NodePath(node);
}

std::vector<std::string> SplitAt(std::string_view text, char delim)
{
    const std::vector<std::string_view> parts = rtl::SplitAll(text, delim);
    return {parts.begin(), parts.end()};
}

bool LessName(const std::string& a, const std::string& b)
{
    const int c = rtl::CompareText(a, b);
    return c != 0 ? c < 0 : a < b;
}
