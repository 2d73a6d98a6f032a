// What the table and query objects share: the dataset base (the session and
// database it works on, its fields, end-of-data and next), the field object
// through which a row's values are read (and, for a table being appended
// to, written), and the parameters of a query.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/bde/BdeTypes.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Variant.h"

namespace bde {

class TBdeDataSet;
class TBdeDatabase;

// One field of the dataset's current row.
class TBdeField {
public:
    TBdeField(TBdeDataSet& owner, int index, std::string name, TFieldType type, int size, bool required);

    const std::string& FieldName() const noexcept { return name_; }
    int Index() const noexcept { return index_; }       // 0-based position
    int FieldNo() const noexcept { return index_ + 1; } // 1-based position
    TFieldType DataType() const noexcept { return type_; }
    int Size() const noexcept { return size_; }
    bool Required() const noexcept { return required_; }

    bool IsNull() const;
    // The value as the field type gives it: String and Memo as UTF-8 text,
    // Smallint/Integer/AutoInc/Word as integers, Boolean, Float and BCD as
    // doubles, Currency as currency, Date/Time/DateTime as date-times, other
    // blobs and Bytes as byte arrays; Null for a blank field.
    rtl::Variant Value() const;
    // The typed readers give 0, False or "" for a blank field.
    bool AsBoolean() const;
    std::int32_t AsInteger() const;
    double AsFloat() const;
    rtl::Currency AsCurrency() const;
    double AsDateTime() const;
    std::string AsString() const;
    // Only while a row is being appended (tables).
    void SetValue(const rtl::Variant& value);

    bool IsBlob() const noexcept { return IsBlobFieldType(type_); }
    // Bytes of the blob (a memo's UTF-8 text); 0 for other fields.
    std::int64_t BlobSize() const;
    // Bytes the engine gives a value of this type (String: size + 1, Integer
    // 4, Float 8, ...; blobs 0).
    int DataSize() const noexcept;
    // A stream over the blob's bytes, positioned at 0. EBdeError for a field
    // that is not a blob.
    std::unique_ptr<rtl::TStream> CreateBlobStream() const;

private:
    TBdeDataSet& owner_;
    int index_;
    std::string name_;
    TFieldType type_;
    int size_;
    bool required_;
};

class TBdeDataSet {
public:
    TBdeDataSet() = default;
    virtual ~TBdeDataSet();
    TBdeDataSet(const TBdeDataSet&) = delete;
    TBdeDataSet& operator=(const TBdeDataSet&) = delete;

    const std::string& SessionName() const noexcept { return sessionName_; }
    void SetSessionName(std::string name);
    const std::string& DatabaseName() const noexcept { return databaseName_; }
    void SetDatabaseName(std::string name);
    bool CacheBlobs() const noexcept { return cacheBlobs_; }
    void SetCacheBlobs(bool value) noexcept { cacheBlobs_ = value; }

    bool Active() const noexcept { return active_; }
    virtual bool Eof() const = 0;
    virtual void Next() = 0;
    virtual void Close() = 0;

    // Fields of the open dataset.
    int FieldCount() const noexcept { return static_cast<int>(fields_.size()); }
    TBdeField& Field(int index);
    TBdeField* FindField(std::string_view name);
    // EBdeError naming the field when there is none.
    TBdeField& FieldByName(std::string_view name);

    // ---- for the database object ----
    // The database disconnects: the dataset closes and lets go of it.
    virtual void DatabaseClosing() noexcept = 0;
    // What the dataset is called in messages.
    virtual std::string Describe() const = 0;
    // The dataset is open on that table (which may then not be dropped or renamed).
    virtual bool UsesTable(std::string_view) const { return false; }

protected:
    friend class TBdeField;
    // The value of a field of the current row (Null without one).
    virtual rtl::Variant FieldValue(int index) const = 0;
    virtual void SetFieldValue(int index, const rtl::Variant& value);

    // The connected database of the session and database names; the dataset
    // is attached to it until Detach.
    TBdeDatabase& AttachDatabase();
    TBdeDatabase* Attached() const noexcept { return database_; }
    void Detach() noexcept;
    void CheckInactive(const char* what) const;

    std::vector<std::unique_ptr<TBdeField>> fields_;
    bool active_ = false;

private:
    std::string sessionName_;
    std::string databaseName_;
    bool cacheBlobs_ = true;
    TBdeDatabase* database_ = nullptr;
};

// One parameter of a query.
class TBdeParam {
public:
    explicit TBdeParam(std::string name) : name_(std::move(name)) {}

    const std::string& Name() const noexcept { return name_; }
    TParamType ParamType() const noexcept { return paramType_; }
    void SetParamType(TParamType type) noexcept { paramType_ = type; }
    TFieldType DataType() const noexcept { return dataType_; }
    void SetDataType(TFieldType type) noexcept { dataType_ = type; }

    // Empty until a value is given; Null after Clear().
    const rtl::Variant& Value() const noexcept { return value_; }
    void SetValue(rtl::Variant value) { value_ = std::move(value); }
    void Clear() { value_ = rtl::Variant::Null(); }
    bool IsNull() const noexcept { return value_.IsClear(); }
    bool Bound() const noexcept { return !value_.IsEmpty(); }
    // The value becomes a copy of `size` bytes at `data`; a parameter that is
    // not of a blob type becomes ftBlob.
    void SetBlobData(const void* data, std::size_t size);

private:
    std::string name_;
    TParamType paramType_ = ptUnknown;
    TFieldType dataType_ = ftUnknown;
    rtl::Variant value_;
};

class TBdeParams {
public:
    int Count() const noexcept { return static_cast<int>(items_.size()); }
    TBdeParam& operator[](int index);
    const TBdeParam& operator[](int index) const;
    TBdeParam* FindParam(std::string_view name);
    // EBdeError naming the parameter when there is none.
    TBdeParam& ParamByName(std::string_view name);
    void Clear() noexcept { items_.clear(); }
    TBdeParam& Add(std::string name);
    // Copies definitions and values.
    void Assign(const TBdeParams& other);

private:
    std::vector<TBdeParam> items_;
};

} // namespace bde
