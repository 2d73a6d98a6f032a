// The engine's suites run a second time with a cache of a few blocks (the
// test run names its size in PARVANE_TEST_PX_CACHE_BYTES), so that every
// change goes out early and is read back through the cache.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/bde/PxCache.h"

namespace {

class CacheSizeFromTheRun : public ::testing::Environment {
public:
    void SetUp() override
    {
        const char* text = std::getenv("PARVANE_TEST_PX_CACHE_BYTES");
        if (!text) return;
        std::size_t bytes = 0;
        if (std::from_chars(text, text + std::strlen(text), bytes).ec == std::errc()) bde::PxSetDefaultCacheBytes(bytes);
    }
};

[[maybe_unused]] const ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new CacheSizeFromTheRun);

} // namespace
