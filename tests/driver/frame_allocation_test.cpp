// A frame allocates nothing: this binary counts every global operator new made on the
// test's thread while frames run, through the idle path, press starts and ends, priority
// flips and the pose path. The host records nothing meanwhile, so only the driver counts.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "driver/pending_button_events.h"
#include "tests/driver/driver_fixtures.h"
#include "tests/driver/relay_stand_in.h"

namespace {

thread_local bool countAllocations = false;
std::atomic<long> allocations{0};

void* Allocate(std::size_t size, std::size_t alignment = 0) {
    if (countAllocations) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (size == 0) {
        size = 1;
    }
    void* p = nullptr;
    if (alignment > alignof(std::max_align_t)) {
        p = std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    } else {
        p = std::malloc(size);
    }
    return p;
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment = 0) {
    void* p = Allocate(size, alignment);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

}  // namespace

void* operator new(std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return AllocateOrThrow(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return AllocateOrThrow(size, static_cast<std::size_t>(a));
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return Allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return Allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace quenlark {
namespace {

using sim::HostCall;
using Kind = HostCall::Kind;

class Allocations : public test::CoreDriver {
  protected:
    void SetUp() override {
        test::RemoveSharedPoseBlockName();
        CoreDriver::SetUp();
    }
};

TEST_F(Allocations, CounterSeesAllocationsOnThisThread) {
    countAllocations = true;
    const long before = allocations.load();
    auto* p = new int(1);
    countAllocations = false;
    delete p;
    EXPECT_EQ(allocations.load() - before, 1) << "the counting operator new is not in use";
}

TEST_F(Allocations, FramesAllocateNothing) {
    InitAndActivate(3);
    test::RelayStandIn relay;
    ASSERT_TRUE(relay.Open());
    constexpr float identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    relay.Publish(test::MakeRecord(identity, 1, 2, 3));
    host.SetRecording(false);
    host.RunFrame();
    host.ClearCalls();

    constexpr int kFrames = 4100;  // two priority flips
    allocations = 0;
    countAllocations = true;
    for (int frame = 1; frame <= kFrames; ++frame) {
        if (frame % 100 == 1) {
            PendingButtonEvents::fire.exchange(true);
            PendingButtonEvents::ejectMag.exchange(true);
            PendingButtonEvents::loadMag.exchange(true);
        }
        host.RunFrame();
    }
    countAllocations = false;
    EXPECT_EQ(allocations.load(), 0) << "allocations in " << kFrames << " frames";

    // The frames did take every path.
    EXPECT_EQ(host.CallCount(Kind::PoseUpdated), static_cast<uint64_t>(kFrames));
    EXPECT_EQ(host.CallCount(Kind::PropertyWrite), 2u);
    EXPECT_GT(host.CallCount(Kind::UpdateBooleanComponent), 200u);
    EXPECT_GT(host.CallCount(Kind::UpdateScalarComponent), 60u);
    EXPECT_TRUE(host.Calls().empty()) << "the host recorded nothing";
}

TEST_F(Allocations, FramesWithoutTheBlockAllocateNothing) {
    InitAndActivate(3);
    host.Deactivate();
    activated = false;
    host.SetRecording(false);
    host.RunFrame();
    allocations = 0;
    countAllocations = true;
    PendingButtonEvents::fire.exchange(true);
    host.RunFrames(50);
    countAllocations = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(host.CallCount(Kind::PoseUpdated), 0u);
}

}  // namespace
}  // namespace quenlark
