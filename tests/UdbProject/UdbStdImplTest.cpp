// Tests of the in-memory cursor: appending rows with conversion to the
// column types, the refusals, the reserve of rows, the getters (through the
// base class, with defaults for Null), data sizes, names, and its life as a
// child of its database.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/UdbProject/FakeDriver.h"

namespace {

using fake::Assertion;
using fake::Raised;
using fake::Udb;
using rtl::Variant;

constexpr const char* kParams = R"(<driver name="Fake.Test"/>)";

class InMemoryCursorFixture : public ::testing::Test {
protected:
    fake::Engine engine;
    rtl::RefPtr<fake::Db> db = rtl::MakeRef<fake::Db>(engine);

    void SetUp() override { db->Open(kParams); }

    rtl::RefPtr<TInMemoryCursor> Make(const std::vector<TUdbFieldDef>& fields, std::int32_t capacity = 4)
    {
        return rtl::MakeRef<TInMemoryCursor>(db.get(), fields, capacity);
    }
};

TEST_F(InMemoryCursorFixture, ANewCursorIsAtItsEndUntilARowIsAppended)
{
    const auto cursor = Make({{"NAME", udtString, -1, true}});
    EXPECT_TRUE(cursor->Eof());
    EXPECT_EQ(Raised([&] { cursor->AsString("NAME", ""); }), Udb(UdbMsg::CursorClosed));
    cursor->AppendRow({Variant("first")});
    cursor->AppendRow({Variant("second")});
    ASSERT_FALSE(cursor->Eof());
    EXPECT_EQ(cursor->AsString("NAME", ""), "first");
    cursor->Next();
    EXPECT_EQ(cursor->AsString(0, ""), "second");
    cursor->Next();
    EXPECT_TRUE(cursor->Eof());
    cursor->Next(); // past the end stays at the end
    EXPECT_TRUE(cursor->Eof());
}

struct AppendCase {
    const char* name;
    TUdbDataType type;
    Variant value;
    rtl::TVarType storedType; // 0 when refused
    Variant stored;
    std::string raisesPrefix;
};

// Shows the value a row holds, as stored, without the cursor's conversions.
class TStoredValueCursor : public TInMemoryCursor {
public:
    using TInMemoryCursor::TInMemoryCursor;
    rtl::Variant Stored(std::int32_t index) { return GetVariant(index); }

protected:
    ~TStoredValueCursor() override = default;
};

TEST_F(InMemoryCursorFixture, AppendedValuesAreConvertedToTheirColumnType)
{
    const std::string badValue = Assertion("Invalid argument value (index = 1). ");
    const AppendCase cases[] = {
        {"OneIntoBooleanIsTrue", udtBoolean, Variant(1), rtl::varBoolean, Variant(true), ""},
        {"TextIntoInteger", udtInteger, Variant("12"), rtl::varInteger, Variant(12), ""},
        {"Int64IntoInteger", udtInteger, Variant(std::int64_t{5}), rtl::varInteger, Variant(5), ""},
        {"IntegerIntoFloat", udtFloat, Variant(3), rtl::varDouble, Variant(3.0), ""},
        {"FloatIntoCurrency", udtCurrency, Variant(1.5), rtl::varCurrency, Variant(rtl::Currency{15000}), ""},
        {"NumberIntoDateTime", udtDateTime, Variant(2.25), rtl::varDate, Variant::DateTime(2.25), ""},
        {"TimeIsADateTime", udtTime, Variant(0.5), rtl::varDate, Variant::DateTime(0.5), ""},
        {"OleStrIntoString", udtString, Variant::OleStr("abc"), rtl::varString, Variant("abc"), ""},
        {"NumberIntoMemo", udtMemo, Variant(42), rtl::varString, Variant("42"), ""},
        {"NullStaysNull", udtInteger, Variant::Null(), rtl::varNull, Variant::Null(), ""},
        {"NullBlob", udtBinary, Variant::Null(), rtl::varNull, Variant::Null(), ""},
        {"OtherTypesKeepTheValue", 0x0900, Variant::SmallInt(3), rtl::varSmallint, Variant::SmallInt(3), ""},
        {"TextThatIsNoIntegerRefused", udtInteger, Variant("abc"), 0, {}, badValue},
        {"BlobValueRefused", udtBinary, Variant(rtl::ByteArray{1}), 0, {}, badValue + "BLOB field not supported"},
        {"EmptyValueRefused", udtString, Variant(), 0, {}, badValue + "Unknown value"},
    };
    for (const AppendCase& c : cases) {
        SCOPED_TRACE(c.name);
        // The value under test goes into the second column.
        const auto cursor = rtl::MakeRef<TStoredValueCursor>(
            db.get(), std::vector<TUdbFieldDef>{{"ID", udtInteger, -1, true}, {"V", c.type, -1, false}}, 4);
        const std::string raised = Raised([&] { cursor->AppendRow({Variant(1), c.value}); });
        EXPECT_EQ(raised.substr(0, c.raisesPrefix.size()), c.raisesPrefix) << raised;
        if (c.storedType == 0) {
            EXPECT_NE(raised, "");
            // A refused row is not appended.
            EXPECT_EQ(cursor->RowCount(), 0);
            EXPECT_TRUE(cursor->Eof());
            continue;
        }
        EXPECT_EQ(raised, "");
        EXPECT_EQ(cursor->Stored(1).VarType(), c.storedType);
        const Variant stored = cursor->GetValue("V");
        if (c.stored.IsNull()) {
            EXPECT_TRUE(stored.IsNull());
            continue;
        }
        // GetValue gives the base type of the column (UTF-16 text for strings);
        // the stored value is checked through the driver-level getter.
        EXPECT_TRUE(stored.Equals(c.stored)) << stored.AsString();
    }
}

TEST_F(InMemoryCursorFixture, ARowNeedsOneValuePerColumn)
{
    const auto cursor = Make({{"A", udtInteger, -1, true}, {"B", udtInteger, -1, true}});
    EXPECT_EQ(Raised([&] { cursor->AppendRow({Variant(1), Variant(2), Variant(3)}); }),
              Assertion("Invalid procedure argument"));
    EXPECT_EQ(Raised([&] { cursor->AppendRow({Variant(1)}); }), Assertion("Invalid procedure argument"));
    EXPECT_EQ(cursor->RowCount(), 0);
}

TEST_F(InMemoryCursorFixture, ColumnsNeedANameAndAType)
{
    EXPECT_EQ(Raised([&] { Make({{"", udtInteger, -1, true}}); }), Assertion(rtl::SAssertionFailed));
    EXPECT_EQ(Raised([&] { Make({{"A", 0, -1, true}}); }), Assertion(rtl::SAssertionFailed));
}

TEST_F(InMemoryCursorFixture, TheReserveGrowsByTenRows)
{
    const auto cursor = Make({{"N", udtInteger, -1, true}}, 100);
    for (int i = 0; i < 100; ++i) cursor->AppendRow({Variant(i)});
    EXPECT_EQ(cursor->Capacity(), 100u);
    cursor->AppendRow({Variant(100)});
    EXPECT_EQ(cursor->Capacity(), 110u);
    EXPECT_EQ(cursor->RowCount(), 101);
}

TEST_F(InMemoryCursorFixture, GettersConvertAndGiveTheDefaultForNull)
{
    const auto cursor = Make({{"B", udtBoolean, -1, false},
                              {"I", udtInteger, -1, false},
                              {"F", udtFloat, -1, false},
                              {"C", udtCurrency, -1, false},
                              {"D", udtDateTime, -1, false},
                              {"S", udtString, -1, false}});
    cursor->AppendRow({Variant(true), Variant(7), Variant(0.5), Variant(2.5), Variant(10.25), Variant("Дорога")});
    cursor->AppendRow(std::vector<Variant>(6, Variant::Null()));

    EXPECT_TRUE(cursor->AsBoolean("B", false));
    EXPECT_EQ(cursor->AsInteger("I", -1), 7);
    EXPECT_EQ(cursor->AsFloat("F", -1), 0.5);
    EXPECT_EQ(cursor->AsCurrency("C", {}), rtl::Currency{25000});
    EXPECT_EQ(cursor->AsDateTime("D", -1), 10.25);
    EXPECT_EQ(cursor->AsString("S", ""), "Дорога");
    EXPECT_EQ(cursor->GetValue("S").VarType(), rtl::varOleStr);
    EXPECT_EQ(cursor->GetValue("D").VarType(), rtl::varDate);
    EXPECT_FALSE(cursor->IsNull("I"));

    cursor->Next();
    EXPECT_TRUE(cursor->IsNull("I"));
    EXPECT_FALSE(cursor->AsBoolean("B", false));
    EXPECT_EQ(cursor->AsInteger("I", 5), 5);
    EXPECT_EQ(cursor->AsFloat("F", 1.5), 1.5);
    EXPECT_EQ(cursor->AsCurrency("C", rtl::Currency{3}), rtl::Currency{3});
    EXPECT_EQ(cursor->AsDateTime("D", 2.0), 2.0);
    EXPECT_EQ(cursor->AsString("S", "нет"), "нет");
    EXPECT_TRUE(cursor->GetValue("S").IsNull());
}

TEST_F(InMemoryCursorFixture, DataSizeByTheColumnsBaseType)
{
    const auto cursor = Make({{"S", udtString, 40, false},
                              {"M", udtMemo, -1, false},
                              {"I", udtInteger, -1, false},
                              {"B", udtBinary, -1, false}});
    cursor->AppendRow({Variant("Привет"), Variant("abc"), Variant(7), Variant::Null()});
    cursor->AppendRow({Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()});
    const struct {
        const char* field;
        std::int32_t onValue;
        std::int32_t onNull;
    } cases[] = {
        {"S", 6, 0}, // characters, not bytes
        {"M", 3, 0},
        {"I", -1, -1},
        {"B", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(cursor->DataSize(c.field), c.onValue);
    }
    cursor->Next();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("null ") + c.field);
        EXPECT_EQ(cursor->DataSize(c.field), c.onNull);
    }
}

TEST_F(InMemoryCursorFixture, ColumnsAreKnownByTheirExactNames)
{
    const auto cursor = Make(SchemaKindColumns(uskRelations));
    EXPECT_EQ(cursor->FieldCount(), 3);
    EXPECT_EQ(cursor->FieldIndex("NAME"), 0);
    EXPECT_EQ(cursor->FieldIndex("name"), -1);
    EXPECT_EQ(cursor->FieldIndex("OBJTYPE"), 2);
    EXPECT_EQ(cursor->FieldName(1), "SYSTEM");
    EXPECT_EQ(cursor->FieldType("SYSTEM"), udtBoolean);
    EXPECT_EQ(cursor->FieldType(2), udtInteger);
}

TEST_F(InMemoryCursorFixture, CloseDropsTheRows)
{
    const auto cursor = Make({{"N", udtInteger, -1, true}});
    cursor->AppendRow({Variant(1)});
    cursor->Close();
    EXPECT_TRUE(cursor->Eof());
    EXPECT_EQ(cursor->RowCount(), 0);
    cursor->Close();
    EXPECT_TRUE(cursor->Eof());
}

TEST_F(InMemoryCursorFixture, ItBelongsToItsDatabaseLikeAnyCursor)
{
    const auto committed = Make({{"N", udtInteger, -1, true}});
    committed->AppendRow({Variant(1)});
    db->StartTransaction();
    db->Commit();
    EXPECT_TRUE(committed->Eof());

    const auto detached = Make({{"N", udtInteger, -1, true}});
    detached->AppendRow({Variant(1)});
    db->Close();
    EXPECT_EQ(Raised([&] { detached->AsInteger("N", 0); }), Udb(UdbMsg::DatabaseClosed));
    EXPECT_FALSE(detached->Eof());
    detached->Close();
    EXPECT_TRUE(detached->Eof());
}

TEST_F(InMemoryCursorFixture, SchemaInformationIsHandedOutOnItsFirstRow)
{
    engine.tables = {{"ROADS", {}, {}}, {"RIVERS", {}, {}}};
    const auto relations = db->GetSchemaInfo(uskRelations);
    EXPECT_EQ(relations->AsString("NAME", ""), "ROADS");
    EXPECT_FALSE(relations->AsBoolean("SYSTEM", true));
    EXPECT_EQ(relations->AsInteger("OBJTYPE", -1), 0);
    relations->Next();
    EXPECT_EQ(relations->AsString("NAME", ""), "RIVERS");
    relations->Next();
    EXPECT_TRUE(relations->Eof());
}

} // namespace
