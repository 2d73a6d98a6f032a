// The open-database dialog and the version check.
#include "gismodel/forms/VelmoDbParams.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "UdbProject/UdbManagers.h"
#include "gismodel/VelmoTables.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/HandlerGuard.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace {

constexpr const char* kVersion = "VERSION";

QString Q(const char* text) { return QString::fromUtf8(text); }

// Closes a database this dialog opened and drops it; a failing close is
// dropped so the error that led here passes on.
void Release(rtl::RefPtr<IUdb>& db) noexcept
{
    if (!db) return;
    try {
        db->Close();
    } catch (...) {
    }
    db = nullptr;
}

} // namespace

std::int32_t GetDbVersion(IUdb& db) noexcept
{
    try {
        const rtl::RefPtr<IUdbCursor> cursor = PrepareSelect(db, VelmoTable::DbInfo, {}, {}, true)->Execute(nullptr, 0);
        if (!cursor || cursor->Eof()) return 0;
        return cursor->AsInteger(rtl::Variant(std::string(kVersion)), 0) & ~DbVersionFlag;
    } catch (...) {
        return -1;
    }
}

TOpenVelmoDbForm::TOpenVelmoDbForm(rtl::RefPtr<IUdbManager> manager, QWidget* parent)
    : QDialog(parent),
      GroupBox1(new QGroupBox(Q(OpenDbText::SpatialBox), this)),
      SpacialParams(new TDBParamsFrame(GroupBox1)),
      GroupBox2(new QGroupBox(Q(OpenDbText::SemanticBox), this)),
      SemParams(new TDBParamsFrame(GroupBox2)),
      AssignSpatialDriver(new QPushButton("<", this)),
      AssignSemDriver(new QPushButton(">", this)),
      btnOk(new QPushButton(Q(OpenDbText::Open), this)),
      btnCancel(new QPushButton(Q(OpenDbText::Cancel), this)),
      FManager(manager ? std::move(manager) : GetDbManager())
{
    setWindowTitle(Q(OpenDbText::Caption));
    GroupBox1->setObjectName("GroupBox1");
    SpacialParams->setObjectName("SpacialParams");
    GroupBox2->setObjectName("GroupBox2");
    SemParams->setObjectName("SemParams");
    AssignSpatialDriver->setObjectName("AssignSpatialDriver");
    AssignSemDriver->setObjectName("AssignSemDriver");
    btnOk->setObjectName("btnOk");
    btnCancel->setObjectName("btnCancel");

    for (QGroupBox* box : {GroupBox1, GroupBox2}) {
        auto* inner = new QVBoxLayout(box);
        inner->addWidget(box == GroupBox1 ? SpacialParams : SemParams);
    }
    for (QPushButton* button : {AssignSpatialDriver, AssignSemDriver}) {
        button->setFixedWidth(28);
        button->setAutoDefault(false);
    }
    btnOk->setDefault(true);
    btnCancel->setAutoDefault(false);

    auto* assign = new QVBoxLayout;
    assign->addStretch(1);
    assign->addWidget(AssignSpatialDriver);
    assign->addWidget(AssignSemDriver);
    assign->addStretch(1);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(GroupBox1, 1);
    boxes->addLayout(assign);
    boxes->addWidget(GroupBox2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(boxes, 1);
    layout->addLayout(buttons);
    // A fixed dialog border.
    setFixedSize(720, 260);
    gui::CenterOnMainForm(*this);

    connect(AssignSpatialDriver, &QPushButton::clicked, this, gui::Guarded([this] { AssignSpatialDriverClick(); }));
    connect(AssignSemDriver, &QPushButton::clicked, this, gui::Guarded([this] { AssignSemDriverClick(); }));
    connect(btnOk, &QPushButton::clicked, this, gui::Guarded([this] { btnOkClick(); }));
    // Esc rejects the dialog, as Cancel does.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    SpacialParams->Init(FManager, nullptr, dpmEditAll);
    SemParams->Init(FManager, nullptr, dpmEditAll);
}

TOpenVelmoDbForm::~TOpenVelmoDbForm() = default;

void TOpenVelmoDbForm::AssignSpatialDriverClick() { SpacialParams->SetParams(SemParams->GetParams()); }

void TOpenVelmoDbForm::AssignSemDriverClick() { SemParams->SetParams(SpacialParams->GetParams()); }

void TOpenVelmoDbForm::CheckVersion(IUdb& spatial) const
{
    const std::int32_t version = GetDbVersion(spatial);
    if (version == -1) throw rtl::Exception(rtl::Format(OpenDbText::TableNotFound, VelmoTable::DbInfo));
    if (version < FRequiredVersion) throw rtl::Exception(OpenDbText::OlderVersion);
    if (version > FRequiredVersion) throw rtl::Exception(OpenDbText::NewerVersion);
}

void TOpenVelmoDbForm::btnOkClick()
{
    // A new attempt starts from nothing: an earlier one left nothing behind.
    rtl::RefPtr<IUdb> spatial;
    rtl::RefPtr<IUdb> semantic;
    try {
        spatial = FManager->CreateDatabase(SpacialParams->GetParams(), true);
        semantic = FManager->CreateDatabase(SemParams->GetParams(), true);
        CheckVersion(*spatial);
    } catch (...) {
        Release(semantic);
        Release(spatial);
        throw;
    }
    FSpatialDb = std::move(spatial);
    FSemDb = std::move(semantic);
    accept();
}

bool ShowOpenDbDialog(rtl::RefPtr<IUdb>& spatial, rtl::RefPtr<IUdb>& semantic, std::int32_t requiredVersion,
                      rtl::RefPtr<IUdbManager> manager)
{
    TOpenVelmoDbForm form(std::move(manager));
    form.Manager()->Refresh();
    // Reopening starts from the open pair (a closed database has no document).
    const auto show = [](TDBParamsFrame& frame, const rtl::RefPtr<IUdb>& db) {
        if (!db) return;
        const rtl::RefPtr<ISimpleParams> params = db->GetParams();
        const std::string xml = params ? params->GetXml() : std::string();
        if (!xml.empty()) frame.SetParams(xml);
    };
    show(*form.SpacialParams, spatial);
    show(*form.SemParams, semantic);
    form.SetRequiredVersion(requiredVersion);
    if (!gui::ShowModalOk(form)) return false;
    spatial = form.SpatialDb();
    semantic = form.SemDb();
    return true;
}
