// One-dimensional variant arrays: bounds kept as made, elements converted to
// the element type, deep copies, nesting, equality and the failures.
#include "platform/rtl/Variant.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "platform/rtl/Exceptions.h"

namespace {

using namespace rtl;

std::string VariantErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EVariantTypeCastError& e) {
        return "cast: " + e.Message();
    } catch (const EVariantError& e) {
        return e.Message();
    } catch (const Exception& e) {
        return "other: " + e.Message();
    }
    return "no exception";
}

TEST(VariantArray, KeepsItsBoundsAndElementType)
{
    struct Case {
        const char* name;
        int low, high;
        TVarType element;
        Variant initial;
    };
    const Case cases[] = {
        {"variants from 0", 0, 2, varVariant, Variant()},         {"integers from 5", 5, 7, varInteger, Variant(0)},
        {"texts from -2", -2, 0, varOleStr, Variant::OleStr("")}, {"Booleans", 1, 1, varBoolean, Variant(false)},
        {"empty, high = low - 1", 3, 2, varVariant, Variant()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Variant a = VarArrayCreate(c.low, c.high, c.element);
        EXPECT_EQ(a.VarType(), varArray | c.element);
        EXPECT_TRUE(VarIsArray(a));
        EXPECT_EQ(a.ArrayLowBound(), c.low);
        EXPECT_EQ(a.ArrayHighBound(), c.high);
        for (int i = c.low; i <= c.high; ++i) {
            EXPECT_EQ(a.GetElement(i).VarType(), c.initial.VarType()) << i;
            EXPECT_TRUE(a.GetElement(i).Equals(c.initial)) << i;
        }
    }
}

TEST(VariantArray, ElementsTakeTheElementType)
{
    Variant ints = VarArrayCreate(1, 3, varInteger);
    ints.PutElement(1, Variant("42"));
    ints.PutElement(2, Variant(2.5));
    ints.PutElement(3, Variant(true));
    EXPECT_EQ(ints.GetElement(1).VarType(), varInteger);
    EXPECT_EQ(ints.GetElement(1).AsInteger(), 42);
    EXPECT_EQ(ints.GetElement(2).AsInteger(), 2) << "half to even";
    EXPECT_EQ(ints.GetElement(3).AsInteger(), -1);

    Variant any = VarArrayCreate(0, 1, varVariant);
    any.PutElement(0, Variant::OleStr("имя"));
    any.PutElement(1, Variant::DateTime(2.0));
    EXPECT_EQ(any.GetElement(0).VarType(), varOleStr);
    EXPECT_EQ(any.GetElement(0).AsString(), "имя");
    EXPECT_EQ(any.GetElement(1).VarType(), varDate);
}

TEST(VariantArray, FailedConversionLeavesTheElement)
{
    Variant ints = VarArrayCreate(0, 0, varInteger);
    ints.PutElement(0, Variant(7));
    EXPECT_THROW(ints.PutElement(0, Variant("seven")), EConvertError);
    EXPECT_EQ(ints.GetElement(0).AsInteger(), 7);
}

TEST(VariantArray, CopiesAreIndependent)
{
    Variant a = VarArrayOf({Variant(1), Variant("x")});
    Variant b = a;
    b.PutElement(0, Variant(2));
    EXPECT_EQ(a.GetElement(0).AsInteger(), 1);
    EXPECT_EQ(b.GetElement(0).AsInteger(), 2);
    Variant c;
    c = b;
    b.PutElement(1, Variant("y"));
    EXPECT_EQ(c.GetElement(1).AsString(), "x");
}

TEST(VariantArray, AMovedFromArrayIsEmpty)
{
    Variant a = VarArrayOf({Variant(1), Variant(2)});
    const Variant b = std::move(a);
    EXPECT_EQ(b.ArrayHighBound(), 1);
    EXPECT_EQ(a.ArrayLowBound(), 0); // NOLINT(bugprone-use-after-move): the state after a move is defined
    EXPECT_EQ(a.ArrayHighBound(), -1);
    EXPECT_EQ(VariantErrorOf([&] { a.PutElement(0, Variant(1)); }), "Variant or safe array index out of bounds");
}

TEST(VariantArray, ArraysNestAsRowsOfAListing)
{
    Variant listing = VarArrayCreate(0, 1, varVariant);
    listing.PutElement(0, VarArrayOf({Variant("a"), Variant(1)}));
    listing.PutElement(1, VarArrayOf({Variant("b"), Variant(2)}));
    const Variant row = listing.GetElement(1);
    ASSERT_TRUE(row.IsArray());
    EXPECT_EQ(row.GetElement(0).AsString(), "b");
    EXPECT_EQ(row.GetElement(1).AsInteger(), 2);
}

TEST(VariantArray, VarArrayOfRunsFromZero)
{
    const Variant a = VarArrayOf({Variant(3), Variant(1), Variant(2)});
    EXPECT_EQ(a.VarType(), varArray | varVariant);
    EXPECT_EQ(a.ArrayLowBound(), 0);
    EXPECT_EQ(a.ArrayHighBound(), 2);
    EXPECT_EQ(a.GetElement(0).VarType(), varInteger);
    const Variant none = VarArrayOf({});
    EXPECT_EQ(none.ArrayLowBound(), 0);
    EXPECT_EQ(none.ArrayHighBound(), -1);
}

TEST(VariantArray, ByteArraysAreArraysFromZero)
{
    Variant bytes(ByteArray{10, 20, 30});
    EXPECT_TRUE(bytes.IsArray());
    EXPECT_EQ(bytes.ArrayLowBound(), 0);
    EXPECT_EQ(bytes.ArrayHighBound(), 2);
    EXPECT_EQ(bytes.GetElement(1).VarType(), varByte);
    EXPECT_EQ(bytes.GetElement(1).AsInteger(), 20);
    bytes.PutElement(2, Variant(255));
    EXPECT_EQ(bytes.AsBytes(), (ByteArray{10, 20, 255}));
    EXPECT_EQ(VariantErrorOf([&] { bytes.PutElement(0, Variant(256)); }),
              "Overflow while converting variant of type (Integer) into type (Byte)");

    const Variant made = VarArrayCreate(0, 3, varByte);
    EXPECT_EQ(made.VarType(), varByteArray);
    EXPECT_EQ(made.AsBytes(), ByteArray(4, 0));
}

TEST(VariantArray, Equality)
{
    Variant ints = VarArrayCreate(0, 1, varInteger);
    ints.PutElement(0, Variant(1));
    ints.PutElement(1, Variant(2));
    Variant shifted = VarArrayCreate(1, 2, varInteger);
    shifted.PutElement(1, Variant(1));
    shifted.PutElement(2, Variant(2));
    struct Case {
        const char* name;
        Variant a, b;
        bool equal;
    };
    const Case cases[] = {
        {"same elements", VarArrayOf({Variant(1), Variant("x")}), VarArrayOf({Variant(1), Variant("x")}), true},
        {"elements compare by value", VarArrayOf({Variant(1)}), VarArrayOf({Variant(1.0)}), true},
        {"different element", VarArrayOf({Variant(1)}), VarArrayOf({Variant(2)}), false},
        {"different length", VarArrayOf({Variant(1)}), VarArrayOf({Variant(1), Variant(1)}), false},
        {"different bounds", ints, shifted, false},
        {"different element types", ints, VarArrayOf({Variant(1), Variant(2)}), false},
        {"array and number", VarArrayOf({Variant(0)}), Variant(0), false},
        {"array and Empty", VarArrayOf({}), Variant(), false},
        {"array and bytes", VarArrayOf({}), Variant(ByteArray{}), false},
        {"nested rows", VarArrayOf({VarArrayOf({Variant("a")})}), VarArrayOf({VarArrayOf({Variant("a")})}), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a.Equals(c.b), c.equal);
        EXPECT_EQ(c.b.Equals(c.a), c.equal);
    }
}

TEST(VariantArray, Failures)
{
    const Variant a = VarArrayCreate(1, 2, varVariant);
    struct Case {
        const char* name;
        std::function<void()> action;
        const char* message;
    };
    const Case cases[] = {
        {"index below the low bound", [&] { a.GetElement(0); }, "Variant or safe array index out of bounds"},
        {"index above the high bound", [&] { a.GetElement(3); }, "Variant or safe array index out of bounds"},
        {"put out of bounds",
         [&] {
             Variant b = a;
             b.PutElement(INT_MIN, Variant(1));
         },
         "Variant or safe array index out of bounds"},
        {"bounds of a number", [] { Variant(5).ArrayLowBound(); }, "Invalid argument"},
        {"bounds of Empty", [] { Variant().ArrayHighBound(); }, "Invalid argument"},
        {"element of a text", [] { Variant("abc").GetElement(0); }, "Invalid argument"},
        {"high below low - 1", [] { VarArrayCreate(0, -2, varVariant); }, "Error creating variant or safe array"},
        {"element type Empty", [] { VarArrayCreate(0, 1, varEmpty); }, "Error creating variant or safe array"},
        {"element type Null", [] { VarArrayCreate(0, 1, varNull); }, "Error creating variant or safe array"},
        {"byte array not from 0", [] { VarArrayCreate(1, 2, varByte); }, "Error creating variant or safe array"},
        {"array as text", [&] { (void)a.AsString(); },
         "cast: Could not convert variant of type (Array Variant) into type (String)"},
        {"array as integer", [&] { (void)a.AsInteger(); },
         "cast: Could not convert variant of type (Array Variant) into type (Integer)"},
    };
    for (const Case& c : cases) EXPECT_EQ(VariantErrorOf(c.action), c.message) << c.name;
}

TEST(VariantArray, BoundsAtTheEndsOfTheIntegerRange)
{
    Variant a = VarArrayCreate(INT_MAX - 1, INT_MAX, varInteger);
    EXPECT_EQ(a.ArrayHighBound(), INT_MAX);
    a.PutElement(INT_MAX, Variant(9));
    EXPECT_EQ(a.GetElement(INT_MAX).AsInteger(), 9);
    const Variant b = VarArrayCreate(INT_MIN, INT_MIN, varVariant);
    EXPECT_EQ(b.ArrayLowBound(), INT_MIN);
    EXPECT_EQ(VariantErrorOf([&] { b.GetElement(INT_MAX); }), "Variant or safe array index out of bounds");
}

} // namespace
