// Files, paths, the program's own file name, GUIDs and system messages.
//
// Paths are Linux paths with "/" as the only separator; names compare
// case-sensitively.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace rtl {

// The executable's full path, read from /proc/self/exe.
std::string ProgramFileName();
// The full path of the shared object (or the executable) that holds the given
// address (dladdr); the program file name when it cannot be told.
std::string ModuleFileName(const void* addressInModule);

// The folder of a path with its trailing "/" ("" when there is none).
std::string ExtractFilePath(std::string_view path);
// The name after the last "/".
std::string ExtractFileName(std::string_view path);
// The extension of the name, with its ".", or "".
std::string ExtractFileExt(std::string_view path);
// The path with its extension replaced by ext (which carries its ".").
std::string ChangeFileExt(std::string_view path, std::string_view ext);
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string ExcludeTrailingPathDelimiter(std::string_view path);

bool FileExists(const std::string& path);      // a file, not a folder
bool DirectoryExists(const std::string& path);
bool DeleteFile(const std::string& path);
// The system's text for an errno value.
std::string SysErrorMessage(int error);
// The name of this computer (gethostname).
std::string ComputerName();

struct TGuid {
    std::uint32_t d1 = 0;
    std::uint16_t d2 = 0;
    std::uint16_t d3 = 0;
    std::array<std::uint8_t, 8> d4{};
    friend bool operator==(const TGuid&, const TGuid&) = default;
};

// A new random (version 4) GUID.
TGuid CreateGuid();
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", 38 characters, upper case.
std::string GuidToString(const TGuid& guid);
// Reads the braced form (hex digits in either case); EConvertError
// "'%s' is not a valid GUID value" otherwise.
TGuid StringToGuid(std::string_view text);
// GuidToString(CreateGuid()).
std::string CreateGuidString();

} // namespace rtl
