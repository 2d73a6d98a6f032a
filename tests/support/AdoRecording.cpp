// The recording implementation of the ADO-like objects.
#include "tests/support/AdoRecording.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/ado/AdoRecordset.h"
#include "platform/ado/OdbcConnection.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace adorec {

// ---- state ----------------------------------------------------------------------------

struct TRecorder::TState {
    mutable std::mutex Lock;
    mutable std::condition_variable ConnectionGone;
    std::vector<std::string> Lines;
    TCatalog Catalog;
    std::map<std::string, TReply> Replies;
    std::set<int> FailAt;
    int Executed = 0;
    bool FailOpens = false;
    std::string OpenFailure;
    std::chrono::milliseconds OpenDelay{0};
    int Connections = 0;
    std::string LastConnectionString;

    void Add(std::string line)
    {
        const std::lock_guard<std::mutex> guard(Lock);
        Lines.push_back(std::move(line));
    }

    // Numbers a statement and writes its line; raises the failure made for it.
    void RunStatement(const std::string& line)
    {
        int number = 0;
        bool fails = false;
        {
            const std::lock_guard<std::mutex> guard(Lock);
            number = ++Executed;
            fails = FailAt.count(number) != 0;
            Lines.push_back(fails ? line + " -> fails" : line);
        }
        if (fails) throw ado::EAdoError(FailureMessage(number));
    }
};

namespace {

using TState = TRecorder::TState;

// ---- texts ----------------------------------------------------------------------------

std::string Quote(const std::string& s)
{
    std::string out = "'";
    for (const char c : s) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

std::string ValueText(const rtl::Variant& v)
{
    if (v.IsEmpty()) return "Empty";
    if (v.IsNull()) return "Null";
    if (v.VarType() == rtl::varBoolean) return v.AsBoolean() ? "True" : "False";
    if (v.IsString()) return Quote(v.AsString());
    if (v.IsByteArray()) return "<" + std::to_string(v.AsBytes().size()) + " bytes>";
    return rtl::VarToStr(v);
}

std::string TypeText(std::int32_t type)
{
    using namespace ado;
    static const std::map<std::int32_t, const char*> names = {
        {adEmpty, "adEmpty"},       {adSmallInt, "adSmallInt"},     {adInteger, "adInteger"},
        {adSingle, "adSingle"},     {adDouble, "adDouble"},         {adCurrency, "adCurrency"},
        {adDate, "adDate"},         {adBSTR, "adBSTR"},             {adBoolean, "adBoolean"},
        {adVariant, "adVariant"},   {adDecimal, "adDecimal"},       {adTinyInt, "adTinyInt"},
        {adBigInt, "adBigInt"},     {adBinary, "adBinary"},         {adChar, "adChar"},
        {adWChar, "adWChar"},       {adNumeric, "adNumeric"},       {adDBTimeStamp, "adDBTimeStamp"},
        {adVarNumeric, "adVarNumeric"}, {adVarChar, "adVarChar"},   {adLongVarChar, "adLongVarChar"},
        {adVarWChar, "adVarWChar"}, {adLongVarWChar, "adLongVarWChar"}, {adVarBinary, "adVarBinary"},
        {adLongVarBinary, "adLongVarBinary"},
    };
    const auto it = names.find(type);
    return it != names.end() ? it->second : std::to_string(type);
}

// Flags as their names joined by "+", unknown bits in hexadecimal.
std::string FlagsText(std::int32_t flags, const std::vector<std::pair<std::int32_t, const char*>>& names)
{
    if (flags == 0) return "0";
    std::string out;
    std::int32_t rest = flags;
    for (const auto& [bit, name] : names) {
        if ((flags & bit) != bit) continue;
        if (!out.empty()) out += "+";
        out += name;
        rest &= ~bit;
    }
    if (rest != 0) {
        if (!out.empty()) out += "+";
        out += rtl::Format("0x%X", static_cast<unsigned>(rest));
    }
    return out;
}

std::string OptionsText(std::int32_t options)
{
    if (options < 0) return std::to_string(options);
    return FlagsText(options, {{ado::adCmdText, "adCmdText"}, {ado::adExecuteNoRecords, "adExecuteNoRecords"}});
}

std::string AttributesText(std::int32_t attributes)
{
    return FlagsText(attributes, {{ado::adParamSigned, "adParamSigned"},
                                  {ado::adParamNullable, "adParamNullable"},
                                  {ado::adParamLong, "adParamLong"}});
}

std::string DirectionText(std::int32_t direction)
{
    return direction == ado::adParamInput ? "adParamInput" : std::to_string(direction);
}

std::string SchemaText(std::int32_t schema)
{
    using namespace ado;
    switch (schema) {
    case adSchemaCatalogs: return "adSchemaCatalogs";
    case adSchemaColumns: return "adSchemaColumns";
    case adSchemaIndexes: return "adSchemaIndexes";
    case adSchemaTables: return "adSchemaTables";
    case adSchemaProviderTypes: return "adSchemaProviderTypes";
    case adSchemaPrimaryKeys: return "adSchemaPrimaryKeys";
    case adSchemaDBInfoKeywords: return "adSchemaDBInfoKeywords";
    case adSchemaDBInfoLiterals: return "adSchemaDBInfoLiterals";
    default: return std::to_string(schema);
    }
}

std::string ListText(const std::vector<rtl::Variant>& values)
{
    std::string out;
    for (const rtl::Variant& v : values) out += (out.empty() ? "" : ", ") + ValueText(v);
    return out;
}

// ---- rowsets --------------------------------------------------------------------------

using TRow = std::vector<rtl::Variant>;

rtl::RefPtr<ado::TMemRecordset> Rowset(const std::vector<std::pair<const char*, std::int32_t>>& columns,
                                       const std::vector<TRow>& rows)
{
    std::vector<ado::TColumnInfo> infos;
    for (const auto& [name, type] : columns) {
        ado::TColumnInfo info;
        info.Name = name;
        info.Type = type;
        info.Attributes = ado::adFldIsNullable | ado::adFldMayBeNull;
        infos.push_back(std::move(info));
    }
    const auto rs = rtl::MakeRef<ado::TMemRecordset>(std::move(infos));
    for (const TRow& row : rows) rs->AddRow(row);
    return rs;
}

std::int32_t TypeOfValue(const rtl::Variant& v)
{
    if (v.VarType() == rtl::varBoolean) return ado::adBoolean;
    if (v.IsString()) return ado::adVarWChar;
    if (v.IsByteArray()) return ado::adLongVarBinary;
    if (v.VarType() == rtl::varDouble) return ado::adDouble;
    if (v.IsNumeric()) return ado::adInteger;
    return ado::adVariant;
}

rtl::RefPtr<ado::Recordset> ReplyRowset(const TReply& reply)
{
    std::vector<ado::TColumnInfo> infos;
    for (std::size_t i = 0; i < reply.Columns.size(); ++i) {
        ado::TColumnInfo info;
        info.Name = reply.Columns[i];
        info.Type = reply.Rows.empty() ? ado::adVarWChar : TypeOfValue(reply.Rows.front()[i]);
        info.Attributes = ado::adFldIsNullable | ado::adFldMayBeNull;
        infos.push_back(std::move(info));
    }
    const auto rs = rtl::MakeRef<ado::TMemRecordset>(std::move(infos));
    for (const auto& row : reply.Rows) rs->AddRow(row);
    return rs;
}

// Whether restriction i leaves value in.
bool Admits(const std::vector<rtl::Variant>& restrictions, std::size_t i, const std::string& value)
{
    return i >= restrictions.size() || restrictions[i].IsClear() || rtl::VarToStr(restrictions[i]) == value;
}

rtl::Variant Text(const std::string& s) { return rtl::Variant::OleStr(s); }
rtl::Variant Count(std::size_t n) { return rtl::Variant::LongWord(static_cast<std::uint32_t>(n)); }

rtl::RefPtr<ado::Recordset> SchemaRowset(const TCatalog& catalog, std::int32_t schema,
                                         const std::vector<rtl::Variant>& r)
{
    using namespace ado;
    const rtl::Variant null = rtl::Variant::Null();
    std::vector<TRow> rows;
    switch (schema) {
    case adSchemaTables:
        for (const TTable& t : catalog.Tables)
            if (Admits(r, 1, t.Schema) && Admits(r, 2, t.Name) && Admits(r, 3, t.Type))
                rows.push_back({null, Text(t.Schema), Text(t.Name), Text(t.Type)});
        return Rowset({{"TABLE_CATALOG", adVarWChar}, {"TABLE_SCHEMA", adVarWChar}, {"TABLE_NAME", adVarWChar},
                       {"TABLE_TYPE", adVarWChar}},
                      rows);
    case adSchemaColumns:
        for (const TTable& t : catalog.Tables) {
            if (!Admits(r, 1, t.Schema) || !Admits(r, 2, t.Name)) continue;
            for (std::size_t i = 0; i < t.Columns.size(); ++i) {
                const TColumn& c = t.Columns[i];
                if (!Admits(r, 3, c.Name)) continue;
                const std::int32_t flags =
                    (c.Long ? DBCOLUMNFLAGS_ISLONG : 0) | (c.Nullable ? DBCOLUMNFLAGS_ISNULLABLE : 0);
                rows.push_back({null, Text(t.Schema), Text(t.Name), Text(c.Name), Count(i + 1), Count(flags),
                                rtl::Variant(c.Nullable), rtl::Variant::Word(static_cast<std::uint16_t>(c.Type)),
                                c.Length > 0 ? Count(c.Length) : null,
                                c.Precision > 0 ? rtl::Variant::Word(static_cast<std::uint16_t>(c.Precision)) : null,
                                c.Precision > 0 ? rtl::Variant::SmallInt(static_cast<std::int16_t>(c.Scale)) : null});
            }
        }
        return Rowset({{"TABLE_CATALOG", adVarWChar}, {"TABLE_SCHEMA", adVarWChar}, {"TABLE_NAME", adVarWChar},
                       {"COLUMN_NAME", adVarWChar}, {"ORDINAL_POSITION", adUnsignedInt},
                       {"COLUMN_FLAGS", adUnsignedInt}, {"IS_NULLABLE", adBoolean},
                       {"DATA_TYPE", adUnsignedSmallInt}, {"CHARACTER_MAXIMUM_LENGTH", adUnsignedInt},
                       {"NUMERIC_PRECISION", adUnsignedSmallInt}, {"NUMERIC_SCALE", adSmallInt}},
                      rows);
    case adSchemaIndexes:
        for (const TTable& t : catalog.Tables) {
            if (!Admits(r, 1, t.Schema) || !Admits(r, 4, t.Name)) continue;
            for (const TIndex& x : t.Indexes) {
                if (!Admits(r, 2, x.Name)) continue;
                for (std::size_t k = 0; k < x.Columns.size(); ++k)
                    rows.push_back({null, Text(t.Schema), Text(t.Name), null, Text(t.Schema), Text(x.Name),
                                    rtl::Variant(x.Primary), rtl::Variant(x.Unique),
                                    rtl::Variant::Word(DBPROPVAL_IT_BTREE), Count(k + 1), Text(x.Columns[k])});
            }
        }
        return Rowset({{"TABLE_CATALOG", adVarWChar}, {"TABLE_SCHEMA", adVarWChar}, {"TABLE_NAME", adVarWChar},
                       {"INDEX_CATALOG", adVarWChar}, {"INDEX_SCHEMA", adVarWChar}, {"INDEX_NAME", adVarWChar},
                       {"PRIMARY_KEY", adBoolean}, {"UNIQUE", adBoolean}, {"TYPE", adUnsignedSmallInt},
                       {"ORDINAL_POSITION", adUnsignedInt}, {"COLUMN_NAME", adVarWChar}},
                      rows);
    case adSchemaPrimaryKeys:
        for (const TTable& t : catalog.Tables) {
            if (!Admits(r, 1, t.Schema) || !Admits(r, 2, t.Name)) continue;
            std::vector<std::string> key = t.PrimaryKey;
            std::string keyName = "PK_" + t.Name;
            if (key.empty())
                for (const TIndex& x : t.Indexes)
                    if (x.Primary) {
                        key = x.Columns;
                        keyName = x.Name;
                        break;
                    }
            for (std::size_t k = 0; k < key.size(); ++k)
                rows.push_back({null, Text(t.Schema), Text(t.Name), Text(key[k]), Count(k + 1), Text(keyName)});
        }
        return Rowset({{"TABLE_CATALOG", adVarWChar}, {"TABLE_SCHEMA", adVarWChar}, {"TABLE_NAME", adVarWChar},
                       {"COLUMN_NAME", adVarWChar}, {"ORDINAL", adUnsignedInt}, {"PK_NAME", adVarWChar}},
                      rows);
    case adSchemaProviderTypes:
        for (const TProviderType& p : catalog.ProviderTypes)
            rows.push_back({Text(p.Name), rtl::Variant::Word(static_cast<std::uint16_t>(p.Type)), p.ColumnSize,
                            p.MinimumScale, p.MaximumScale, rtl::Variant(p.Long)});
        return Rowset({{"TYPE_NAME", adVarWChar}, {"DATA_TYPE", adUnsignedSmallInt}, {"COLUMN_SIZE", adUnsignedInt},
                       {"MINIMUM_SCALE", adSmallInt}, {"MAXIMUM_SCALE", adSmallInt}, {"IS_LONG", adBoolean}},
                      rows);
    case adSchemaDBInfoLiterals:
        for (const auto& [name, literal] : std::vector<std::pair<const char*, std::int32_t>>{
                 {"DBLITERAL_COLUMN_NAME", DBLITERAL_COLUMN_NAME},
                 {"DBLITERAL_INDEX_NAME", DBLITERAL_INDEX_NAME},
                 {"DBLITERAL_TABLE_NAME", DBLITERAL_TABLE_NAME}})
            rows.push_back({Text(name), null, null, null, rtl::Variant(literal), rtl::Variant(true),
                            Count(static_cast<std::size_t>(catalog.MaxNameLength))});
        return Rowset({{"LITERAL_NAME", adVarWChar}, {"LITERAL_VALUE", adVarWChar}, {"INVALIDCHARS", adVarWChar},
                       {"INVALIDSTARTINGCHARS", adVarWChar}, {"LITERAL", adInteger}, {"SUPPORTED", adBoolean},
                       {"MAXLEN", adUnsignedInt}},
                      rows);
    case adSchemaDBInfoKeywords:
        for (const std::string& k : catalog.Keywords) rows.push_back({Text(k)});
        return Rowset({{"KEYWORD", adVarWChar}}, rows);
    case adSchemaCatalogs:
        for (const std::string& d : catalog.Databases) rows.push_back({Text(d), null});
        return Rowset({{"CATALOG_NAME", adVarWChar}, {"DESCRIPTION", adVarWChar}}, rows);
    default:
        throw ado::EAdoError(ado::SNotCapable);
    }
}

// ---- objects --------------------------------------------------------------------------

class TRecConnection;

class TRecProperty final : public ado::Property {
public:
    TRecProperty(std::shared_ptr<TState> state, std::string name) : state_(std::move(state)), name_(std::move(name)) {}
    std::string Name() const override { return name_; }
    rtl::Variant Value() const override { return value_; }
    void SetValue(const rtl::Variant& value) override
    {
        state_->Add("Connection.Properties[" + Quote(name_) + "].Value := " + ValueText(value));
        value_ = value;
    }

private:
    std::shared_ptr<TState> state_;
    std::string name_;
    rtl::Variant value_;
};

class TRecConnection final : public ado::Connection, private ado::Properties {
public:
    explicit TRecConnection(std::shared_ptr<TState> state) : state_(std::move(state))
    {
        const std::lock_guard<std::mutex> guard(state_->Lock);
        ++state_->Connections;
    }

    std::string Provider() const override { return provider_; }
    void SetProvider(const std::string& provider) override
    {
        state_->Add("Connection.Provider := " + Quote(provider));
        if (open_) throw ado::EAdoError(ado::SObjectOpen);
        provider_ = provider;
    }
    ado::Properties& Properties() override { return *this; }
    std::int32_t ConnectionTimeout() const override { return connectionTimeout_; }
    void SetConnectionTimeout(std::int32_t seconds) override
    {
        state_->Add("Connection.ConnectionTimeout := " + std::to_string(seconds));
        connectionTimeout_ = seconds;
    }
    std::int32_t CommandTimeout() const override { return commandTimeout_; }
    void SetCommandTimeout(std::int32_t seconds) override
    {
        state_->Add("Connection.CommandTimeout := " + std::to_string(seconds));
        commandTimeout_ = seconds;
    }
    void Open(const std::string& connectionString, const std::string& userID, const std::string& password,
              std::int32_t options) override
    {
        state_->Add("Connection.Open(" + Quote(connectionString) + ", " + Quote(userID) + ", " + Quote(password) +
                    ", " + std::to_string(options) + ")");
        if (open_) throw ado::EAdoError(ado::SObjectOpen);
        // What the implementation over unixODBC would connect with; it
        // refuses the properties it would refuse.
        std::vector<std::pair<std::string, rtl::Variant>> properties;
        for (const auto& p : properties_) properties.emplace_back(p->Name(), p->Value());
        const std::string text =
            ado::odbc::BuildConnectionString(ado::odbc::MapProvider(provider_, properties, userID, password));
        std::chrono::milliseconds delay{0};
        bool fails = false;
        std::string failure;
        {
            const std::lock_guard<std::mutex> guard(state_->Lock);
            state_->LastConnectionString = text;
            delay = state_->OpenDelay;
            fails = state_->FailOpens;
            failure = state_->OpenFailure;
        }
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
        if (fails) throw ado::EAdoError(failure);
        open_ = true;
    }
    void Close() override
    {
        state_->Add("Connection.Close");
        if (!open_) throw ado::EAdoError(ado::SObjectClosed);
        open_ = false;
        inTransaction_ = false;
    }
    std::int32_t State() const override { return open_ ? ado::adStateOpen : ado::adStateClosed; }
    std::int32_t BeginTrans() override
    {
        state_->Add("Connection.BeginTrans");
        CheckOpen();
        if (inTransaction_) throw ado::EAdoError("Nested transactions are not supported");
        inTransaction_ = true;
        return 1;
    }
    void CommitTrans() override
    {
        state_->Add("Connection.CommitTrans");
        EndTransaction();
    }
    void RollbackTrans() override
    {
        state_->Add("Connection.RollbackTrans");
        EndTransaction();
    }
    rtl::RefPtr<ado::Recordset> Execute(const std::string& commandText, rtl::Variant& recordsAffected,
                                        std::int32_t options) override
    {
        CheckOpen();
        state_->RunStatement("Connection.Execute(" + OptionsText(options) + "): " + commandText);
        return Answer(commandText, recordsAffected);
    }
    rtl::RefPtr<ado::Recordset> OpenSchema(std::int32_t schema, const std::vector<rtl::Variant>& restrictions) override
    {
        state_->Add("Connection.OpenSchema(" + SchemaText(schema) + ", [" + ListText(restrictions) + "])");
        CheckOpen();
        const std::lock_guard<std::mutex> guard(state_->Lock);
        return SchemaRowset(state_->Catalog, schema, restrictions);
    }

    // The reply to a statement that ran.
    rtl::RefPtr<ado::Recordset> Answer(const std::string& text, rtl::Variant& recordsAffected)
    {
        const std::lock_guard<std::mutex> guard(state_->Lock);
        const auto it = state_->Replies.find(text);
        if (it == state_->Replies.end()) {
            recordsAffected = rtl::Variant(std::int32_t(0));
            return rtl::MakeRef<ado::TMemRecordset>();
        }
        recordsAffected = rtl::Variant(std::int32_t(-1));
        return ReplyRowset(it->second);
    }
    void CheckOpen() const
    {
        if (!open_) throw ado::EAdoError(ado::SNoConnection);
    }

protected:
    ~TRecConnection() override
    {
        {
            const std::lock_guard<std::mutex> guard(state_->Lock);
            --state_->Connections;
        }
        state_->ConnectionGone.notify_all();
    }

private:
    ado::Property& Item(std::string_view name) override
    {
        if (provider_.empty()) throw ado::EAdoError(ado::SItemNotFound);
        for (const auto& p : properties_)
            if (rtl::SameTextLatin(p->Name(), name)) return *p;
        properties_.push_back(std::make_unique<TRecProperty>(state_, std::string(name)));
        return *properties_.back();
    }
    void EndTransaction()
    {
        CheckOpen();
        if (!inTransaction_) throw ado::EAdoError("No transaction is active");
        inTransaction_ = false;
    }

    std::shared_ptr<TState> state_;
    std::string provider_;
    std::vector<std::unique_ptr<TRecProperty>> properties_;
    std::int32_t connectionTimeout_ = 15;
    std::int32_t commandTimeout_ = 30;
    bool open_ = false;
    bool inTransaction_ = false;
};

class TRecParameter final : public ado::Parameter {
public:
    TRecParameter(std::shared_ptr<TState> state, int number, std::string name, std::int32_t type,
                  std::int32_t direction, std::int64_t size, const rtl::Variant& value)
        : state_(std::move(state)), number_(number), name_(std::move(name)), type_(type), direction_(direction),
          size_(size), value_(value)
    {
    }
    int Number() const noexcept { return number_; }
    std::string Name() const override { return name_; }
    std::int32_t Direction() const override { return direction_; }
    std::int32_t Type() const override { return type_; }
    void SetType(std::int32_t type) override
    {
        Write("Type", TypeText(type));
        type_ = type;
    }
    std::int64_t Size() const override { return size_; }
    void SetSize(std::int64_t size) override
    {
        Write("Size", std::to_string(size));
        size_ = size;
    }
    std::int32_t Attributes() const override { return attributes_; }
    void SetAttributes(std::int32_t attributes) override
    {
        Write("Attributes", AttributesText(attributes));
        attributes_ = attributes;
    }
    rtl::Variant Value() const override { return value_; }
    void SetValue(const rtl::Variant& value) override
    {
        Write("Value", ValueText(value));
        value_ = value;
    }

protected:
    ~TRecParameter() override = default;

private:
    void Write(const char* what, const std::string& value)
    {
        state_->Add("Parameter#" + std::to_string(number_) + "." + what + " := " + value);
    }

    std::shared_ptr<TState> state_;
    int number_;
    std::string name_;
    std::int32_t type_;
    std::int32_t direction_;
    std::int64_t size_;
    std::int32_t attributes_ = 0;
    rtl::Variant value_;
};

class TRecCommand final : public ado::Command, private ado::Parameters {
public:
    explicit TRecCommand(std::shared_ptr<TState> state) : state_(std::move(state)) {}

    ado::Connection* ActiveConnection() const override { return connection_.get(); }
    void SetActiveConnection(ado::Connection* connection) override
    {
        state_->Add(connection ? "Command.ActiveConnection := Connection" : "Command.ActiveConnection := Nothing");
        auto* own = dynamic_cast<TRecConnection*>(connection);
        if (connection && !own) throw ado::EAdoError(ado::SBadArguments);
        connection_ = own;
    }
    std::int32_t CommandTimeout() const override { return timeout_; }
    void SetCommandTimeout(std::int32_t seconds) override
    {
        state_->Add("Command.CommandTimeout := " + std::to_string(seconds));
        timeout_ = seconds;
    }
    std::string CommandText() const override { return text_; }
    void SetCommandText(const std::string& text) override
    {
        state_->Add("Command.CommandText := " + Quote(text));
        text_ = text;
    }
    bool Prepared() const override { return prepared_; }
    void SetPrepared(bool prepared) override
    {
        state_->Add(std::string("Command.Prepared := ") + (prepared ? "True" : "False"));
        prepared_ = prepared;
    }
    rtl::RefPtr<ado::Parameter> CreateParameter(const std::string& name, std::int32_t type, std::int32_t direction,
                                                std::int64_t size, const rtl::Variant& value) override
    {
        const int number = created_++;
        state_->Add("Command.CreateParameter(" + Quote(name) + ", " + TypeText(type) + ", " +
                    DirectionText(direction) + ", " + std::to_string(size) + ", " + ValueText(value) +
                    ") -> Parameter#" + std::to_string(number));
        return rtl::MakeRef<TRecParameter>(state_, number, name, type, direction, size, value);
    }
    ado::Parameters& Parameters() override { return *this; }
    rtl::RefPtr<ado::Recordset> Execute(rtl::Variant& recordsAffected, std::int32_t options) override
    {
        if (!connection_) throw ado::EAdoError(ado::SNoConnection);
        connection_->CheckOpen();
        std::string line = "Command.Execute(" + OptionsText(options) + "): " + text_;
        if (!params_.empty()) {
            std::vector<rtl::Variant> values;
            for (const auto& p : params_) values.push_back(p->Value());
            line += " with (" + ListText(values) + ")";
        }
        state_->RunStatement(line);
        return connection_->Answer(text_, recordsAffected);
    }

protected:
    ~TRecCommand() override = default;

private:
    std::int32_t Count() const override { return static_cast<std::int32_t>(params_.size()); }
    ado::Parameter& Item(std::int32_t index) override
    {
        if (index < 0 || static_cast<std::size_t>(index) >= params_.size()) throw ado::EAdoError(ado::SItemNotFound);
        return *params_[static_cast<std::size_t>(index)];
    }
    void Append(const rtl::RefPtr<ado::Parameter>& p) override
    {
        auto* own = dynamic_cast<TRecParameter*>(p.get());
        if (!own) throw ado::EAdoError(ado::SBadArguments);
        state_->Add("Command.Parameters.Append(Parameter#" + std::to_string(own->Number()) + ")");
        params_.emplace_back(own);
    }

    std::shared_ptr<TState> state_;
    rtl::RefPtr<TRecConnection> connection_;
    std::vector<rtl::RefPtr<TRecParameter>> params_;
    std::string text_;
    std::int32_t timeout_ = 30;
    bool prepared_ = false;
    int created_ = 0;
};

} // namespace

// ---- recorder -------------------------------------------------------------------------

class TRecorder::TImpl final : public ado::Implementation {
public:
    explicit TImpl(std::shared_ptr<TState> state) : state_(std::move(state)) {}
    rtl::RefPtr<ado::Connection> NewConnection() override { return rtl::MakeRef<TRecConnection>(state_); }
    rtl::RefPtr<ado::Command> NewCommand() override { return rtl::MakeRef<TRecCommand>(state_); }

private:
    std::shared_ptr<TState> state_;
};

std::string FailureMessage(int n) { return "Injected failure of statement " + std::to_string(n); }

TRecorder::TRecorder() : state_(std::make_shared<TState>()), impl_(std::make_unique<TImpl>(state_))
{
    previous_ = ado::SetImplementation(impl_.get());
}

TRecorder::~TRecorder() { ado::SetImplementation(previous_); }

TCatalog& TRecorder::Catalog() { return state_->Catalog; }

void TRecorder::Reply(const std::string& statement, TReply reply)
{
    const std::lock_guard<std::mutex> guard(state_->Lock);
    state_->Replies[statement] = std::move(reply);
}

void TRecorder::FailStatement(int n)
{
    const std::lock_guard<std::mutex> guard(state_->Lock);
    state_->FailAt.insert(state_->Executed + n);
}

void TRecorder::FailOpen(const std::string& message)
{
    const std::lock_guard<std::mutex> guard(state_->Lock);
    state_->FailOpens = true;
    state_->OpenFailure = message;
}

void TRecorder::DelayOpen(std::chrono::milliseconds delay)
{
    const std::lock_guard<std::mutex> guard(state_->Lock);
    state_->OpenDelay = delay;
}

std::vector<std::string> TRecorder::Transcript() const
{
    const std::lock_guard<std::mutex> guard(state_->Lock);
    return state_->Lines;
}

std::vector<std::string> TRecorder::Statements() const
{
    std::vector<std::string> out;
    for (const std::string& line : Transcript())
        if (line.starts_with("Command.Execute(") || line.starts_with("Connection.Execute(") ||
            line.ends_with("Trans"))
            out.push_back(line);
    return out;
}

void TRecorder::Clear()
{
    const std::lock_guard<std::mutex> guard(state_->Lock);
    state_->Lines.clear();
    state_->FailAt.clear();
    state_->Executed = 0;
}

int TRecorder::StatementCount() const
{
    const std::lock_guard<std::mutex> guard(state_->Lock);
    return state_->Executed;
}

int TRecorder::LiveConnections() const
{
    const std::lock_guard<std::mutex> guard(state_->Lock);
    return state_->Connections;
}

bool TRecorder::WaitForNoConnections(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(state_->Lock);
    return state_->ConnectionGone.wait_for(lock, timeout, [&] { return state_->Connections == 0; });
}

std::string TRecorder::ConnectionString() const
{
    const std::lock_guard<std::mutex> guard(state_->Lock);
    return state_->LastConnectionString;
}

} // namespace adorec
