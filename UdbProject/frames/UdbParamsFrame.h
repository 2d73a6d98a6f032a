// The connection-parameter frame: the user picks a database driver and edits
// its connection parameters, and the frame turns them into the parameter
// document that opens a database (root "driver", one "param" per parameter).
//
// The frame knows no driver of its own. It asks the driver manager with
// "query-drivers" and makes one TDriverInfo per "driver" element of the
// answer, each owning one TParamPropEditor per "param" child. The editors of
// the chosen driver are shown in the property grid, split into the basic
// group "Параметры" and the advanced group "Доп. Параметры". Every driver
// keeps its editors and their values until the drivers are loaded again, so
// switching drivers keeps what was typed.
//
// An editor keeps the parameter's name itself: two parameters with one
// caption keep two values. Editors are taken out of the grid's groups before
// they are freed, and a text without a root element given to SetParams fails
// with a clear message and changes nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QFrame>

#include "CoreLib/SimpleParams.h"
#include "CoreLib/SimpleXML.h"
#include "CoreLib/controls/PropGrids.h"
#include "CoreLib/controls/StdPropEditors.h"
#include "UdbProject/Udbs.h"
#include "remote/RemoteComputers.h"

class QComboBox;
class QLabel;
class TDBParamsFrame;
class TDriverInfo;

// What the frame lets the user change.
using TDBParamsMode = std::uint8_t;
enum : TDBParamsMode {
    dpmEditAll = 0,       // driver and every parameter
    dpmDriverFixed = 1,   // every parameter, not the driver
    dpmBasicReadOnly = 2, // the advanced parameters only
    dpmReadOnly = 3,      // nothing
};

// The attribute "editor" of a parameter definition, in the order of its words.
enum TParamEditorKind : std::uint8_t {
    pekNone = 0,
    pekText = 1,
    pekPassword = 2,
    pekInlineLookup = 3,
    pekQueryLookup = 4,
    pekFolder = 5,
    pekFile = 6,
};

// The frame's texts.
namespace ParamsFrameText {
inline constexpr const char* Driver = "Драйвер";
inline constexpr const char* DriverHint = "Driver unselected ";
inline constexpr const char* BasicGroup = "Параметры";
inline constexpr const char* AdvancedGroup = "Доп. Параметры";
inline constexpr const char* FolderTitle = "Выберите папку:";
inline constexpr const char* FileTitle = "Выберите файл:";
inline constexpr const char* FileFilters = "All files (*.*)|*.*";
inline constexpr const char* InvalidXml = "Invalid Xml document";
inline constexpr const char* NoParamsRoot = "Документ параметров подключения не содержит корневого элемента";
} // namespace ParamsFrameText

// The seven words of the attribute "editor", in TParamEditorKind order.
const std::vector<std::string>& ParamEditorWords();

// A text attached to an item of a value list.
struct TStrValue {
    std::string Value;
};

// One parameter of a driver as a row of the grid.
class TParamPropEditor : public TStrPropEditor {
public:
    // Name, kind, group and options from the definition, then the value reset
    // to the definition's default. A "param" without "name", or with an
    // "editor" outside the seven words, raises the XML layer's error.
    TParamPropEditor(TDriverInfo& driverInfo, IXmlElementPtr paramElement);

    // Attribute "hint".
    std::string GetStatusText() override;
    // The caption of the inline choice equal to the value (the value itself
    // for a choice without caption); the value otherwise.
    std::string GetDisplayText() override;
    void GetValues(TPickItems& list, int& index) override;
    void SelectValue(TPickItems& list, int index) override;
    // Frees the TStrValue objects attached to the list and empties it.
    void ValuesDone(TPickItems& list) override;
    // Folder and file parameters open their dialog; the rectangle is not used.
    void Edit(const QRect& rect) override;

    // Choices of an "inline-lookup": the "value" children, each a TStrValue.
    void InlineValues(TPickItems& list, int& index);
    // Choices of a "query-lookup": what the driver answers to
    // "query-lookup-values", under the wait cursor.
    void QueryValues(TPickItems& list, int& index);
    void EditFolder();
    void EditFile();

    TDriverInfo& DriverInfo() const noexcept { return *driverInfo_; }
    const IXmlElementPtr& Element() const noexcept { return element_; }
    // Attribute "name": the name in the parameter document.
    const std::string& ParamName() const noexcept { return paramName_; }
    TParamEditorKind Kind() const noexcept { return kind_; }
    bool Basic() const noexcept { return basic_; }

    // The definition's default value: its text and CDATA pieces, each
    // trimmed, the non-empty ones joined by one blank.
    static std::string DefaultValue(IXmlNode& paramElement);

private:
    TDriverInfo* driverInfo_;
    IXmlElementPtr element_;
    std::string paramName_;
    TParamEditorKind kind_ = pekText;
    bool basic_ = true;
};

// One driver of the frame: its definition and its editors.
class TDriverInfo {
public:
    // Fills the fields from the "driver" element and makes the editors; a
    // definition the XML layer refuses raises before anything is kept.
    TDriverInfo(rtl::RefPtr<IUdbManager> manager, IVelmoServerRemoteComputerPtr remoteComputer,
                IXmlElementPtr driverElement, TDBParamsMode mode);
    ~TDriverInfo();
    TDriverInfo(const TDriverInfo&) = delete;
    TDriverInfo& operator=(const TDriverInfo&) = delete;

    // Empties the group (freeing its editors) and makes one editor per
    // "param" child, in document order.
    void CreateEditors();
    // Every editor whose parameter the list holds takes its value.
    void LoadValues(ISimpleParams& params);
    // Every editor's value under its parameter name, in editor order.
    void SaveValues(ISimpleParams& params);

    int EditorCount() const noexcept { return Group->Count(); }
    TParamPropEditor* Editor(int index) const;

    rtl::RefPtr<IUdbManager> Manager;
    IVelmoServerRemoteComputerPtr RemoteComputer;
    TDBParamsMode Mode;
    IXmlElementPtr Element;
    // Owns the editors; has no caption.
    std::unique_ptr<TPropGroup> Group;
    std::string Name;
    std::string Caption;
    // The driver library's "file" and "version" (the "vendor" child).
    std::string File;
    std::string Version;

private:
    // Keeps the document of Element alive.
    IXmlDocumentPtr document_;
};

class TDBParamsFrame : public QFrame {
    Q_OBJECT
public:
    explicit TDBParamsFrame(QWidget* parent = nullptr);
    // Takes the editors out of the grid, frees the drivers, then the groups.
    ~TDBParamsFrame() override;
    TDBParamsFrame(const TDBParamsFrame&) = delete;
    TDBParamsFrame& operator=(const TDBParamsFrame&) = delete;

    // ---- controls
    QLabel* Label1;
    QComboBox* DriversLookup;
    TPropGrid* ParamsGrid;

    // Raised after another driver was selected.
    std::function<void(TDBParamsFrame& sender)> OnChange;

    // Keeps the manager and the computer (nullptr: this computer), enables
    // the driver list only in mode 0 and loads the drivers.
    void Init(rtl::RefPtr<IUdbManager> manager, IVelmoServerRemoteComputerPtr remoteComputer, TDBParamsMode mode);
    // The drivers anew from "query-drivers"; the first is selected. The
    // editors leave the grid before they are freed.
    void LoadDrivers();
    // The parameter document of the selected driver (an empty root "driver"
    // without one); a value still being typed in the grid is taken first.
    std::string GetParams();
    // Shows a parameter document: a known driver takes its values; any other
    // document becomes a read-only driver of its own.
    void SetParams(const std::string& xml);
    // The driver list's selection: shows the editors of the chosen driver.
    void DriversLookupSelect();
    std::string GetDriverFile() const;
    std::string GetDriverVersion() const;

    // ---- state
    int DriverCount() const noexcept { return static_cast<int>(FDrivers.size()); }
    TDriverInfo& Driver(int index) const { return *FDrivers.at(static_cast<std::size_t>(index)); }
    int SelectedIndex() const noexcept { return FSelectedIndex; }
    TDriverInfo* SelectedDriver() const noexcept;
    TPropGroup& BasicGroup() const noexcept { return *FGroups->GetItem(0); }
    TPropGroup& AdvancedGroup() const noexcept { return *FGroups->GetItem(1); }
    TDBParamsMode Mode() const noexcept { return FMode; }
    const rtl::RefPtr<IUdbManager>& Manager() const noexcept { return FManager; }
    const IVelmoServerRemoteComputerPtr& RemoteComputer() const noexcept { return FRemoteComputer; }

private:
    // Empties both groups and shows the grid without editors.
    void DetachEditors();
    void ClearDrivers();
    void AddDriver(std::unique_ptr<TDriverInfo> driver);

    std::vector<std::unique_ptr<TDriverInfo>> FDrivers;
    int FSelectedIndex = -1;
    std::unique_ptr<TPropGroupList> FGroups;
    rtl::RefPtr<IUdbManager> FManager;
    IVelmoServerRemoteComputerPtr FRemoteComputer;
    TDBParamsMode FMode = dpmEditAll;
};
