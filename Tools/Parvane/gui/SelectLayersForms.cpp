// The selection dialog of system objects and the tree it shows.
#include "Tools/Parvane/gui/SelectLayersForms.h"

#include <set>
#include <unordered_map>

#include <QAction>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "CoreLib/controls/SelectInTreeView.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/HandlerGuard.h"
#include "platform/gui/MessageBoxes.h"

namespace {

const char* const kOk = "Ok";
const char* const kCancel = "Отмена";
const char* const kFind = "Найти ...";
const char* const kIDPrefix = "ID: ";
const char* const kNothingChecked = "Ошибка: Не выбран ни один объект";
const char* const kSystemObjectsCaption = "Выберите системные объекты Велмо";
const char* const kLayersCaption = "Выберите слои Велмо";

constexpr int kClientWidth = 520;
constexpr int kClientHeight = 437;
constexpr int kPictureSize = 16;
constexpr int kRootPicture = 0;

// ---- the pictures ----------------------------------------------------------------

using TPainterFn = void (*)(QPainter&);

void PaintDatabase(QPainter& p)
{
    const QColor body(96, 128, 176);
    p.setPen(QColor(40, 60, 100));
    p.setBrush(body);
    p.drawRect(QRectF(2.5, 4, 11, 8));
    p.drawEllipse(QRectF(2.5, 9.5, 11, 5));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(3, 4, 10, 8.5));
    p.setPen(QColor(40, 60, 100));
    p.setBrush(QColor(170, 196, 232));
    p.drawEllipse(QRectF(2.5, 1.5, 11, 5));
}

void PaintArea(QPainter& p)
{
    p.setPen(QPen(QColor(20, 100, 30), 1));
    p.setBrush(QColor(90, 180, 80));
    const QPolygonF shape({{2, 5}, {6, 1.5}, {11, 3}, {14.5, 7}, {12, 13.5}, {6, 14.5}, {1.5, 10}});
    p.drawPolygon(shape);
    p.setPen(QPen(QColor(30, 90, 200), 1.2));
    p.drawLine(QPointF(4, 11), QPointF(11, 6));
}

void PaintRefBook(QPainter& p)
{
    p.setPen(QColor(90, 45, 10));
    p.setBrush(QColor(160, 82, 30));
    p.drawRect(QRectF(3.5, 1.5, 9, 13));
    p.setBrush(QColor(250, 245, 225));
    p.drawRect(QRectF(11.5, 2.5, 2, 11));
    p.setPen(QColor(250, 220, 120));
    p.drawLine(QPointF(5.5, 5.5), QPointF(9.5, 5.5));
    p.drawLine(QPointF(5.5, 7.5), QPointF(9.5, 7.5));
}

void PaintProject(QPainter& p)
{
    p.setPen(QColor(150, 110, 0));
    p.setBrush(QColor(240, 200, 60));
    p.drawPolygon(QPolygonF({{1.5, 3.5}, {6, 3.5}, {7.5, 5}, {14.5, 5}, {14.5, 13.5}, {1.5, 13.5}}));
    p.setBrush(QColor(255, 225, 110));
    p.drawRect(QRectF(1.5, 6.5, 13, 7));
}

void PaintRasterMap(QPainter& p)
{
    p.setPen(QColor(70, 70, 70));
    p.setBrush(QColor(150, 205, 245));
    p.drawRect(QRectF(1.5, 2.5, 13, 11));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 210, 40));
    p.drawEllipse(QRectF(9.5, 4, 3.5, 3.5));
    p.setBrush(QColor(120, 90, 50));
    p.drawPolygon(QPolygonF({{2, 13}, {6, 6.5}, {9, 10.5}, {11, 8.5}, {14, 13}}));
}

void PaintVectorMap(QPainter& p)
{
    p.setPen(QColor(70, 70, 70));
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(QRectF(1.5, 2.5, 13, 11));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(220, 40, 40), 1.3));
    p.drawPolyline(QPolygonF({{3, 11}, {6, 6}, {9, 9}, {13, 4}}));
    p.setPen(QPen(QColor(30, 80, 220), 1.3));
    p.drawPolyline(QPolygonF({{3, 5}, {7, 12}, {13, 11}}));
}

void PaintLayer(QPainter& p)
{
    const QColor fills[] = {QColor(40, 80, 170), QColor(80, 130, 210), QColor(150, 190, 245)};
    for (int i = 0; i < 3; ++i) {
        const double y = 10.0 - 3.5 * i;
        p.setPen(QColor(20, 40, 110));
        p.setBrush(fills[i]);
        p.drawPolygon(QPolygonF({{1.5, y}, {8, y - 3}, {14.5, y}, {8, y + 3}}));
    }
}

void PaintStyle(QPainter& p)
{
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(235, 225, 200));
    p.drawEllipse(QRectF(1.5, 2.5, 13, 11));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 30, 30));
    p.drawEllipse(QRectF(3.5, 5, 3, 3));
    p.setBrush(QColor(30, 160, 40));
    p.drawEllipse(QRectF(7, 3.8, 3, 3));
    p.setBrush(QColor(30, 70, 220));
    p.drawEllipse(QRectF(10, 6.5, 3, 3));
    p.setBrush(QColor(250, 250, 250));
    p.drawEllipse(QRectF(5.5, 9, 3, 3));
}

void PaintSemTable(QPainter& p)
{
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(QRectF(1.5, 2.5, 13, 11));
    p.setBrush(QColor(60, 150, 150));
    p.drawRect(QRectF(1.5, 2.5, 13, 3));
    for (const double y : {8.5, 11.0}) p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
    for (const double x : {6.0, 10.5}) p.drawLine(QPointF(x, 2.5), QPointF(x, 13.5));
}

void PaintRelation(QPainter& p)
{
    p.setPen(QPen(QColor(120, 60, 0), 1.5));
    p.drawLine(QPointF(4.5, 11.5), QPointF(11.5, 4.5));
    p.setPen(QColor(120, 60, 0));
    p.setBrush(QColor(245, 140, 30));
    p.drawEllipse(QRectF(1.5, 8.5, 6, 6));
    p.setBrush(QColor(250, 200, 60));
    p.drawEllipse(QRectF(8.5, 1.5, 6, 6));
}

// Index 0 is the root; index Kind + 1 each kind.
constexpr TPainterFn kPainters[] = {PaintDatabase, PaintArea,   PaintRefBook, PaintProject,  PaintRasterMap,
                                    PaintVectorMap, PaintLayer, PaintStyle,   PaintSemTable, PaintRelation};

QPixmap Picture(TPainterFn paint)
{
    QPixmap picture(kPictureSize, kPictureSize);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, true);
    paint(painter);
    return picture;
}

} // namespace

// ---- the tree, without a display --------------------------------------------------------

void LoadObjectImages(gui::ImageList& images)
{
    images.Clear();
    for (const TPainterFn paint : kPainters) images.Add(Picture(paint));
}

TVelmoSysObject* NodeObject(const TXTreeNode* node) noexcept
{
    return node ? static_cast<TVelmoSysObject*>(node->Data()) : nullptr;
}

void FillObjectTree(TXCustomTreeView& tree, const TVelmoSysObjectList& list)
{
    TXTreeNodes& items = tree.Items();
    const TTreeUpdateScope update(items);
    items.Clear();
    TXTreeNode* root = items.AddChild(nullptr, kObjectTreeRoot);
    root->SetImageIndex(kRootPicture);
    root->SetSelectedIndex(kRootPicture);
    // An empty identifier names no node, so objects without a parent always
    // hang under the root.
    std::unordered_map<std::string, TXTreeNode*> nodes;
    for (int i = 0; i < list.Count(); ++i) {
        TVelmoSysObject* obj = list.GetItem(i);
        if (!obj) continue;
        TXTreeNode* parent = root;
        if (!obj->ParentID.empty())
            if (const auto found = nodes.find(obj->ParentID); found != nodes.end()) parent = found->second;
        TXTreeNode* node = items.AddChildObject(parent, obj->Name, obj);
        node->SetImageIndex(obj->Kind + 1);
        node->SetSelectedIndex(obj->Kind + 1);
        // The first object of an identifier keeps it, as lookups find the first.
        if (!obj->ID.empty()) nodes.emplace(obj->ID, node);
    }
    if (list.Count() > 0) root->SetCheckState(csUnchecked);
}

void RemoveUncheckedObjects(const TXCustomTreeView& tree, TVelmoSysObjectList& list)
{
    // Collected first: removing an object may free it while nodes still point to it.
    std::set<const TVelmoSysObject*> unchecked;
    for (const TXTreeNode* node = tree.Items().GetFirstNode(); node; node = node->GetNext())
        if (const TVelmoSysObject* obj = NodeObject(node); obj && node->GetCheckState() != csChecked)
            unchecked.insert(obj);
    for (int i = list.Count() - 1; i >= 0; --i)
        if (unchecked.contains(list.GetItem(i))) list.Delete(i);
}

// ---- the form -----------------------------------------------------------------------------

TSelectLayersForm::TSelectLayersForm(QWidget* parent)
    : QDialog(parent), XTreeView(new TXTreeView(this)), btnOk(new QPushButton(QString::fromUtf8(kOk), this)),
      btnCancel(new QPushButton(QString::fromUtf8(kCancel), this)), StatusBar(new QStatusBar(this)),
      PopupMenu(new QMenu(this)), mnuFind(new QAction(QString::fromUtf8(kFind), this)),
      ImageList(kPictureSize, kPictureSize)
{
    XTreeView->setObjectName("XTreeView");
    btnOk->setObjectName("btnOk");
    btnCancel->setObjectName("btnCancel");
    StatusBar->setObjectName("StatusBar");
    PopupMenu->setObjectName("PopupMenu");
    mnuFind->setObjectName("mnuFind");

    LoadObjectImages(ImageList);
    XTreeView->SetImages(&ImageList);
    XTreeView->SetCheckboxes(cbmHierarchical);
    XTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tips show a node's whole text.
    XTreeView->OnInfoTip = [](TXCustomTreeView*, TXTreeNode*, std::string&) {};
    XTreeView->OnChange = [this](TXCustomTreeView*, TXTreeNode* node) { XTreeViewChange(node); };

    // The shortcut belongs to the dialog, so Ctrl+F works wherever the focus is.
    mnuFind->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    PopupMenu->addAction(mnuFind);
    addAction(mnuFind);
    XTreeView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(XTreeView, &QWidget::customContextMenuRequested, this, gui::Guarded([this](const QPoint& at) {
                PopupMenu->popup(XTreeView->viewport()->mapToGlobal(at));
            }));
    connect(mnuFind, &QAction::triggered, this, gui::Guarded([this] { mnuFindClick(); }));

    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, gui::Guarded([this] { btnOkClick(); }));
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(6, 6, 6, 6);
    body->setSpacing(6);
    body->addWidget(XTreeView, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    body->addLayout(buttons);
    layout->addLayout(body, 1);
    layout->addWidget(StatusBar);

    resize(kClientWidth, kClientHeight);
    gui::CenterOnMainForm(*this);
    XTreeView->setFocus();
}

TSelectLayersForm::~TSelectLayersForm()
{
    // The tree outlives the members: it must not keep the image list.
    XTreeView->OnChange = nullptr;
    XTreeView->SetImages(nullptr);
}

void TSelectLayersForm::mnuFindClick()
{
    SearchInTreeView(XTreeView, &ImageList, nullptr);
}

void TSelectLayersForm::XTreeViewChange(TXTreeNode* node)
{
    if (const TVelmoSysObject* obj = NodeObject(node))
        StatusBar->showMessage(QString::fromUtf8(kIDPrefix) + QString::fromStdString(obj->ID));
    else
        StatusBar->clearMessage();
}

void TSelectLayersForm::btnOkClick()
{
    const TXTreeNode* root = XTreeView->Items().GetFirstNode();
    if (!root || root->GetCheckState() == csUnchecked) {
        gui::ShowInformation(kNothingChecked);
        return;
    }
    accept();
}

// ---- the dialog functions -------------------------------------------------------------------

bool SelectVelmoObjects(IUdb& db, const std::string& caption, TVelmoSysObjectList& list,
                        const std::vector<TSysObjectKind>& kinds)
{
    // Owned by the application: no parent window.
    TSelectLayersForm form;
    form.setWindowTitle(QString::fromStdString(caption));
    list.LoadKinds(db, kinds);
    form.FillObjectTree(list);
    if (TXTreeNode* root = form.XTreeView->Items().GetFirstNode(); root && root->HasChildren()) {
        root->SetCheckState(csUnchecked);
        root->Expand(false);
    }
    if (!gui::ShowModalOk(form)) {
        list.Clear();
        return false;
    }
    RemoveUncheckedObjects(*form.XTreeView, list);
    return list.Count() > 0;
}

bool SelectSystemObjects(IUdb& db, TVelmoSysObjectList& list)
{
    return SelectVelmoObjects(db, kSystemObjectsCaption, list, SystemObjectKinds());
}

bool SelectLayersDialog(IUdb& db, TVelmoSysObjectList& list)
{
    return SelectVelmoObjects(db, kLayersCaption, list, LayerKinds());
}
