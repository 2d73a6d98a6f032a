// Helpers of the dialog tests: a folder tree on disk, a tree described as
// text, and a modal runner that drives each form by its class.
#pragma once

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <QDialog>

#include "CoreLib/controls/xTreeView.h"
#include "platform/gui/Dialogs.h"
#include "remote/RemoteComputers.h"
#include "tests/support/TempFolder.h"

namespace dialogtest {

// temp/Data/{Old/, Sub/a.txt, b.DB, c.db, d.txt, README}, temp/data/,
// temp/Data2/a.txt, temp/Empty/.
class DiskTree {
public:
    DiskTree()
    {
        temp.Sub("Data/Old");
        File(temp.Sub("Data/Sub") + "/a.txt");
        for (const char* name : {"b.DB", "c.db", "d.txt", "README"}) File(temp.File("Data/") + name);
        temp.Sub("data");
        File(temp.Sub("Data2") + "/a.txt");
        temp.Sub("Empty");
    }
    static void File(const std::string& path) { std::ofstream(path) << "x"; }
    std::string Path(const std::string& relative = {}) const
    {
        return relative.empty() ? temp.Path() : temp / relative;
    }

    testing_support::TempFolder temp;
};

// The children of a node as "name" texts (a placeholder as "*", with "+"
// after a node that is expanded and its image index after "@").
inline std::string Children(const TXTreeNode* node)
{
    std::string text;
    for (const TXTreeNode* child = node->GetFirstChild(); child; child = child->GetNextSibling()) {
        if (!text.empty()) text += " ";
        text += child->Text();
        if (child->Expanded()) text += "+";
        if (child->ImageIndex() >= 0) text += "@" + std::to_string(child->ImageIndex());
        if (child->HasChildren()) text += "[" + std::to_string(child->Count()) + "]";
    }
    return text;
}

// Runs each modal form with the driver for its class; a form of no class
// listed fails the test.
class FormDriver {
public:
    template <class Form>
    void On(std::function<int(Form&)> drive)
    {
        drivers_.push_back([drive](QDialog& dialog, bool& handled) {
            auto* form = dynamic_cast<Form*>(&dialog);
            if (!form) return 0;
            handled = true;
            return drive(*form);
        });
    }
    gui::ScopedModalRunner Install()
    {
        return gui::ScopedModalRunner([this](QDialog& dialog) {
            ++shown;
            for (const auto& driver : drivers_) {
                bool handled = false;
                const int result = driver(dialog, handled);
                if (handled) return result;
            }
            ADD_FAILURE() << "no driver for " << dialog.windowTitle().toStdString();
            return static_cast<int>(QDialog::Rejected);
        });
    }
    int shown = 0;

private:
    std::vector<std::function<int(QDialog&, bool&)>> drivers_;
};

} // namespace dialogtest
