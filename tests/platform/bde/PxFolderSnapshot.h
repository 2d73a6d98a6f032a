// Every file of a folder with its bytes, compared and put back: what the
// engine's tests and the change engine's kill tests look at on disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace bde::test {

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Every file of a folder with its bytes.
using Snapshot = std::map<std::string, std::vector<std::uint8_t>>;
inline Snapshot TakeSnapshot(const std::string& folder)
{
    Snapshot s;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.is_regular_file()) s[e.path().filename().string()] = ReadFileBytes(e.path().string());
    return s;
}
// The files that differ between two snapshots ("" when none), for messages
// that name them instead of dumping their bytes.
inline std::string Differences(const Snapshot& was, const Snapshot& now)
{
    std::string out;
    const auto note = [&](const std::string& name, const char* how) {
        out += (out.empty() ? "" : ", ") + name + " " + how;
    };
    for (const auto& [name, bytes] : was) {
        const auto it = now.find(name);
        if (it == now.end()) note(name, "is gone");
        else if (it->second != bytes) note(name, "changed");
    }
    for (const auto& [name, bytes] : now)
        if (!was.count(name)) note(name, "is new");
    return out;
}
inline void RestoreSnapshot(const std::string& folder, const Snapshot& s)
{
    for (const auto& e : std::filesystem::directory_iterator(folder)) std::filesystem::remove(e.path());
    for (const auto& [name, bytes] : s) WriteFileBytes(folder + "/" + name, bytes);
}

} // namespace bde::test
