// Tests of the control group, the observer lists (memberships on both sides,
// changes during a notification, destruction of either side at any time),
// the word filter with Cyrillic text and the string builder.
#include "CoreLib/AClasses.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace {

// ---- TControlGroup ----------------------------------------------------------------

class TFakeControl : public IControlGroupItem {
public:
    TFakeControl(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
    void SetEnabled(bool value) override { log_.push_back(name_ + (value ? " enabled" : " disabled")); }
    void SetVisible(bool value) override { log_.push_back(name_ + (value ? " shown" : " hidden")); }

private:
    std::string name_;
    std::vector<std::string>& log_;
};

TEST(TControlGroup, SwitchesEveryControlInListOrder)
{
    std::vector<std::string> log;
    TFakeControl bar("bar", log), cancel("cancel", log);
    TControlGroup group;
    group.AddControls({&bar, nullptr});
    group.AddControls({&cancel});
    EXPECT_EQ(group.Count(), 3);
    EXPECT_EQ(group.Get(2), &cancel);

    group.SetEnabled(false);
    group.SetVisible(true);
    EXPECT_EQ(log, (std::vector<std::string>{"bar disabled", "cancel disabled", "bar shown", "cancel shown"}));
    EXPECT_THROW(group.Get(3), rtl::EListError);
}

// ---- TNotifyList / TNotifyClient ----------------------------------------------------

// A client that records its calls and can run an action when called.
class TProbeClient : public TNotifyClient {
public:
    TProbeClient(std::string name, std::vector<std::string>& calls) : name_(std::move(name)), calls_(calls) {}
    void Call()
    {
        calls_.push_back(name_);
        if (onCall) onCall();
    }
    std::function<void()> onCall;

private:
    std::string name_;
    std::vector<std::string>& calls_;
};

void NotifyAll(TNotifyList& list)
{
    list.Notify([](TNotifyClient& c) { static_cast<TProbeClient&>(c).Call(); });
}

class NotifyListTest : public ::testing::Test {
protected:
    std::vector<std::string> calls;
    TProbeClient a{"a", calls}, b{"b", calls}, c{"c", calls};
};

TEST_F(NotifyListTest, MembershipsAreRecordedOnBothSides)
{
    TNotifyList first, second;
    first.Add(&a);
    first.Add(&b);
    second.Add(&a);
    first.Add(&a);
    EXPECT_EQ(first.Clients(), (std::vector<TNotifyClient*>{&a, &b, &a}));
    EXPECT_EQ(a.Lists(), (std::vector<TNotifyList*>{&first, &second, &first}));

    first.Remove(&a);
    EXPECT_EQ(first.Clients(), (std::vector<TNotifyClient*>{&b, &a})) << "the first entry goes";
    EXPECT_EQ(a.Lists(), (std::vector<TNotifyList*>{&second, &first}));

    first.Remove(&c);
    EXPECT_EQ(first.Clients().size(), 2u) << "removing a stranger changes nothing";
    EXPECT_TRUE(c.Lists().empty());
}

TEST_F(NotifyListTest, ClientAddedDuringNotificationWaitsForTheNextOne)
{
    TNotifyList list;
    list.Add(&a);
    a.onCall = [&] { list.Add(&b); a.onCall = nullptr; };
    NotifyAll(list);
    EXPECT_EQ(calls, (std::vector<std::string>{"a"}));
    EXPECT_EQ(list.Clients(), (std::vector<TNotifyClient*>{&a, &b}));
    EXPECT_TRUE(list.Pending().empty());

    calls.clear();
    NotifyAll(list);
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b"}));
}

TEST_F(NotifyListTest, ClientRemovedDuringNotificationLeavesAHoleSweptAtTheEnd)
{
    TNotifyList list;
    list.Add(&a);
    list.Add(&b);
    list.Add(&c);
    const std::vector<TNotifyClient*>& clients = list.BeginNotify();
    list.Remove(&b);
    EXPECT_EQ(clients, (std::vector<TNotifyClient*>{&a, nullptr, &c})) << "the walk keeps its positions";
    EXPECT_TRUE(b.Lists().empty());
    list.EndNotify();
    EXPECT_EQ(list.Clients(), (std::vector<TNotifyClient*>{&a, &c}));
    EXPECT_EQ(list.LockCount(), 0);
}

TEST_F(NotifyListTest, RemovedClientIsNotCalledByTheRunningNotification)
{
    TNotifyList list;
    list.Add(&a);
    list.Add(&b);
    a.onCall = [&] { list.Remove(&b); };
    NotifyAll(list);
    EXPECT_EQ(calls, (std::vector<std::string>{"a"}));
    EXPECT_EQ(list.Clients(), (std::vector<TNotifyClient*>{&a}));
}

TEST_F(NotifyListTest, OnlyTheOutermostNotificationSweepsAndAppends)
{
    TNotifyList list;
    list.Add(&a);
    list.Add(&b);
    list.BeginNotify();
    list.BeginNotify();
    list.Remove(&a);
    list.Add(&c);
    list.EndNotify();
    EXPECT_EQ(list.Clients(), (std::vector<TNotifyClient*>{nullptr, &b}));
    EXPECT_EQ(list.Pending(), (std::vector<TNotifyClient*>{&c}));
    list.EndNotify();
    EXPECT_EQ(list.Clients(), (std::vector<TNotifyClient*>{&b, &c}));
    EXPECT_THROW(list.EndNotify(), rtl::EAssertionFailed) << "an EndNotify without BeginNotify";
}

TEST_F(NotifyListTest, RemoveDuringNotificationEndsExactlyOneMembership)
{
    struct Case {
        const char* name;
        bool memberBefore;          // in Clients before the notification
        int addedDuring;            // Add calls while it runs
        std::size_t membershipsAfter;
    };
    const Case cases[] = {
        {"pending client leaves Pending", false, 1, 0},
        {"one of two pending entries goes", false, 2, 1},
        {"member and pending: the member entry goes", true, 1, 1},
    };
    for (const Case& k : cases) {
        TNotifyList list;
        if (k.memberBefore) list.Add(&a);
        list.BeginNotify();
        for (int i = 0; i < k.addedDuring; ++i) list.Add(&a);
        list.Remove(&a);
        list.EndNotify();
        // Every membership left is recorded once in the client's Lists.
        const std::size_t memberships = list.Clients().size();
        EXPECT_EQ(a.Lists().size(), memberships) << k.name;
        EXPECT_EQ(memberships, k.membershipsAfter) << k.name;
        for (TNotifyClient* m : list.Clients()) EXPECT_EQ(m, &a) << k.name;
        a.DetachAll();
    }
}

TEST_F(NotifyListTest, DestroyedClientLeavesEveryList)
{
    TNotifyList first, second;
    {
        TProbeClient d("d", calls);
        first.Add(&d);
        second.Add(&d);
        first.Add(&a);
        first.Add(&d);
    }
    EXPECT_EQ(first.Clients(), (std::vector<TNotifyClient*>{&a}));
    EXPECT_TRUE(second.Clients().empty());
}

TEST_F(NotifyListTest, ClientDestroyedDuringNotificationIsSkipped)
{
    TNotifyList list;
    auto d = std::make_unique<TProbeClient>("d", calls);
    list.Add(&a);
    list.Add(d.get());
    list.Add(&b);
    a.onCall = [&] { d.reset(); };
    NotifyAll(list);
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(list.Clients(), (std::vector<TNotifyClient*>{&a, &b}));
}

TEST_F(NotifyListTest, DestroyedListLeavesItsClients)
{
    TNotifyList other;
    {
        TNotifyList list;
        list.Add(&a);
        list.Add(&a);
        other.Add(&a);
        list.BeginNotify();
        list.Add(&b);
        list.EndNotify();
        list.BeginNotify();
        list.Add(&c);
        list.EndNotify();
        list.BeginNotify();
        list.Add(&c); // still pending when the list goes
        // destroyed while notifying: nothing is raised from the destructor
    }
    EXPECT_EQ(a.Lists(), (std::vector<TNotifyList*>{&other}));
    EXPECT_TRUE(b.Lists().empty());
    EXPECT_TRUE(c.Lists().empty());
}

TEST_F(NotifyListTest, FreeDuringNotificationIsRefusedAndTheListLives)
{
    auto list = std::make_unique<TNotifyList>();
    list->Add(&a);
    list->Add(&b);
    std::string message;
    a.onCall = [&] {
        try {
            TNotifyList::Free(list);
        } catch (const rtl::Exception& e) {
            message = e.Message();
        }
    };
    NotifyAll(*list);
    EXPECT_EQ(message, "!!!!");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b"})) << "the walk went on";

    a.onCall = nullptr;
    TNotifyList::Free(list);
    EXPECT_EQ(list, nullptr);
    EXPECT_TRUE(a.Lists().empty());
    EXPECT_TRUE(b.Lists().empty());
}

TEST_F(NotifyListTest, ListDestroyedInsideItsOwnWalkStopsTheWalk)
{
    auto list = std::make_unique<TNotifyList>();
    list->Add(&a);
    list->Add(&b);
    list->Add(&c);
    b.onCall = [&] {
        // a nested walk is under way too
        list->Notify([&](TNotifyClient& k) {
            if (&k == &c) list.reset();
        });
    };
    NotifyAll(*list);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(a.Lists().empty());
    EXPECT_TRUE(c.Lists().empty());
}

TEST_F(NotifyListTest, NotificationEndsWhenAClientRaises)
{
    TNotifyList list;
    list.Add(&a);
    list.Add(&b);
    a.onCall = [&] {
        list.Add(&c);
        throw rtl::Exception("boom");
    };
    EXPECT_THROW(NotifyAll(list), rtl::Exception);
    EXPECT_EQ(list.LockCount(), 0);
    EXPECT_EQ(list.Clients(), (std::vector<TNotifyClient*>{&a, &b, &c}));
}

// ---- TWordsFilter -----------------------------------------------------------------

TEST(TWordsFilter, SplitsAtBlanksAndControlCharactersAndUpperCases)
{
    struct Case {
        const char* name;
        const char* text;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"two Cyrillic beginnings, two blanks", "сло  дор", {"СЛО", "ДОР"}},
        {"tabs, line breaks, blanks at the ends", "\t ab\r\ncd  ", {"AB", "CD"}},
        {"control characters split", "x\x01y\x1Fz", {"X", "Y", "Z"}},
        {"ё and Latin", "ёж Road", {"ЁЖ", "ROAD"}},
        {"only blanks", "   ", {}},
        {"empty", "", {}},
    };
    for (const Case& c : cases) {
        const TWordsFilter f(c.text);
        EXPECT_EQ(f.Words(), c.words) << c.name;
        EXPECT_EQ(f.Text(), c.text) << c.name;
    }
}

TEST(TWordsFilter, MatchesWhenEveryWordStartsAWord)
{
    struct Case {
        const char* filter;
        const char* text;
        bool matches;
    };
    const Case cases[] = {
        {"сло  дор", "Граница слоя; дороги", true},
        {"сло  дор", "дорогослой", false},
        {"сло  дор", "слой", false},
        {"ДОР", "дорога", true},
        {"road", "Main ROAD", true},
        {"ёж", "Ёжик", true},
        {"ad", "road", false},
        {"", "anything", true},
        {"  ", "", true},
        {"a", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TWordsFilter(c.filter).Matches(c.text), c.matches) << c.filter << " / " << c.text;
}

TEST(TWordsFilter, SetTextReplacesTheWords)
{
    TWordsFilter f("one two");
    f.SetText("one two");
    EXPECT_EQ(f.Words(), (std::vector<std::string>{"ONE", "TWO"}));
    f.SetText("три");
    EXPECT_EQ(f.Words(), (std::vector<std::string>{"ТРИ"}));
    EXPECT_EQ(f.Text(), "три");
    f.SetText("");
    EXPECT_TRUE(f.Words().empty());
    EXPECT_TRUE(f.Matches("x"));
}

// ---- TStringBuilder -----------------------------------------------------------------

TEST(TStringBuilder, BufferGrowsByTheStepRule)
{
    struct Step {
        std::string appended;
        std::size_t buffer; // after the append
    };
    const Step steps[] = {
        {"abc", 7},                  // 3 -> 3 + 4
        {"defgh", 12},               // 8 -> 8 + 4
        {"ijkl", 12},                // 12 fits
        {"m", 29},                   // 13 -> 13 + 16
        {std::string(51, 'x'), 80},  // 64 -> 64 + 16
        {"y", 80},                   // 65 fits
        {std::string(16, 'z'), 101}, // 81 -> 81 + 20
        {"", 101},                   // nothing
    };
    TStringBuilder sb;
    std::string expected;
    for (const Step& s : steps) {
        sb.Append(s.appended);
        expected += s.appended;
        EXPECT_EQ(sb.BufferSize(), s.buffer) << "after " << expected.size();
    }
    EXPECT_EQ(sb.ToString(), expected);
    EXPECT_EQ(sb.Len(), static_cast<int>(expected.size()));

    sb.Init();
    EXPECT_EQ(sb.ToString(), "");
    EXPECT_EQ(sb.Len(), 0);
    EXPECT_EQ(sb.BufferSize(), 0u);
}

TEST(TStringBuilder, InsertAtCharacterPositions)
{
    struct Case {
        const char* name;
        int position;
        const char* text;
    };
    const Case cases[] = {
        {"at 1", 1, "[]абвг"},
        {"below 1 clamps to 1", -5, "[]абвг"},
        {"in the middle, counted in characters", 3, "аб[]вг"},
        {"at Len + 1", 5, "абвг[]"},
        {"past the end clamps", 99, "абвг[]"},
    };
    for (const Case& c : cases) {
        TStringBuilder sb;
        sb.Append("абвг");
        sb.Insert(c.position, "[]");
        EXPECT_EQ(sb.ToString(), c.text) << c.name;
        EXPECT_EQ(sb.Len(), 6) << c.name;
    }
}

TEST(TStringBuilder, MalformedTextChangesNothing)
{
    TStringBuilder sb;
    sb.Append("ab");
    EXPECT_THROW(sb.Append("\xD0"), rtl::EEncodingError);
    EXPECT_EQ(sb.ToString(), "ab");
    EXPECT_EQ(sb.Len(), 2);
}

} // namespace
