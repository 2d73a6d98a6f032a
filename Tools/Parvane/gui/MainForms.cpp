// The main window of the identifier changer.
#include "Tools/Parvane/gui/MainForms.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "CoreLib/controls/ControlGroupItems.h"
#include "CoreLib/controls/HTMLReports.h"
#include "Tools/Parvane/gui/SelectLayersForms.h"
#include "gismodel/forms/VelmoDbParams.h"
#include "platform/gui/HandlerGuard.h"
#include "platform/gui/MessageBoxes.h"
#include "platform/gui/Progress.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace {

constexpr const char* kDatabase = "База данных:";
constexpr const char* kOpen = "Открыть";
constexpr const char* kOptions = "Опции";
constexpr const char* kMode = "Режим работы:";
constexpr const char* kModes[] = {
    "Смена генератора базы",
    "Изменение идентификаторов системных объектов",
    "Изменение идентификаторов пространственных объектов",
    "Смена всех идентификаторов",
};
constexpr const char* kChangeDBID = "Изменить идентификатор базы данных";
constexpr const char* kOnlyCurrentIDs = "Изменять идентификаторы только активного пространства идентификаторов";
constexpr const char* kSaveLog = "Сохранять лог";
constexpr const char* kChange = "Изменить";
constexpr const char* kCancel = "Отмена";

QString Q(const std::string& text) { return QString::fromStdString(text); }

} // namespace

// ---- creation and destruction -----------------------------------------------------------

TMainForm::TMainForm(std::string logPath, QWidget* parent) : QMainWindow(parent), FEngine(*this)
{
    setWindowTitle(MainFormText::Title);
    CreateControls();

    for (QWidget* w : std::initializer_list<QWidget*>{btnOpen, ChangeType, chkChangeDBID, ChangeIDOnlyCurrentIDs,
                                                      btnChange, SaveLog, ProgressBar, btnCancel})
        groupItems_.push_back(std::make_unique<TWidgetGroupItem>(w));
    FMainControls.AddControls({groupItems_[0].get(), groupItems_[1].get(), groupItems_[2].get(),
                               groupItems_[3].get(), groupItems_[4].get(), groupItems_[5].get()});
    FProgressControls.AddControls({groupItems_[6].get(), groupItems_[7].get()});

    // The window comes up whatever happens to the log; its failure is shown
    // once the window can own the box.
    if (!FLog.Open(logPath))
        QTimer::singleShot(0, this, gui::Guarded([this] { ReportLogFailure(); }));

    UpdateControls();

    // Centred on the screen.
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

TMainForm::~TMainForm()
{
    CloseDatabases();
    FLog.Close();
}

void TMainForm::CreateControls()
{
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* layout = new QVBoxLayout(central);

    auto* dbRow = new QHBoxLayout;
    Label1 = new QLabel(kDatabase, central);
    DBCaption = new QLineEdit(MainFormText::NotOpen, central);
    DBCaption->setReadOnly(true);
    btnOpen = new QPushButton(kOpen, central);
    Label1->setBuddy(DBCaption);
    dbRow->addWidget(Label1);
    dbRow->addWidget(DBCaption, 1);
    dbRow->addWidget(btnOpen);
    layout->addLayout(dbRow);

    GroupBox3 = new QGroupBox(kOptions, central);
    auto* options = new QGridLayout(GroupBox3);
    Label2 = new QLabel(kMode, GroupBox3);
    ChangeType = new QComboBox(GroupBox3);
    ChangeType->setEditable(false);
    for (const char* mode : kModes) ChangeType->addItem(mode);
    ChangeType->setCurrentIndex(cmChangeGenerator);
    Label2->setBuddy(ChangeType);
    chkChangeDBID = new QCheckBox(kChangeDBID, GroupBox3);
    ChangeIDOnlyCurrentIDs = new QCheckBox(kOnlyCurrentIDs, GroupBox3);
    SaveLog = new QCheckBox(kSaveLog, GroupBox3);
    SaveLog->setChecked(true);
    options->addWidget(Label2, 0, 0);
    options->addWidget(ChangeType, 0, 1);
    options->addWidget(chkChangeDBID, 1, 0, 1, 2);
    options->addWidget(ChangeIDOnlyCurrentIDs, 2, 0, 1, 2);
    options->addWidget(SaveLog, 3, 0, 1, 2);
    options->setColumnStretch(1, 1);
    layout->addWidget(GroupBox3);
    layout->addStretch(1);

    auto* runRow = new QHBoxLayout;
    ProgressBar = new QProgressBar(central);
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->hide();
    btnCancel = new QPushButton(kCancel, central);
    btnCancel->hide();
    btnChange = new QPushButton(kChange, central);
    runRow->addWidget(ProgressBar, 1);
    runRow->addWidget(btnCancel);
    runRow->addStretch();
    runRow->addWidget(btnChange);
    layout->addLayout(runRow);

    // Both panels are permanent widgets, so no passing status message ever
    // covers them.
    StatusBar = new QStatusBar(this);
    setStatusBar(StatusBar);
    StatusPanels[0] = new QLabel(StatusBar);
    StatusPanels[0]->setAlignment(Qt::AlignCenter);
    StatusPanels[0]->setMinimumWidth(StatusPanels[0]->fontMetrics().horizontalAdvance(QStringLiteral("WW")) + 8);
    StatusPanels[1] = new QLabel(StatusBar);
    StatusPanels[1]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StatusBar->addPermanentWidget(StatusPanels[0], 0);
    StatusBar->addPermanentWidget(StatusPanels[1], 1);

    const std::pair<QWidget*, const char*> names[] = {
        {Label1, "Label1"},
        {DBCaption, "DBCaption"},
        {btnOpen, "btnOpen"},
        {GroupBox3, "GroupBox3"},
        {Label2, "Label2"},
        {ChangeType, "ChangeType"},
        {chkChangeDBID, "chkChangeDBID"},
        {ChangeIDOnlyCurrentIDs, "ChangeIDOnlyCurrentIDs"},
        {SaveLog, "SaveLog"},
        {btnChange, "btnChange"},
        {ProgressBar, "ProgressBar"},
        {btnCancel, "btnCancel"},
        {StatusBar, "StatusBar"},
    };
    for (const auto& [widget, name] : names) widget->setObjectName(name);

    connect(btnOpen, &QPushButton::clicked, this, gui::Guarded([this] { btnOpenClick(); }));
    connect(btnChange, &QPushButton::clicked, this, gui::Guarded([this] { btnChangeClick(); }));
    connect(btnCancel, &QPushButton::clicked, this, gui::Guarded([this] { btnCancelClick(); }));
    connect(ChangeType, &QComboBox::currentIndexChanged, this, gui::Guarded([this] { ChangeTypeChange(); }));

    // Sizeable; the controls stretch with the width.
    resize(std::max(560, sizeHint().width()), sizeHint().height());
}

void TMainForm::ReportLogFailure()
{
    if (!FLog.IsOpen()) gui::ShowException(FLog.Error());
}

// ---- event handlers ---------------------------------------------------------------------

bool TMainForm::RefuseDuringRun()
{
    if (!FEngine.Running()) return false;
    gui::ShowInformation(EngineText::RunUnderWay);
    return true;
}

void TMainForm::btnOpenClick()
{
    if (RefuseDuringRun()) return;
    if (OpenDialog) {
        TOpenedPair pair = OpenDialog();
        if (pair.Ok) OpenDatabases(std::move(pair.Db), std::move(pair.SemDb));
        return;
    }
    rtl::RefPtr<IUdb> db = FEngine.Db();
    rtl::RefPtr<IUdb> semDb = FEngine.SemDb();
    if (ShowOpenDbDialog(db, semDb, RequiredDbVersion)) OpenDatabases(std::move(db), std::move(semDb));
}

void TMainForm::btnCancelClick()
{
    // Asked once per run: a confirmed Cancel is not asked again.
    if (FEngine.Cancelled()) return;
    if (gui::AskYesNo(MainFormText::CancelQuestion)) FEngine.Cancel();
}

void TMainForm::ChangeTypeChange() { UpdateControls(); }

void TMainForm::btnChangeClick()
{
    if (RefuseDuringRun()) return;
    if (SaveLog->isChecked() && !FLog.IsOpen())
        throw rtl::Exception(rtl::Format(MainFormText::LogNotOpen, FLog.Error().c_str()));

    TRunOptions options;
    options.Mode = ChangeType->currentIndex();
    options.ChangeDBID = chkChangeDBID->isChecked();
    options.OnlyCurrentIDs = ChangeIDOnlyCurrentIDs->isChecked();

    // Held for the whole run, also where the engine leaves the busy state
    // between two phases.
    FMainControls.SetEnabled(false);
    try {
        FEngine.Run(options);
    } catch (...) {
        EndRun();
        throw;
    }
    EndRun();
}

void TMainForm::EndRun()
{
    if (busy_) {
        EndProgress();
    } else {
        FMainControls.SetEnabled(true);
        UpdateControls();
    }
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    gui::Guard([&] {
        if (FEngine.Running()) {
            event->ignore();
            gui::ShowInformation(EngineText::RunUnderWay);
        } else {
            event->accept();
        }
    });
}

void TMainForm::keyPressEvent(QKeyEvent* event)
{
    // Esc is the Cancel button's only while that button can be pressed.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier && btnCancel->isVisible() &&
        btnCancel->isEnabled()) {
        event->accept();
        gui::Guard([this] { btnCancelClick(); });
        return;
    }
    QMainWindow::keyPressEvent(event);
}

// ---- the pair ---------------------------------------------------------------------------

void TMainForm::OpenDatabases(rtl::RefPtr<IUdb> db, rtl::RefPtr<IUdb> semDb)
{
    if (FEngine.Running()) throw rtl::Exception(EngineText::RunUnderWay);
    try {
        const std::string caption = FEngine.OpenDatabases(std::move(db), std::move(semDb));
        DBCaption->setText(Q(caption));
    } catch (...) {
        // The engine keeps nothing of a pair it could not attach; neither
        // does the caption.
        FEngine.CloseDatabases();
        DBCaption->setText(MainFormText::NotOpen);
        UpdateControls();
        throw;
    }
    UpdateControls();
}

void TMainForm::CloseDatabases() noexcept
{
    FEngine.CloseDatabases();
    UpdateControls();
}

void TMainForm::UpdateControls()
{
    const bool idle = Idle();
    const int mode = ChangeType->currentIndex();
    GroupBox3->setEnabled(FEngine.IsOpen());
    btnChange->setEnabled(FEngine.IsOpen() && idle);
    ChangeIDOnlyCurrentIDs->setEnabled(idle && (mode == cmSystemObjects || mode == cmSpatialObjects));
}

// ---- the log ----------------------------------------------------------------------------

void TMainForm::WriteLog(const std::string& entry)
{
    // Read anew at every entry.
    if (SaveLog->isChecked()) FLog.Write(entry);
}

bool TMainForm::LogEnabled() { return SaveLog->isChecked(); }

// ---- busy and idle ----------------------------------------------------------------------

void TMainForm::StartProgress(const std::string& text, std::int32_t maximum)
{
    busy_ = true;
    FMainControls.SetEnabled(false);
    FProgressControls.SetEnabled(true);
    FProgressControls.SetVisible(true);
    // A maximum of 0 shows an empty bar: Qt would animate a 0..0 range as busy.
    progressMax_ = std::max<std::int32_t>(maximum, 0);
    ProgressBar->setRange(0, std::max<std::int32_t>(progressMax_, 1));
    ProgressBar->setValue(0);
    StatusPanels[0]->setText(QString(QChar(MainFormText::Spinner[0])));
    StatusPanels[1]->setText(Q(text));
    gui::ProcessMessages();
}

void TMainForm::StepProgress(const std::string& text, std::int32_t delta)
{
    StatusPanels[1]->setText(Q(text));
    if (delta != 0) {
        const long long position = static_cast<long long>(ProgressBar->value()) + delta;
        ProgressBar->setValue(static_cast<int>(std::clamp<long long>(position, 0, progressMax_)));
    }
    if (delta > 0) ProgressBar->setToolTip(Q(text));
    TickSpinner(false);
    gui::ProcessMessages();
}

void TMainForm::TickSpinner(bool pump)
{
    const char* spinner = MainFormText::Spinner;
    const std::size_t count = std::strlen(spinner);
    const QString shown = StatusPanels[0]->text();
    std::size_t next = 0;
    if (shown.size() == 1)
        for (std::size_t i = 0; i < count; ++i)
            if (shown[0] == QChar(spinner[i])) next = (i + 1) % count;
    StatusPanels[0]->setText(QString(QChar(spinner[next])));
    if (pump) gui::ProcessMessages();
}

void TMainForm::EndProgress()
{
    FProgressControls.SetEnabled(false);
    FProgressControls.SetVisible(false);
    StatusPanels[0]->clear();
    StatusPanels[1]->clear();
    ProgressBar->setToolTip(QString());
    busy_ = false;
    // Between two phases of a run the idle controls stay disabled.
    if (!FEngine.Running()) FMainControls.SetEnabled(true);
    UpdateControls();
    gui::ProcessMessages();
}

// ---- questions, messages, dialogs ---------------------------------------------------------

bool TMainForm::AskBackup(const std::string& text) { return gui::AskYesNoWarning(text); }

void TMainForm::ShowMessage(const std::string& text, const std::string& caption)
{
    gui::ShowInformation(text, caption);
}

bool TMainForm::SelectSystemObjects(IUdb& db, TVelmoSysObjectList& list) { return ::SelectSystemObjects(db, list); }

bool TMainForm::SelectLayers(IUdb& db, TVelmoSysObjectList& list) { return ::SelectLayersDialog(db, list); }

void TMainForm::ShowReport(const std::string& html)
{
    shownReport_ = html;
    // The window lives on its own (or until this window goes).
    TBrowserRef browser;
    ShowHTMLReport(html, browser, this);
}
