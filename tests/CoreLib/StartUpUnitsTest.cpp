// Tests of the small units that set up shared objects at start-up: the time
// counter tree, the log-file objects (which never make a file), the global
// string list and the language manager.
#include "CoreLib/GisLogs.h"
#include "CoreLib/LangManagers.h"
#include "CoreLib/LongOperations.h"
#include "CoreLib/TimeCounters.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

// A counter that reports its destruction.
class WatchedCounter : public TTimeCounter {
public:
    WatchedCounter(std::string name, std::vector<std::string>& log) : TTimeCounter(std::move(name)), log_(log) {}
    ~WatchedCounter() override { log_.push_back(Name); }

private:
    std::vector<std::string>& log_;
};

TEST(TimeCounters, ParentsFollowAddingAndDeleting)
{
    std::vector<std::string> freed;
    TTimeCounter root("root");
    TTimeCounter* a = root.Add(std::make_unique<WatchedCounter>("a", freed));
    TTimeCounter* b = root.Add(std::make_unique<WatchedCounter>("b", freed));
    TTimeCounter* a1 = a->Add(std::make_unique<WatchedCounter>("a1", freed));
    a->Add(std::make_unique<WatchedCounter>("a2", freed));
    EXPECT_EQ(a->Parent(), &root);
    EXPECT_EQ(a1->Parent(), a);
    EXPECT_EQ(root.Count(), 2);
    EXPECT_EQ(root.IndexOf(b), 1);

    root.Delete(1);
    EXPECT_THAT(freed, ElementsAre("b"));
    EXPECT_EQ(root.Count(), 1);

    // Destroying a counter frees its children, then it leaves its parent.
    delete a1;
    EXPECT_THAT(freed, ElementsAre("b", "a1"));
    EXPECT_EQ(a->Count(), 1);
    delete a;
    EXPECT_THAT(freed, UnorderedElementsAre("b", "a1", "a2", "a"));
    EXPECT_EQ(root.Count(), 0);
    EXPECT_THROW(root.Delete(0), rtl::EListError);
    EXPECT_THROW(root.Get(-1), rtl::EListError);
}

TEST(TimeCounters, RootMadeAtStartUp)
{
    EXPECT_EQ(RootTimeCounter().Name, "");
    EXPECT_EQ(RootTimeCounter().Parent(), nullptr);
    EXPECT_EQ(RootTimeCounter().Count(), 0);
}

TEST(GisLogs, TwoNamedLogFilesThatNothingOpens)
{
    const std::string program = rtl::ProgramFileName();
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(ErrLogFile().FileName, rtl::ChangeFileExt(program, ".Err"));
    EXPECT_EQ(WrkLogFile().FileName, rtl::ChangeFileExt(program, ".Wrk"));
    EXPECT_THAT(ErrLogFile().FileName, ::testing::EndsWith("CoreLib_tests.Err"));
    EXPECT_TRUE(ErrLogFile().Enabled);
    EXPECT_TRUE(WrkLogFile().Enabled);
    EXPECT_FALSE(rtl::FileExists(ErrLogFile().FileName));
    EXPECT_FALSE(rtl::FileExists(WrkLogFile().FileName));
    EXPECT_EQ(LogFileList().Count(), 0);
    EXPECT_TRUE(TLogFile("x").Enabled) << "enabled from construction";
}

TEST(LongOperations, GlobalStringListStartsEmpty) { EXPECT_TRUE(LongOperationStrings().empty()); }

// An item that reports its destruction.
class WatchedItem : public TLangManagerItem {
public:
    explicit WatchedItem(int& freed) : freed_(freed) {}
    ~WatchedItem() override { ++freed_; }

private:
    int& freed_;
};

TEST(LangManagers, LanguagesAndOwnedItems)
{
    EXPECT_THAT(LangManager().Languages, ElementsAre("Russian", "English"));
    EXPECT_EQ(LangManager().CurrentLanguage, "Russian");
    EXPECT_EQ(LangManager().Count(), 0);

    int freed = 0;
    {
        TLangManager manager;
        manager.Add(std::make_unique<WatchedItem>(freed));
        manager.Add(std::make_unique<WatchedItem>(freed));
    }
    EXPECT_EQ(freed, 2) << "the manager frees what it holds";
}

} // namespace
