// The base of objects that an object broker may serve to another machine.
//
// A broker attaches stubs to an object, each identified by two 32-bit values;
// the object keeps the list (not the stubs) and, when it dies, tells every
// stub still attached and clears the stub's links back to it. This program
// serves only its own machine, so nothing ever attaches a stub; the class is
// kept so that the computer-access object has the shape a broker expects.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/rtl/RefCounted.h"
#include "platform/rtl/SysUtils.h"

class IOrbObject;
class TOrbObject;

// {56E5E5C2-7E8F-4C70-A988-E7D26084C84F}
inline constexpr rtl::TGuid IID_IOrbObject{
    0x56E5E5C2, 0x7E8F, 0x4C70, {0xA9, 0x88, 0xE7, 0xD2, 0x60, 0x84, 0xC8, 0x4F}};

// A broker's stub for one served object; owned by the broker.
class TOrbStub {
public:
    TOrbStub(std::int32_t a, std::int32_t b) noexcept : A(a), B(b) {}
    virtual ~TOrbStub() = default;
    TOrbStub(const TOrbStub&) = delete;
    TOrbStub& operator=(const TOrbStub&) = delete;

    std::int32_t A;
    std::int32_t B;
    // The links back to the served object; cleared when the object dies.
    TOrbObject* Object = nullptr;
    IOrbObject* Intf = nullptr;
};

class IOrbObject : public virtual rtl::RefCounted {
public:
    // The first attached stub identified by a and b, else nullptr.
    virtual TOrbStub* FindStub(std::int32_t a, std::int32_t b) = 0;
    // StubAttached, then the stub is appended.
    virtual void AttachStub(TOrbStub* stub) = 0;
    // The stub is removed, then StubDetached.
    virtual void DetachStub(TOrbStub* stub) = 0;

protected:
    ~IOrbObject() override = default;
};

class TOrbObject : public IOrbObject {
public:
    TOrbObject() = default;

    TOrbStub* FindStub(std::int32_t a, std::int32_t b) override;
    void AttachStub(TOrbStub* stub) override;
    void DetachStub(TOrbStub* stub) override;

    const std::vector<TOrbStub*>& Stubs() const noexcept { return stubs_; }

protected:
    // StubDetached for every stub still attached, and their links cleared.
    ~TOrbObject() override;

    virtual void StubAttached(TOrbStub* stub) { (void)stub; }
    virtual void StubDetached(TOrbStub* stub) { (void)stub; }

private:
    std::vector<TOrbStub*> stubs_;
};
