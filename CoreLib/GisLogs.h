// Log-file objects: a file name and an enabled flag. Nothing opens or writes
// these files; the log the program writes is the main window's own.
//
// When the unit starts it makes two of them, named after the program file
// with its extension replaced by ".Err" and by ".Wrk", and an empty list of
// log files. The list is freed when the unit ends; the two objects live until
// the process ends.
#pragma once

#include <string>
#include <utility>

#include "CoreLib/XLists.h"

class TLogFile {
public:
    explicit TLogFile(std::string fileName) : FileName(std::move(fileName)) {}

    std::string FileName;
    bool Enabled = true;
};

const TLogFile& ErrLogFile();
const TLogFile& WrkLogFile();
TObjectList<TLogFile>& LogFileList();
