// The registry of embedded resources: the tables generated from resource lists
// (cmake/GenerateResources.cmake) register themselves here during static
// initialisation, and the program finds its resources by type and name as it
// found them in its module's resource section.
//
// Tables are searched in the order they were registered, each in list order;
// the first resource whose type and name match, ignoring Latin case, wins. A
// library loaded later may register a table of its own, so registration and
// look-up share one lock.
#include "platform/rtl/Resources.h"

#include <deque>
#include <mutex>

#include "platform/rtl/TextUtils.h"

namespace rtl {

namespace {

struct Resource {
    std::string_view type;
    std::string_view name;
    ResourceData data;
};

// A deque, so that the ResourceData handed out stays where it is while later
// tables are appended.
struct Registry {
    std::mutex lock;
    std::deque<Resource> resources;
};

// Function-local: the generated tables register before main, in whatever order
// the linker put the translation units, so the registry must exist on first
// use.
Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

} // namespace

void RegisterResources(const ResourceEntry* entries, std::size_t count)
{
    Registry& registry = TheRegistry();
    const std::lock_guard<std::mutex> guard(registry.lock);
    for (std::size_t i = 0; i < count; ++i) {
        const ResourceEntry& e = entries[i];
        registry.resources.push_back({e.type, e.name, {e.data, e.size}});
    }
}

const ResourceData* FindResource(std::string_view type, std::string_view name)
{
    Registry& registry = TheRegistry();
    const std::lock_guard<std::mutex> guard(registry.lock);
    for (const Resource& r : registry.resources)
        if (SameTextLatin(r.type, type) && SameTextLatin(r.name, name)) return &r.data;
    return nullptr;
}

// A name that a later table repeats is listed once, where it first stood:
// FindResource gives the first one anyway.
std::vector<std::string> EnumResourceNames(std::string_view type)
{
    Registry& registry = TheRegistry();
    const std::lock_guard<std::mutex> guard(registry.lock);
    std::vector<std::string> names;
    for (const Resource& r : registry.resources) {
        if (!SameTextLatin(r.type, type)) continue;
        bool seen = false;
        for (const std::string& n : names) seen = seen || SameTextLatin(n, r.name);
        if (!seen) names.emplace_back(r.name);
    }
    return names;
}

} // namespace rtl
