// The broker base object: its list of attached stubs.
#include "remote/OrbObjects.h"

#include <algorithm>

TOrbStub* TOrbObject::FindStub(std::int32_t a, std::int32_t b)
{
    for (TOrbStub* stub : stubs_)
        if (stub && stub->A == a && stub->B == b) return stub;
    return nullptr;
}

void TOrbObject::AttachStub(TOrbStub* stub)
{
    StubAttached(stub);
    stubs_.push_back(stub);
}

void TOrbObject::DetachStub(TOrbStub* stub)
{
    const auto it = std::find(stubs_.begin(), stubs_.end(), stub);
    if (it != stubs_.end()) stubs_.erase(it);
    StubDetached(stub);
}

TOrbObject::~TOrbObject()
{
    // The virtual call reaches this class's StubDetached only: a derived
    // class that cares detaches its stubs in its own destructor.
    for (TOrbStub* stub : stubs_) {
        if (!stub) continue;
        try {
            StubDetached(stub);
        } catch (...) {
        }
        stub->Object = nullptr;
        stub->Intf = nullptr;
    }
}
