// The layouts of a Velmo pair the change engine's tests run on: the SQLite
// test driver, the Paradox driver with the pair in two folders and in one.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "tests/support/PdoxOpener.h"
#include "tests/support/VelmoFixture.h"

namespace velmotest {

// A pair on one of the layouts the engine must work on.
class TPair {
public:
    virtual ~TPair() = default;
    virtual rtl::RefPtr<IUdb> Spatial() = 0;
    virtual rtl::RefPtr<IUdb> Semantic() = 0;
};

class TFixturePair : public TPair {
public:
    TFixturePair(const TVelmoDesc& desc, TUdbOpener opener) : pair_(desc, std::move(opener)) {}
    rtl::RefPtr<IUdb> Spatial() override { return pair_.SpatialDb(); }
    rtl::RefPtr<IUdb> Semantic() override { return pair_.SemanticDb(); }

private:
    TVelmoDbPair pair_;
};

class TOneFolderPair : public TPair {
public:
    explicit TOneFolderPair(const TVelmoDesc& desc) : pair_(desc) {}
    rtl::RefPtr<IUdb> Spatial() override { return pair_.SpatialDb(); }
    rtl::RefPtr<IUdb> Semantic() override { return pair_.SemanticDb(); }

private:
    TOneFolderPdoxPair pair_;
};

struct TLayout {
    const char* name;
    std::function<std::unique_ptr<TPair>(const TVelmoDesc&)> make;
    TUdbOpener opener; // for the layouts of TVelmoDbPair
};

inline const TLayout kSqliteLayout = {
    "SQLite", [](const TVelmoDesc& d) { return std::make_unique<TFixturePair>(d, SqliteOpener()); }, SqliteOpener()};
inline const TLayout kParadoxLayout = {
    "Paradox, two folders", [](const TVelmoDesc& d) { return std::make_unique<TFixturePair>(d, PdoxOpener()); },
    PdoxOpener()};
inline const TLayout kParadoxOneFolderLayout = {
    "Paradox, one folder", [](const TVelmoDesc& d) { return std::make_unique<TOneFolderPair>(d); }, {}};
inline const TLayout kLayouts[] = {kSqliteLayout, kParadoxLayout, kParadoxOneFolderLayout};

} // namespace velmotest
