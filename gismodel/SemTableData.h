// The description of one semantic (attribute) table and its additional-data
// blob (VELMO_SEMTABLS.REFBOOKFIELD).
//
// A semantic table's columns and indexes live in the semantic database; what
// that database cannot hold about a column (its caption and, for a column
// that refers to a reference book, the book's identifier, key field and
// displayed fields) is kept in the blob. TSemTableData joins the two: it
// takes the columns and indexes from the table definition, applies the
// additional data read from the blob, and writes the additional data back
// (always in the current layout, version 287).
//
// Reading is all or nothing: the whole blob is decoded and checked first and
// the description changes only when it is sound. A blob of a newer version,
// a length that does not fit the bytes left or its field, or bytes after the
// last record is refused with EAdditionalDataError; DataVersion is restored
// on every way out.
//
// The blob can also be read and written record by record
// (ReadAdditionalDataRecords, WriteAdditionalDataRecords), without a table
// definition: every stored record comes back whole, also those of columns the
// table no longer has, so a rewrite that changes one record loses nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CoreLib/ArrayUtils.h"
#include "CoreLib/RefObjects.h"
#include "UdbProject/Udbs.h"
#include "gismodel/BinIDs.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/Streams.h"

class IXmlNode;

// A malformed or unsupported additional-data blob.
class EAdditionalDataError : public rtl::EReadError {
    using rtl::EReadError::EReadError;
};

// The 31 bytes that open a versioned blob: the length byte 21, the 21
// Windows-1251 characters of "Дополнительные данные" and 9 zero bytes.
inline constexpr std::size_t AdditionalDataSignatureSize = 31;
extern const std::uint8_t AdditionalDataSignature[AdditionalDataSignatureSize];

// One field record of the blob as stored, nothing cut. Records of the
// layout before version 284 store no caption: it reads as the name.
struct TAdditionalDataRecord {
    std::string Name;
    std::string Caption;
    // Empty: no reference book; the record then stores no key field and no
    // display fields.
    std::string RefBookIDText;
    std::string RefBookKeyField;
    std::vector<std::string> DisplayFields;

    // The reference book a description reads from this record (the first 12
    // characters of RefBookIDText), 0 when none or unreadable.
    BinID RefBookID() const;

    friend bool operator==(const TAdditionalDataRecord&, const TAdditionalDataRecord&) = default;
};

// The records of one blob.
struct TAdditionalData {
    // The version the blob was stored in (283 without the signature); 0 for
    // a blob of fewer than 33 bytes, which holds no additional data.
    std::uint16_t Version = 0;
    std::vector<TAdditionalDataRecord> Records;
};

// Every record of the blob from the stream's position to its end, checked as
// TSemTableData::LoadStructure checks it (EAdditionalDataError); DataVersion
// is restored on every way out.
TAdditionalData ReadAdditionalDataRecords(rtl::TStream& stream);
// The blob of these records in the current layout (version 287), written at
// the stream's position. A record without RefBookIDText is written without
// its key and display fields (the layout has no place for them). Nothing is
// written when a record cannot be stored (a character outside Windows-1251,
// more than 32767 records or display fields).
void WriteAdditionalDataRecords(rtl::TStream& stream, const std::vector<TAdditionalDataRecord>& records);

// One column of a table.
class TFieldData : public TRefObject {
public:
    TFieldData() = default;

    // The field-description element: attributes "ID", "Name", "Caption",
    // "DataType", "DataSize", "Required". Loading changes nothing when a
    // required attribute is missing or the data type is unknown.
    virtual void LoadFromXml(IXmlNode& node);
    virtual void SaveToXml(IXmlNode& node) const;

    BinID ID = 0;
    std::string Name;
    TUdbDataType DataType = 0;
    std::int32_t DataSize = 0;
    bool Required = false;
    std::string Caption;

protected:
    ~TFieldData() override = default;
};

// A column of a semantic table, with its reference book (RefBookID 0: none).
class TSemFieldData : public TFieldData {
public:
    TSemFieldData() = default;

    // Adds "RefBookID", "RefBookKeyField" and "RefBookDisplayFields" (the
    // display fields joined by ";"), written only when RefBookID is not 0.
    void LoadFromXml(IXmlNode& node) override;
    void SaveToXml(IXmlNode& node) const override;

    BinID RefBookID = 0;
    std::string RefBookKeyField;
    TStrArray RefBookDisplayFields;

protected:
    ~TSemFieldData() override = default;
};

// One index: its column names separated by ";" and its flags.
class TIndexData : public TRefObject {
public:
    TIndexData() = default;

    std::string Fields;
    bool Primary = false;
    bool Unique = false;

protected:
    ~TIndexData() override = default;
};

// The class of the field objects a list creates: FieldDataClassOf<T>().
using TFieldDataClass = rtl::RefPtr<TFieldData> (*)();

template <class T>
rtl::RefPtr<TFieldData> CreateFieldDataOf()
{
    return rtl::RefPtr<TFieldData>(new T());
}

template <class T>
constexpr TFieldDataClass FieldDataClassOf() noexcept
{
    return &CreateFieldDataOf<T>;
}

class TFieldDataList : public TRefObjectListOf<TFieldData> {
public:
    TFieldDataList() : TRefObjectListOf<TFieldData>(false) {}

    // Item index (rtl::EListError outside the list).
    TFieldData* GetItem(int index) const { return Get(index); }
    // The first field whose Name equals name ignoring letter case, or nullptr.
    TFieldData* FindField(const std::string& name) const;
    // Replaces the list by one new fieldClass object per column of tableDef:
    // Name and Caption the column name, DataType, DataSize and Required from
    // its definition. The list is unchanged when the definition fails.
    void LoadFromTableDef(IUdbTableDef& tableDef, TFieldDataClass fieldClass);
};

class TSemFieldDataList : public TFieldDataList {
public:
    // Item index as a TSemFieldData (rtl::EInvalidCast when it is another
    // kind of field).
    TSemFieldData* GetItem(int index) const;
};

class TIndexDataList : public TRefObjectListOf<TIndexData> {
public:
    TIndexDataList() : TRefObjectListOf<TIndexData>(false) {}

    TIndexData* GetItem(int index) const { return Get(index); }
    // Replaces the list by one TIndexData per index of tableDef (the index
    // name is not kept). The list is unchanged when the definition fails.
    void LoadFromTableDef(IUdbTableDef& tableDef);
};

// A semantic table: its columns with their additional data, and its indexes.
class TSemTableData : public TRefObject {
public:
    TSemTableData() = default;

    // Fields and Indexes from tableDef, then the additional data read from
    // stream's position to its end (none when stream is nullptr or fewer
    // than 33 bytes remain). Records of unknown columns are skipped; columns
    // without a record keep Caption = Name and no reference book. On failure
    // (EAdditionalDataError, or the table definition's own error) Fields and
    // Indexes are left as they were.
    void LoadStructure(IUdbTableDef& tableDef, rtl::TStream* stream);
    // Writes the blob of the current Fields in the version-287 layout at the
    // stream's position. Nothing is written when a field cannot be stored (a
    // character outside Windows-1251, more than 32767 fields or display
    // fields).
    void SaveAdditionalData(rtl::TStream& stream) const;

    TSemFieldDataList Fields;
    TIndexDataList Indexes;

protected:
    ~TSemTableData() override = default;
};
