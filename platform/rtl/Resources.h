// Embedded resources, found by (type, name) as the program's resource
// section was.
//
// The build turns the files listed in a resource list (see
// cmake/EmbedResources.cmake) into a generated table that registers itself at
// start-up. Types and names compare ignoring the case of Latin letters;
// enumeration gives the names of a type in the order of the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rtl {

struct ResourceEntry {
    const char* type;
    const char* name;
    const std::uint8_t* data;
    std::size_t size;
};

struct ResourceData {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::string_view Bytes() const { return {reinterpret_cast<const char*>(data), size}; }
};

// Called by the generated tables; later tables are searched after earlier ones.
void RegisterResources(const ResourceEntry* entries, std::size_t count);
// The resource, or nullptr when there is none.
const ResourceData* FindResource(std::string_view type, std::string_view name);
// The names of every resource of a type, in list order.
std::vector<std::string> EnumResourceNames(std::string_view type);

} // namespace rtl
