// The Paradox driver: the BDE driver base over a folder of Paradox tables
// opened through the engine's "STANDARD" driver. It connects to the folder
// named by the "folder" parameter (with the "password" parameter for
// encrypted tables), makes its tables Paradox tables, compares names of
// fields and indexes case-insensitively, writes the layer's bracketed names
// in double quotes, and answers the four kinds of schema information.
//
// TPdoxUdb is the database class of the built-in driver "BDE.Paradox".
#pragma once

#include <memory>
#include <string>

#include "UdbProject/BDEUdbs.h"

// The connection parameters of the driver.
inline constexpr const char* PdoxFolderParam = "folder";
inline constexpr const char* PdoxPasswordParam = "password";

class TPdoxUdb : public TBDEUdb {
public:
    TPdoxUdb() = default;

    // The base's table object, of the Paradox table type.
    std::unique_ptr<bde::TBdeTable> NewTableComponent(const std::string& tableName) override;

protected:
    ~TPdoxUdb() override = default;

    rtl::RefPtr<TUdbTableDef> CreateTableDef() override;
    rtl::RefPtr<TUdbSQLCommand> CreateSQLCommand() override;
    void DoOpen() override;
    // "Relations", "LiteralInfo", "ReservedWords" and "DataTypesInfo";
    // nullptr for any other kind.
    rtl::RefPtr<IUdbCursor> CreateSchemaCursor(TUdbSchemaKind kind) override;
};
