// Files, paths, the program's own file name, GUIDs and system messages, over
// Linux: /proc/self/exe and dladdr for module names, stat(2) for existence,
// getrandom(2) for GUIDs.
//
// The path helpers split at "/" only. An extension is the text from the last
// "." of the name (the part after the last "/"), so a dot in a folder name
// never counts.
#include "platform/rtl/SysUtils.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <dlfcn.h>
#include <link.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace rtl {

namespace {

// User-facing texts.
constexpr const char* SInvalidGUID = "'%s' is not a valid GUID value";
constexpr const char* SOSError = "System Error. Code: %d.\n%s";

constexpr char kPathDelim = '/';

// strerror_r is the XSI one (int) or the GNU one (char*) by the feature
// macros; both are thread-safe, unlike strerror.
[[maybe_unused]] std::string StrerrorResult(int rc, const char* buffer, int error)
{
    return rc == 0 ? std::string(buffer) : Format("Unknown error %d", error);
}
[[maybe_unused]] std::string StrerrorResult(const char* text, const char*, int)
{
    return text;
}

// Position of the "." that starts the name's extension, or npos.
std::size_t ExtensionDot(std::string_view path)
{
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos) return dot;
    const std::size_t slash = path.rfind(kPathDelim);
    if (slash != std::string_view::npos && slash > dot) return std::string_view::npos;
    return dot;
}

int HexValue(char c) noexcept
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

// ---- module names -------------------------------------------------------------

std::string ProgramFileName()
{
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

// dladdr names the executable by argv[0], which may be relative or made up:
// the executable is recognised by its empty link-map name and named from
// /proc/self/exe instead. A library loaded by a relative path is made
// absolute.
std::string ModuleFileName(const void* addressInModule)
{
    Dl_info info{};
    link_map* map = nullptr;
    if (::dladdr1(addressInModule, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || map == nullptr ||
        map->l_name == nullptr || map->l_name[0] == '\0')
        return ProgramFileName();
    const std::string name = map->l_name;
    if (name.front() == kPathDelim) return name;
    const std::unique_ptr<char, decltype(&std::free)> full(::realpath(name.c_str(), nullptr), &std::free);
    return full ? std::string(full.get()) : name;
}

// ---- paths --------------------------------------------------------------------

std::string ExtractFilePath(std::string_view path)
{
    const std::size_t slash = path.rfind(kPathDelim);
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string ExtractFileName(std::string_view path)
{
    const std::size_t slash = path.rfind(kPathDelim);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtractFileExt(std::string_view path)
{
    const std::size_t dot = ExtensionDot(path);
    return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext)
{
    std::string out(path.substr(0, ExtensionDot(path)));
    out += ext;
    return out;
}

// "" becomes "/", as the class library makes "\" of it.
std::string IncludeTrailingPathDelimiter(std::string_view path)
{
    std::string out(path);
    if (out.empty() || out.back() != kPathDelim) out += kPathDelim;
    return out;
}

// Removes one trailing "/": "/" becomes "", so that
// ExcludeTrailingPathDelimiter(folder) + "/" + name never doubles the "/".
std::string ExcludeTrailingPathDelimiter(std::string_view path)
{
    if (!path.empty() && path.back() == kPathDelim) path.remove_suffix(1);
    return std::string(path);
}

// ---- files --------------------------------------------------------------------

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A folder is not deleted (unlink refuses it); errno tells why on false.
bool DeleteFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

std::string SysErrorMessage(int error)
{
    char buffer[256] = {};
    return StrerrorResult(::strerror_r(error, buffer, sizeof buffer), buffer, error);
}

std::string ComputerName()
{
    char buffer[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
    return buffer;
}

// ---- GUIDs --------------------------------------------------------------------

// Sixteen random bytes with the version (4) and variant (10xx) bits of a
// random GUID, as the system's GUID generator gives them.
TGuid CreateGuid()
{
    std::uint8_t bytes[16];
    std::size_t done = 0;
    while (done < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + done, sizeof bytes - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            throw EOSError(Format(SOSError, error, SysErrorMessage(error).c_str()));
        }
        done += static_cast<std::size_t>(n);
    }
    TGuid guid;
    guid.d1 = (static_cast<std::uint32_t>(bytes[0]) << 24) | (static_cast<std::uint32_t>(bytes[1]) << 16) |
              (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
    guid.d2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    guid.d3 = static_cast<std::uint16_t>((((bytes[6] << 8) | bytes[7]) & 0x0FFF) | 0x4000);
    for (std::size_t i = 0; i < guid.d4.size(); ++i) guid.d4[i] = bytes[8 + i];
    guid.d4[0] = static_cast<std::uint8_t>((guid.d4[0] & 0x3F) | 0x80);
    return guid;
}

std::string GuidToString(const TGuid& guid)
{
    const auto& d4 = guid.d4;
    return Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.d1, guid.d2, guid.d3, d4[0], d4[1],
                  d4[2], d4[3], d4[4], d4[5], d4[6], d4[7]);
}

// Exactly the 38 characters of the braced form: no blanks, no missing braces,
// the dashes where GuidToString puts them.
TGuid StringToGuid(std::string_view text)
{
    auto bad = [&]() { return EConvertError(Format(SInvalidGUID, std::string(text).c_str())); };
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') throw bad();
    std::size_t pos = 1;
    auto hex = [&](int digits) {
        std::uint32_t v = 0;
        for (int i = 0; i < digits; ++i) {
            const int d = HexValue(text[pos++]);
            if (d < 0) throw bad();
            v = (v << 4) | static_cast<std::uint32_t>(d);
        }
        return v;
    };
    auto dash = [&]() {
        if (text[pos++] != '-') throw bad();
    };
    TGuid guid;
    guid.d1 = hex(8);
    dash();
    guid.d2 = static_cast<std::uint16_t>(hex(4));
    dash();
    guid.d3 = static_cast<std::uint16_t>(hex(4));
    dash();
    guid.d4[0] = static_cast<std::uint8_t>(hex(2));
    guid.d4[1] = static_cast<std::uint8_t>(hex(2));
    dash();
    for (std::size_t i = 2; i < guid.d4.size(); ++i) guid.d4[i] = static_cast<std::uint8_t>(hex(2));
    return guid;
}

std::string CreateGuidString()
{
    return GuidToString(CreateGuid());
}

} // namespace rtl
