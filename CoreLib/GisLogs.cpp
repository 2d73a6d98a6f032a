// The two log-file objects and the list of log files.
#include "CoreLib/GisLogs.h"

#include "platform/rtl/SysUtils.h"

const TLogFile& ErrLogFile()
{
    static const TLogFile log(rtl::ChangeFileExt(rtl::ProgramFileName(), ".Err"));
    return log;
}

const TLogFile& WrkLogFile()
{
    static const TLogFile log(rtl::ChangeFileExt(rtl::ProgramFileName(), ".Wrk"));
    return log;
}

TObjectList<TLogFile>& LogFileList()
{
    static TObjectList<TLogFile> list;
    return list;
}

namespace {
// Start-up: the two objects, then the list.
[[maybe_unused]] const bool startUp = (ErrLogFile(), WrkLogFile(), LogFileList(), true);
} // namespace
