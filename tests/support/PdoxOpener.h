// The Paradox driver as an opener of the Velmo test pair: each database is a
// folder of Paradox tables of its own under the pair's folder.
//
// The Velmo schema has two kinds of column wider than a Paradox field can be:
// String(256) (an Alpha field holds 255 characters) and Binary(250) (a blob
// keeps at most 240 bytes in the record). The test database class creates
// such columns at those limits; everything else is the driver as it is.
#pragma once

#include <string>

#include "UdbProject/PdoxUdbs.h"
#include "tests/support/VelmoFixture.h"

namespace velmotest {

// The parameter document of the Paradox driver on folder, with a password
// when one is given.
std::string PdoxParamsXml(const std::string& folder, const char* password = nullptr);

// TPdoxUdb whose new tables have their String and Binary columns cut to the
// widths a Paradox field can hold.
class TCappedPdoxUdb : public TPdoxUdb {
protected:
    ~TCappedPdoxUdb() override = default;

    rtl::RefPtr<TUdbTableDef> CreateTableDef() override;
};

// TCappedPdoxUdb on <folder>/<name>, the folder made when missing.
TUdbOpener PdoxOpener();

} // namespace velmotest
