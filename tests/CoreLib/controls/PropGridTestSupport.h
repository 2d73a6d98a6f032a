// Helpers of the property-grid tests: an editor that records what the grid
// asks of it, a recorder of notifications, and a builder of groups from an
// outline.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>

#include "CoreLib/controls/PickStringList.h"
#include "CoreLib/controls/PropGrids.h"
#include "CoreLib/controls/StdPropEditors.h"
#include "platform/gui/Popups.h"
#include "platform/rtl/Exceptions.h"

namespace propgridtest {

// A string editor with a value list, a dialog and a validation rule.
class TestEditor : public TStrPropEditor {
public:
    TestEditor(std::string name, std::string value, std::uint8_t options)
        : TStrPropEditor(std::move(name), std::move(value))
    {
        SetOptions(options);
    }

    std::vector<std::string> Values;
    // The position GetValues reports; -2 for "leave it as given".
    int ReportedIndex = -2;
    // Validate refuses texts starting with "bad"; "bad!" with an empty message.
    std::string Refusal = "Значение недопустимо";
    bool FailGetValues = false;

    int EditCalls = 0;
    int ValuesDoneCalls = 0;
    std::vector<int> Selected;
    std::string Status;

    std::string GetStatusText() override { return Status; }
    bool Validate(const std::string& text, std::string& msg) override
    {
        msg.clear();
        if (text.rfind("bad", 0) != 0) return true;
        if (text != "bad!") msg = Refusal;
        return false;
    }
    void GetValues(TPickItems& list, int& index) override
    {
        if (FailGetValues) throw rtl::Exception("no values");
        for (const std::string& v : Values) list.Add(v);
        if (ReportedIndex != -2) index = ReportedIndex;
    }
    void SelectValue(TPickItems& list, int index) override
    {
        Selected.push_back(index);
        SetStrValue(list.Strings(index));
    }
    void ValuesDone(TPickItems& list) override
    {
        ++ValuesDoneCalls;
        list.Clear();
    }
    void Edit(const QRect&) override
    {
        ++EditCalls;
        SetStrValue("from dialog");
    }
};

// Records the notifications of a list.
class Recorder {
public:
    explicit Recorder(TPropEditorNotifyList& list)
    {
        client_.OnNotify = [this](TPropEditor* sender, int code) {
            codes.push_back((sender ? sender->Name() : std::string("?")) + ":" + std::to_string(code));
        };
        list.Add(&client_);
    }
    std::vector<std::string> codes;

private:
    TPropEditorNotifyClient client_;
};

// Groups from an outline: "#Caption" starts a group ("#-Caption" hidden),
// any other line adds an editor to the last group ("-name" hidden), with
// options after a "/" ("name/3").
inline std::unique_ptr<TPropGroupList> Build(const std::vector<std::string>& outline,
                                             std::vector<TestEditor*>* editors = nullptr)
{
    auto groups = std::make_unique<TPropGroupList>();
    TPropGroup* group = nullptr;
    for (std::string line : outline) {
        if (line.front() == '#') {
            const bool hidden = line.size() > 1 && line[1] == '-';
            group = new TPropGroup(line.substr(hidden ? 2 : 1));
            group->Visible = !hidden;
            groups->Add(group);
            continue;
        }
        const bool hidden = line.front() == '-';
        if (hidden) line.erase(0, 1);
        std::uint8_t options = poEditText;
        if (const std::size_t slash = line.find('/'); slash != std::string::npos) {
            options = static_cast<std::uint8_t>(std::stoi(line.substr(slash + 1)));
            line.resize(slash);
        }
        auto* editor = new TestEditor(line, "value of " + line, options);
        editor->SetVisible(!hidden);
        group->Add(editor);
        if (editors) editors->push_back(editor);
    }
    return groups;
}

// The rows as "#Title" and "name" texts joined by " | ".
inline std::string Describe(const TCustomPropGrid& grid)
{
    std::string text;
    for (const TPropGridRow& row : grid.Rows()) {
        if (!text.empty()) text += " | ";
        text += row.Group ? "#" + row.Group->Caption : row.Editor->Name();
    }
    return text;
}

// Answers the pick list with keys sent to its list box; records what the
// list showed when it opened.
struct PickListAnswer {
    PickListAnswer() = default;
    explicit PickListAnswer(std::vector<int> k) : keys(std::move(k)) {}

    std::vector<int> keys; // Qt key codes, Qt::Key_Down and the like
    int preselected = -99;
    int shownCount = -1;
    QRect geometry;
    std::function<void(QWidget&)> whileOpen;

    gui::ScopedPopupRunner Install()
    {
        return gui::ScopedPopupRunner([this](QWidget& popup) {
            auto* form = dynamic_cast<TPickListForm*>(&popup);
            if (!form) return;
            form->show();
            preselected =
                form->List->currentItem() && form->List->currentItem()->isSelected() ? form->List->currentRow() : -1;
            shownCount = form->List->count();
            geometry = form->geometry();
            if (whileOpen) whileOpen(popup);
            for (const int key : keys) {
                QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
                QApplication::sendEvent(form->List, &press);
            }
        });
    }
};

} // namespace propgridtest
