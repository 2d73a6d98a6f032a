// The connection-parameter frame, its drivers and its parameter editors.
#include "UdbProject/frames/UdbParamsFrame.h"

#include <utility>

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>

#include "platform/gui/HandlerGuard.h"
#include "platform/gui/Progress.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/TextUtils.h"
#include "remote/dialogs/RemoteComputerComps.h"
#include "remote/dialogs/RemoteOpenDialogs.h"
#include "remote/dialogs/SelectRemoteFolderForms.h"

namespace {

// Element and attribute names of the driver definitions and requests.
constexpr const char* kDriver = "driver";
constexpr const char* kParam = "param";
constexpr const char* kValue = "value";
constexpr const char* kVendor = "vendor";
constexpr const char* kName = "name";
constexpr const char* kCaption = "caption";
constexpr const char* kEditor = "editor";
constexpr const char* kBasic = "basic";
constexpr const char* kHint = "hint";
constexpr const char* kTitle = "title";
constexpr const char* kFileFilters = "file-filters";
constexpr const char* kDriverName = "driver-name";
constexpr const char* kParamName = "param-name";

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The element children of node named name, in document order.
std::vector<IXmlElementPtr> ChildElements(IXmlNode& node, const char* name)
{
    std::vector<IXmlElementPtr> result;
    const IXmlNodeListPtr children = node.Get_ChildNodes();
    for (int i = 0; i < children->Get_Count(); ++i) {
        const IXmlNodePtr child = children->Get_Item(i);
        if (child->Get_NodeType() != NODE_ELEMENT || child->Get_NodeName() != name) continue;
        result.push_back(child->AsElement());
    }
    return result;
}

// "file: "<file>" version: "<version>"".
std::string DriverHintText(const std::string& file, const std::string& version)
{
    return "file: \"" + file + "\" version: \"" + version + "\"";
}

} // namespace

const std::vector<std::string>& ParamEditorWords()
{
    static const std::vector<std::string> words = {"none",          "text",   "password", "inline-lookup",
                                                   "query-lookup", "folder", "file"};
    return words;
}

// ---- TParamPropEditor -------------------------------------------------------------------

TParamPropEditor::TParamPropEditor(TDriverInfo& driverInfo, IXmlElementPtr paramElement)
    : driverInfo_(&driverInfo), element_(std::move(paramElement))
{
    paramName_ = element_->NeedAttr(kName);
    SetName(element_->GetAttr(kCaption, paramName_));
    kind_ = static_cast<TParamEditorKind>(element_->GetEnumAttr(kEditor, ParamEditorWords(), pekText));
    basic_ = element_->GetBoolAttr(kBasic, true);

    std::uint8_t options = 0;
    switch (kind_) {
    case pekNone: break;
    case pekText:
    case pekPassword: options = poEditText; break;
    case pekInlineLookup: options = poValueList; break;
    case pekQueryLookup: options = poEditText | poValueList; break;
    case pekFolder:
    case pekFile: options = poEditText | poDialog; break;
    }
    const TDBParamsMode mode = driverInfo.Mode;
    if (mode == dpmReadOnly || (mode == dpmBasicReadOnly && basic_)) options = 0;
    SetOptions(options);

    SetStrValue({});
    SetStrValue(DefaultValue(*element_));
}

std::string TParamPropEditor::DefaultValue(IXmlNode& paramElement)
{
    std::string result;
    const IXmlNodeListPtr children = paramElement.Get_ChildNodes();
    for (int i = 0; i < children->Get_Count(); ++i) {
        const IXmlNodePtr child = children->Get_Item(i);
        const int type = child->Get_NodeType();
        if (type != NODE_TEXT && type != NODE_CDATA_SECTION) continue;
        const std::string piece = rtl::Trim(child->Get_Text());
        if (piece.empty()) continue;
        if (!result.empty()) result += ' ';
        result += piece;
    }
    return result;
}

std::string TParamPropEditor::GetStatusText() { return element_->GetAttr(kHint); }

std::string TParamPropEditor::GetDisplayText()
{
    if (kind_ == pekInlineLookup) {
        for (const IXmlElementPtr& choice : ChildElements(*element_, kValue)) {
            const std::string value = rtl::Trim(choice->Get_Text());
            if (value == Value()) return choice->GetAttr(kCaption, value);
        }
    }
    return Value();
}

void TParamPropEditor::GetValues(TPickItems& list, int& index)
{
    if (kind_ == pekInlineLookup)
        InlineValues(list, index);
    else if (kind_ == pekQueryLookup)
        QueryValues(list, index);
}

void TParamPropEditor::SelectValue(TPickItems& list, int index)
{
    if (kind_ == pekInlineLookup) {
        const auto* choice = static_cast<const TStrValue*>(list.Objects(index));
        SetStrValue(choice ? choice->Value : std::string());
    } else if (kind_ == pekQueryLookup) {
        SetStrValue(list.Strings(index));
    }
}

void TParamPropEditor::ValuesDone(TPickItems& list)
{
    for (int i = 0; i < list.Count(); ++i) {
        delete static_cast<TStrValue*>(list.Objects(i));
        list.SetObject(i, nullptr);
    }
    list.Clear();
}

void TParamPropEditor::Edit(const QRect& rect)
{
    (void)rect;
    if (!driverInfo_->RemoteComputer) return;
    if (kind_ == pekFolder)
        EditFolder();
    else if (kind_ == pekFile)
        EditFile();
}

void TParamPropEditor::InlineValues(TPickItems& list, int& index)
{
    for (const IXmlElementPtr& choice : ChildElements(*element_, kValue)) {
        auto value = std::make_unique<TStrValue>();
        value->Value = rtl::Trim(choice->Get_Text());
        const std::string caption = choice->GetAttr(kCaption, value->Value);
        const bool current = value->Value == Value();
        const int at = list.Add(caption, value.get());
        value.release(); // the list's item holds it until ValuesDone
        if (current) index = at;
    }
}

void TParamPropEditor::QueryValues(TPickItems& list, int& index)
{
    if (!driverInfo_->Manager) return;
    const gui::ScopedCursor hourglass;
    const IXmlDocumentPtr doc = CreateXmlDocument(UdbQueryLookupValuesRequest);
    const IXmlElementPtr request = doc->Get_DocumentElement();
    request->SetAttr(kDriverName, driverInfo_->Name);
    request->SetAttr(kParamName, paramName_);
    driverInfo_->SaveValues(*CreateSimpleParams(request, true));

    doc->LoadXML(driverInfo_->Manager->XMLRequest(doc->Get_XML()));
    const IXmlElementPtr answer = doc->Get_DocumentElement();
    if (!answer) return;
    for (const IXmlElementPtr& item : ChildElements(*answer, kValue)) {
        const std::string value = rtl::Trim(item->Get_Text());
        const int at = list.Add(value);
        if (value == Value()) index = at;
    }
}

void TParamPropEditor::EditFolder()
{
    const std::string title = element_->GetAttr(kTitle, ParamsFrameText::FolderTitle);
    std::string folder = Value();
    if (SelectRemoteFolder(driverInfo_->RemoteComputer, title, folder)) SetStrValue(folder);
}

void TParamPropEditor::EditFile()
{
    const std::string title = element_->GetAttr(kTitle, ParamsFrameText::FileTitle);
    const std::string filters = element_->GetAttr(kFileFilters, ParamsFrameText::FileFilters);
    IVelmoServerRemoteComputer& computer = *driverInfo_->RemoteComputer;
    // The dialog is confined to the value's folder, but never to one that is
    // gone: then it opens unconfined.
    std::string root = rtl::ExtractFilePath(Value());
    if (!root.empty()) {
        const rtl::Variant row = computer.GetFileInfo(root, MakeFieldCodes({fiAttributes}));
        const bool isFolder = row.IsArray() && (row.GetElement(row.ArrayLowBound()).AsInteger() & faDirectory) != 0;
        if (!isFolder) root.clear();
    }
    std::string fileName = Value();
    if (RemoteOpenFile(driverInfo_->RemoteComputer, root, root, title, filters, fileName)) SetStrValue(fileName);
}

// ---- TDriverInfo ------------------------------------------------------------------------

TDriverInfo::TDriverInfo(rtl::RefPtr<IUdbManager> manager, IVelmoServerRemoteComputerPtr remoteComputer,
                         IXmlElementPtr driverElement, TDBParamsMode mode)
    : Manager(std::move(manager)),
      RemoteComputer(std::move(remoteComputer)),
      Mode(mode),
      Element(std::move(driverElement)),
      Group(std::make_unique<TPropGroup>()),
      document_(Element->Get_OwnerDocument())
{
    Name = Element->NeedAttr(kName);
    Caption = Element->GetAttr(kCaption, Name);
    if (const std::vector<IXmlElementPtr> vendors = ChildElements(*Element, kVendor); !vendors.empty()) {
        const ISimpleParamsPtr vendor = CreateSimpleParams(vendors.front(), false);
        File = vendor->GetStr("file", "");
        Version = vendor->GetStr("version", "");
    }
    CreateEditors();
}

TDriverInfo::~TDriverInfo() = default;

void TDriverInfo::CreateEditors()
{
    Group->Clear();
    for (const IXmlElementPtr& param : ChildElements(*Element, kParam))
        Group->Add(std::make_unique<TParamPropEditor>(*this, param));
}

TParamPropEditor* TDriverInfo::Editor(int index) const { return static_cast<TParamPropEditor*>(Group->GetItem(index)); }

void TDriverInfo::LoadValues(ISimpleParams& params)
{
    for (int i = 0; i < EditorCount(); ++i) {
        TParamPropEditor* editor = Editor(i);
        if (params.Exists(editor->ParamName())) editor->SetStrValue(params.GetStr(editor->ParamName(), ""));
    }
}

void TDriverInfo::SaveValues(ISimpleParams& params)
{
    for (int i = 0; i < EditorCount(); ++i) {
        TParamPropEditor* editor = Editor(i);
        params.SetStr(editor->ParamName(), editor->Value());
    }
}

// ---- TDBParamsFrame ---------------------------------------------------------------------

TDBParamsFrame::TDBParamsFrame(QWidget* parent)
    : QFrame(parent),
      Label1(new QLabel(Q(ParamsFrameText::Driver), this)),
      DriversLookup(new QComboBox(this)),
      ParamsGrid(new TPropGrid(this)),
      FGroups(std::make_unique<TPropGroupList>(true))
{
    Label1->setObjectName("Label1");
    DriversLookup->setObjectName("DriversLookup");
    ParamsGrid->setObjectName("ParamsGrid");
    DriversLookup->setEditable(false);
    DriversLookup->setToolTip(Q(ParamsFrameText::DriverHint));
    Label1->setBuddy(DriversLookup);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Label1, 0, 0);
    layout->addWidget(DriversLookup, 0, 1);
    layout->addWidget(ParamsGrid, 1, 0, 1, 2);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(1, 1);

    FGroups->Add(std::make_unique<TPropGroup>(ParamsFrameText::BasicGroup, false));
    auto advanced = std::make_unique<TPropGroup>(ParamsFrameText::AdvancedGroup, false);
    advanced->Visible = false;
    FGroups->Add(std::move(advanced));
    ParamsGrid->SetGroups(FGroups.get());

    connect(DriversLookup, &QComboBox::activated, this, gui::Guarded([this] { DriversLookupSelect(); }));
}

TDBParamsFrame::~TDBParamsFrame()
{
    DetachEditors();
    ParamsGrid->SetGroups(nullptr);
    FDrivers.clear();
    FGroups.reset();
}

void TDBParamsFrame::Init(rtl::RefPtr<IUdbManager> manager, IVelmoServerRemoteComputerPtr remoteComputer,
                          TDBParamsMode mode)
{
    FManager = std::move(manager);
    FRemoteComputer = remoteComputer ? std::move(remoteComputer) : CreateLocalRemoteComputer();
    FSelectedIndex = -1;
    FMode = mode;
    DriversLookup->setEnabled(mode == dpmEditAll);
    LoadDrivers();
}

void TDBParamsFrame::DetachEditors()
{
    BasicGroup().Clear();
    AdvancedGroup().Clear();
    AdvancedGroup().Visible = false;
    ParamsGrid->SetGroups(FGroups.get());
}

void TDBParamsFrame::ClearDrivers()
{
    DetachEditors();
    FSelectedIndex = -1;
    FDrivers.clear();
    DriversLookup->clear();
    DriversLookup->setToolTip(Q(ParamsFrameText::DriverHint));
}

void TDBParamsFrame::AddDriver(std::unique_ptr<TDriverInfo> driver)
{
    DriversLookup->addItem(Q(driver->Caption));
    FDrivers.push_back(std::move(driver));
}

void TDBParamsFrame::LoadDrivers()
{
    const QSignalBlocker quiet(DriversLookup);
    ClearDrivers();
    if (!FManager) return;

    const IXmlDocumentPtr doc = CreateXmlDocument(UdbQueryDriversRequest);
    doc->LoadXML(FManager->XMLRequest(doc->Get_XML()));
    const IXmlElementPtr root = doc->Get_DocumentElement();
    RTL_ASSERT(root, ParamsFrameText::InvalidXml);

    // Made aside first: a definition the XML layer refuses leaves no driver.
    std::vector<std::unique_ptr<TDriverInfo>> drivers;
    for (const IXmlElementPtr& element : ChildElements(*root, kDriver))
        drivers.push_back(std::make_unique<TDriverInfo>(FManager, FRemoteComputer, element, FMode));
    for (auto& driver : drivers) AddDriver(std::move(driver));

    if (!FDrivers.empty()) {
        DriversLookup->setCurrentIndex(0);
        DriversLookupSelect();
    }
}

TDriverInfo* TDBParamsFrame::SelectedDriver() const noexcept
{
    if (FSelectedIndex < 0 || FSelectedIndex >= DriverCount()) return nullptr;
    return FDrivers[static_cast<std::size_t>(FSelectedIndex)].get();
}

void TDBParamsFrame::DriversLookupSelect()
{
    if (DriversLookup->currentIndex() == FSelectedIndex) return;
    BasicGroup().Clear();
    AdvancedGroup().Clear();
    FSelectedIndex = DriversLookup->currentIndex();
    TDriverInfo* driver = SelectedDriver();
    if (driver)
        for (int i = 0; i < driver->EditorCount(); ++i) {
            TParamPropEditor* editor = driver->Editor(i);
            (editor->Basic() ? BasicGroup() : AdvancedGroup()).Add(editor);
        }
    AdvancedGroup().Visible = AdvancedGroup().Count() > 0;
    BasicGroup().Visible = true;
    ParamsGrid->SetGroups(FGroups.get());
    DriversLookup->setToolTip(Q(DriverHintText(GetDriverFile(), GetDriverVersion())));
    if (OnChange) OnChange(*this);
}

std::string TDBParamsFrame::GetParams()
{
    // A value still being typed in the grid counts.
    if (const TPropInplaceEdit* box = ParamsGrid->InplaceBox(); box && !box->isHidden())
        ParamsGrid->HandleEditorFocusLost();
    const IXmlDocumentPtr doc = CreateXmlDocument(kDriver);
    const IXmlElementPtr root = doc->Get_DocumentElement();
    if (TDriverInfo* driver = SelectedDriver()) {
        root->SetAttr(kName, driver->Name);
        if (driver->Caption != driver->Name) root->SetAttr(kCaption, driver->Caption);
        driver->SaveValues(*CreateSimpleParams(root, true));
    }
    return doc->Get_XML();
}

void TDBParamsFrame::SetParams(const std::string& xml)
{
    const IXmlDocumentPtr doc = CreateXmlDocument();
    doc->LoadXML(xml);
    const IXmlElementPtr root = doc->Get_DocumentElement();
    if (!root) throw rtl::Exception(ParamsFrameText::NoParamsRoot);
    const ISimpleParamsPtr params = CreateSimpleParams(root, false);
    const std::string name = root->NeedAttr(kName);

    for (int i = 0; i < DriverCount(); ++i) {
        if (FDrivers[static_cast<std::size_t>(i)]->Name != name) continue;
        FDrivers[static_cast<std::size_t>(i)]->LoadValues(*params);
        DriversLookup->setCurrentIndex(i);
        DriversLookupSelect();
        return;
    }

    // A driver the manager does not list: the document describes it, read-only.
    auto driver = std::make_unique<TDriverInfo>(FManager, FRemoteComputer, root, dpmReadOnly);
    AddDriver(std::move(driver));
    DriversLookup->setCurrentIndex(DriverCount() - 1);
    DriversLookupSelect();
}

std::string TDBParamsFrame::GetDriverFile() const
{
    const TDriverInfo* driver = SelectedDriver();
    return driver ? driver->File : std::string();
}

std::string TDBParamsFrame::GetDriverVersion() const
{
    const TDriverInfo* driver = SelectedDriver();
    return driver ? driver->Version : std::string();
}
