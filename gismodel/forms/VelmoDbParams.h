// The open-database dialog: one connection-parameter frame for the spatial
// and one for the semantic database of a Velmo pair. OK creates and opens
// both through the driver manager and refuses a spatial database whose data
// version is not the required one.
//
// Only a complete success closes the dialog with OK. When a database does
// not open, the semantic half fails after the spatial one opened, or the
// version is refused, the error is shown, everything this attempt opened is
// closed and released, and the dialog stays open for another try.
#pragma once

#include <cstdint>

#include <QDialog>

#include "UdbProject/Udbs.h"
#include "UdbProject/frames/UdbParamsFrame.h"
#include "platform/rtl/RefCounted.h"

class QGroupBox;
class QPushButton;

// The dialog's texts.
namespace OpenDbText {
inline constexpr const char* Caption = "Открыть базу данных";
inline constexpr const char* SpatialBox = "Поространственный данные";
inline constexpr const char* SemanticBox = "Семантика";
inline constexpr const char* Open = "Открыть";
inline constexpr const char* Cancel = "Отмена";
// %s: the table's name.
inline constexpr const char* TableNotFound = "Не найдена таблица <%s>";
inline constexpr const char* OlderVersion =
    "Найдена база данных более ранней версии. Требуется обновление базы данных.";
inline constexpr const char* NewerVersion = "Найдена база данных более новой версии.";
} // namespace OpenDbText

// The data version the program works with.
inline constexpr std::int32_t RequiredDbVersion = 265;
// A flag stored in VELMO_DBINFO.VERSION beside the version number.
inline constexpr std::int32_t DbVersionFlag = 0x1000;

// VELMO_DBINFO.VERSION of the first row with the flag bit cleared (0 for
// Null); 0 without a row; -1 when the table cannot be read. Never raises.
std::int32_t GetDbVersion(IUdb& db) noexcept;

class TOpenVelmoDbForm : public QDialog {
    Q_OBJECT
public:
    // FormCreate: both frames list the drivers of manager (the program's
    // manager when nullptr), editable.
    explicit TOpenVelmoDbForm(rtl::RefPtr<IUdbManager> manager = nullptr, QWidget* parent = nullptr);
    ~TOpenVelmoDbForm() override;

    // ---- controls
    QGroupBox* GroupBox1;
    TDBParamsFrame* SpacialParams;
    QGroupBox* GroupBox2;
    TDBParamsFrame* SemParams;
    QPushButton* AssignSpatialDriver;
    QPushButton* AssignSemDriver;
    QPushButton* btnOk;
    QPushButton* btnCancel;

    // ---- event handlers (each runs under the handler guard when Qt calls it)
    // "<": the semantic settings into the spatial frame.
    void AssignSpatialDriverClick();
    // ">": the spatial settings into the semantic frame.
    void AssignSemDriverClick();
    // Opens both databases and checks the version; accepts only when all of
    // it succeeded, otherwise releases what it opened and raises.
    void btnOkClick();

    // ---- state
    const rtl::RefPtr<IUdbManager>& Manager() const noexcept { return FManager; }
    const rtl::RefPtr<IUdb>& SpatialDb() const noexcept { return FSpatialDb; }
    const rtl::RefPtr<IUdb>& SemDb() const noexcept { return FSemDb; }
    std::int32_t RequiredVersion() const noexcept { return FRequiredVersion; }
    void SetRequiredVersion(std::int32_t version) noexcept { FRequiredVersion = version; }

private:
    // Raises the message for a version other than the required one.
    void CheckVersion(IUdb& spatial) const;

    rtl::RefPtr<IUdbManager> FManager;
    rtl::RefPtr<IUdb> FSpatialDb;
    rtl::RefPtr<IUdb> FSemDb;
    std::int32_t FRequiredVersion = RequiredDbVersion;
};

// Runs the dialog, starting from the pair given (either may be nullptr).
// True when it closed with OK: both references then hold the databases it
// opened. Otherwise both are left as they were. manager: the program's
// manager when nullptr; it is refreshed each time.
bool ShowOpenDbDialog(rtl::RefPtr<IUdb>& spatial, rtl::RefPtr<IUdb>& semantic, std::int32_t requiredVersion,
                      rtl::RefPtr<IUdbManager> manager = nullptr);
