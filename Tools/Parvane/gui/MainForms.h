// The main window of the identifier changer: the open database pair, the
// mode and options of a run, the Change button, and the busy state with its
// progress bar, spinner and Cancel.
//
// The run itself is TChangeEngine's; the window owns the engine and the run
// log and is the engine's host (log, progress, questions, the selection
// dialogs, the report).
//
// A run holds the window from the Change click to its end: Open, Change and
// the options stay disabled also where the engine leaves the busy state
// between two phases, another run or another pair is refused, and closing
// the window is refused until the run is over. A log that cannot be opened
// never keeps the window from coming up; its reason is shown once, and a run
// that would have to write to it is refused.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>

#include "CoreLib/AClasses.h"
#include "Tools/Parvane/ChangeEngine.h"
#include "Tools/Parvane/RunLogs.h"
#include "UdbProject/Udbs.h"
#include "platform/rtl/RefCounted.h"

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class TWidgetGroupItem;

// What the open-database dialog hands back: OK pressed, and the spatial and
// the semantic database.
struct TOpenedPair {
    bool Ok = false;
    rtl::RefPtr<IUdb> Db;
    rtl::RefPtr<IUdb> SemDb;
};

// The window's own texts.
namespace MainFormText {
inline constexpr const char* Title = "Изменение идентификаторов БД Велмо";
inline constexpr const char* NotOpen = "<НЕ ОТКРЫТА>";
inline constexpr const char* CancelQuestion = "Вы действительно хотите прервать операцию ?";
// %s: the log's path and the reason it could not be opened.
inline constexpr const char* LogNotOpen =
    "Лог-файл не открыт: %s. Снимите флажок \"Сохранять лог\" или устраните причину";
// The spinner's characters in order: backslash, bar, slash, hyphen.
inline constexpr const char* Spinner = "\\|/-";
} // namespace MainFormText

class TMainForm : public QMainWindow, public IChangeHost {
    Q_OBJECT

public:
    // Creates the controls, opens the log at logPath (a failure is shown
    // once the event loop runs) and shows no database.
    explicit TMainForm(std::string logPath = TRunLog::DefaultPath(), QWidget* parent = nullptr);
    // Detaches the pair (the generator writes its counter back).
    ~TMainForm() override;
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // ---- controls
    QLabel* Label1 = nullptr;
    QLineEdit* DBCaption = nullptr;
    QPushButton* btnOpen = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* ChangeType = nullptr;
    QCheckBox* chkChangeDBID = nullptr;
    QCheckBox* ChangeIDOnlyCurrentIDs = nullptr;
    QCheckBox* SaveLog = nullptr;
    QPushButton* btnChange = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QPushButton* btnCancel = nullptr;
    QStatusBar* StatusBar = nullptr;
    // The status bar's panels: 0 the spinner (centred), 1 the step text.
    std::array<QLabel*, 2> StatusPanels{};

    // Stands in for the open-database dialog when set; empty, Open shows
    // the dialog (ShowOpenDbDialog) with the open pair and version 265.
    std::function<TOpenedPair()> OpenDialog;

    // ---- event handlers (each runs under the handler guard when Qt calls it;
    // called directly, an error passes on)
    void btnOpenClick();
    void btnCancelClick();
    void ChangeTypeChange();
    void btnChangeClick();

    // ---- the pair
    // Attaches the pair and shows its caption. On failure no pair is
    // attached, the caption is "<НЕ ОТКРЫТА>" and the error passes on.
    void OpenDatabases(rtl::RefPtr<IUdb> db, rtl::RefPtr<IUdb> semDb);
    // The generator writes its counter back and the pair is dropped; the
    // caption stays.
    void CloseDatabases() noexcept;
    // The options and Change follow the pair, the idle state and the mode.
    void UpdateControls();

    // ---- IChangeHost
    void WriteLog(const std::string& entry) override;
    bool LogEnabled() override;
    void StartProgress(const std::string& text, std::int32_t maximum) override;
    void StepProgress(const std::string& text, std::int32_t delta) override;
    void TickSpinner(bool pump) override;
    void EndProgress() override;
    bool AskBackup(const std::string& text) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    bool SelectSystemObjects(IUdb& db, TVelmoSysObjectList& list) override;
    bool SelectLayers(IUdb& db, TVelmoSysObjectList& list) override;
    void ShowReport(const std::string& html) override;

    // ---- state
    TChangeEngine& Engine() noexcept { return FEngine; }
    const TChangeEngine& Engine() const noexcept { return FEngine; }
    const TRunLog& Log() const noexcept { return FLog; }
    // The report last handed to ShowReport.
    const std::string& ShownReport() const noexcept { return shownReport_; }
    // The busy state holds (between StartProgress and EndProgress).
    bool Busy() const noexcept { return busy_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    // Shown once after construction when the log could not be opened.
    void ReportLogFailure();
    // No run is under way and the busy state does not hold.
    bool Idle() const noexcept { return !busy_ && !FEngine.Running(); }
    // Shows that a run is under way; true when one is.
    bool RefuseDuringRun();
    // Back to idle after a run, whatever state the run left.
    void EndRun();

    TChangeEngine FEngine;
    TRunLog FLog;
    std::vector<std::unique_ptr<TWidgetGroupItem>> groupItems_;
    // Freed in reverse order: the idle group first, then the busy one.
    TControlGroup FProgressControls;
    TControlGroup FMainControls;
    std::int32_t progressMax_ = 0;
    bool busy_ = false;
    std::string shownReport_;
};
