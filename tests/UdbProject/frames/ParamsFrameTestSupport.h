// Helpers of the connection-parameter frame's and the open-database dialog's
// tests: drivers defined by the test itself behind a real driver manager, a
// manager that answers from a script, reading parameter documents, and
// screenshots into the build folder.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include "CoreLib/SimpleParams.h"
#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbDrivers.h"
#include "UdbProject/UdbManagers.h"
#include "platform/rtl/Exceptions.h"
#include "tests/support/SqliteUdb.h"
#include "tests/support/TempFolder.h"

namespace framestest {

inline IXmlDocumentPtr Parse(const std::string& xml)
{
    const IXmlDocumentPtr doc = CreateXmlDocument();
    doc->LoadXML(xml);
    return doc;
}

// A parameter document read back: driver name and caption ("-" when the
// attribute is missing) and the parameters in document order.
struct TParamsDoc {
    std::string Name;
    std::string Caption;
    std::vector<std::pair<std::string, std::string>> Params;
    friend bool operator==(const TParamsDoc&, const TParamsDoc&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const TParamsDoc& doc)
{
    out << "{" << doc.Name << " / " << doc.Caption << ":";
    for (const auto& [name, value] : doc.Params) out << " " << name << "=" << value;
    return out << "}";
}

inline TParamsDoc ReadParams(const std::string& xml)
{
    const IXmlDocumentPtr doc = Parse(xml);
    const IXmlElementPtr root = doc->Get_DocumentElement();
    if (!root) throw rtl::Exception("no root in " + xml);
    TParamsDoc result;
    result.Name = root->AttrExists("name") ? root->GetAttr("name") : "-";
    result.Caption = root->AttrExists("caption") ? root->GetAttr("caption") : "-";
    if (root->Get_NodeName() != "driver") result.Name = "<" + root->Get_NodeName() + ">";
    const ISimpleParamsPtr params = CreateSimpleParams(root, false);
    const IXmlNodeListPtr children = root->Get_ChildNodes();
    for (int i = 0; i < children->Get_Count(); ++i) {
        const IXmlNodePtr child = children->Get_Item(i);
        if (child->Get_NodeType() != NODE_ELEMENT) continue;
        result.Params.emplace_back(child->GetAttr("name"), child->Get_Text());
    }
    return result;
}

// A driver of a registry of the test's own: its definition as XML, its
// databases of the given class (the SQLite test driver's by default), and an
// answer to "query-lookup-values" when one is given.
class TOwnDriver : public TUdbDriver {
public:
    TOwnDriver(std::string name, std::string definition, TRequestMethod lookup = nullptr,
               TUdbClass dbClass = UdbClassOf<TSqliteUdb>())
        : TUdbDriver(std::move(name), dbClass), definition_(std::move(definition))
    {
        if (lookup) RegisterRequestHandler("query-lookup-values", std::move(lookup));
    }
    void LoadDefinition() override { SetDefinition(Parse(definition_)->Get_DocumentElement()); }

private:
    std::string definition_;
};

// Drivers of the test's own behind a real driver manager that finds no
// library (its folder is empty).
class TOwnDrivers {
public:
    TOwnDrivers() = default;
    TOwnDrivers(const TOwnDrivers&) = delete;
    TOwnDrivers& operator=(const TOwnDrivers&) = delete;

    // definition: the "driver" element; its "name" is the driver's name.
    TOwnDrivers& Add(const std::string& definition, TRequestMethod lookup = nullptr,
                     TUdbClass dbClass = UdbClassOf<TSqliteUdb>())
    {
        const std::string name = Parse(definition)->Get_DocumentElement()->GetAttr("name");
        list.Add(std::make_unique<TOwnDriver>(name, definition, std::move(lookup), dbClass));
        return *this;
    }
    rtl::RefPtr<IUdbManager> Manager()
    {
        if (!manager_) manager_ = rtl::MakeRef<TUdbManager>(folder.Path() + "/", &list);
        return manager_;
    }

    testing_support::TempFolder folder;
    TUdbDriverList list;

private:
    rtl::RefPtr<IUdbManager> manager_;
};

// A manager whose every request is answered by a function (which may raise).
class TScriptedManager : public IUdbManager {
public:
    explicit TScriptedManager(std::function<std::string(const std::string&)> answer) : Answer(std::move(answer)) {}
    void Refresh() override { ++refreshes; }
    std::string XMLRequest(const std::string& request) override
    {
        requests.push_back(request);
        return Answer(request);
    }
    rtl::RefPtr<IUdb> CreateDatabase(const std::string&, bool) override
    {
        throw rtl::Exception("the scripted manager makes no database");
    }

    std::function<std::string(const std::string&)> Answer;
    std::vector<std::string> requests;
    int refreshes = 0;

protected:
    ~TScriptedManager() override = default;
};

// The widget as shown, saved as a PNG file in the build folder; the number
// of colours seen on every second pixel.
inline std::size_t SaveShot(QWidget& widget, const char* name)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    widget.render(&painter);
    painter.end();
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    EXPECT_TRUE(image.save(path, "PNG")) << path.toStdString();
    std::map<QRgb, int> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) ++colours[image.pixel(x, y)];
    return colours.size();
}

} // namespace framestest
