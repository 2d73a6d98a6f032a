// The demo pair's description and its writer.
#include "tests/support/DemoPair.h"

#include <filesystem>
#include <stdlib.h>
#include <system_error>

#include "platform/rtl/Exceptions.h"
#include "tests/support/PdoxOpener.h"

namespace velmotest {

namespace {

namespace fs = std::filesystem;

std::string I(std::uint32_t number) { return Id(1, number); }

std::vector<rtl::Variant> SemRow(std::uint32_t object, const char* value)
{
    return {rtl::Variant(I(object)), rtl::Variant(std::string(value))};
}

} // namespace

std::vector<TDemoLayer> DemoLayers()
{
    return {
        {I(20), "Дома", {I(101), I(102), I(103)}},
        {I(21), "Дороги", {I(111), I(112)}},
        {I(22), "Реки", {I(121)}},
    };
}

TVelmoDesc DemoDesc()
{
    return TVelmoDesc()
        .Database("{D3A1C2B4-7E55-4A10-9C3B-5E0D1E000001}", "Демо: город Велмо", 265)
        .Counter(1, 1200)
        .Space(1, "{D3A1C2B4-7E55-4A10-9C3B-5E0D1E000101}")
        .Pref("NOID", "NOID", "NOID", "SERVERID", "demo-server")
        .Area(I(1), "Центр")
        .Area(I(2), "Пригород")
        .Project(I(3), I(1), "Генплан")
        .ProjMap(I(4), I(3), I(10))
        .Map(I(10), I(1), "План города", 3)
        .Map(I(11), I(2), "Снимки", 2)
        .Raster(I(12), I(11), "snimok.tif")
        .Layer(I(20), I(10), "Дома", I(70))
        .Layer(I(21), I(10), "Дороги", I(72))
        .Layer(I(22), I(10), "Реки", I(73))
        .Style(I(30), I(20), "Кирпичный")
        .Style(I(31), I(20), "Деревянный")
        .Style(I(32), I(21), "Асфальт")
        .Style(I(33), I(22), "Вода")
        .RefBook(I(40), "Материалы", "MATERIALS")
        .SemTable(TSemTableDesc(I(50), I(20), "Дома", "SEM_HOUSES")
                      .Rows({SemRow(101, "Кирпичный дом"), SemRow(102, "Деревянный дом"), SemRow(103, "Школа")}))
        .SemTable(TSemTableDesc(I(51), I(21), "Дороги", "SEM_ROADS")
                      .Rows({SemRow(111, "улица Ленина"), SemRow(112, "улица Мира")}))
        .Relation(I(60), "Примыкание", I(20), I(21))
        .Sector(TSectorDesc(I(70), I(20), {{I(101), {I(30)}}, {I(102), {I(31)}}}))
        .Sector(TSectorDesc(I(71), I(20), {{I(103), {I(30)}}}))
        .Sector(TSectorDesc(I(72), I(21), {{I(111), {I(32)}}, {I(112), {I(32)}}}))
        .Sector(TSectorDesc(I(73), I(22), {{I(121), {I(33)}}}))
        .Link(I(101), I(111))
        .Link(I(103), I(112));
}

void WriteDemoPair(const std::string& folder)
{
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || path.front() != '/') throw rtl::Exception("The demo folder must be an absolute path: " + folder);
    const fs::path target(path);
    if (fs::exists(target)) throw rtl::Exception("The demo folder exists already: " + path);
    fs::create_directories(target.parent_path());

    std::string pattern = (target.parent_path() / (target.filename().string() + ".partial-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw rtl::EOSError("mkdtemp failed for " + pattern);
    const fs::path partial(pattern);
    try {
        {
            const TVelmoDbPair pair(DemoDesc(), PdoxOpener());
            for (const char* half : {"spatial", "semantic"})
                for (const auto& entry : fs::directory_iterator(fs::path(pair.Folder()) / half))
                    fs::copy_file(entry.path(), partial / entry.path().filename());
        }
        fs::rename(partial, target);
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(partial, ignored);
        throw;
    }
}

} // namespace velmotest
