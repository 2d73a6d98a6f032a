// Freeing an object that nobody references.
#include "platform/rtl/RefCounted.h"

#include "platform/rtl/Exceptions.h"

namespace rtl {

void RefCounted::Free(const RefCounted* obj)
{
    if (!obj) return;
    if (obj->RefCount() != 0) throw EInvalidPointer(SInvalidPointer);
    delete obj;
}

} // namespace rtl
