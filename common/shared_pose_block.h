#pragma once
// The shared pose block: one 1024-byte named shared-memory section through which the
// pose relay (orbelin) hands the right-hand controller's pose to the driver.
//
//   offset  size  field
//   0       1     lock         0 = free, 1 = held; touched only atomically
//   1       3     reserved     zero from initialisation, never written afterwards
//   4       80    relayedPose  vr::TrackedDevicePose_t, byte for byte
//   84      940   unused       never written or read
//
// This header includes no OpenVR header: the driver uses openvr_driver.h and the relay
// openvr.h, and the two cannot meet in one translation unit. Both declare
// vr::TrackedDevicePose_t with the same layout; pose_record_layout.h checks it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace quenlark {

inline constexpr const char* kSharedPoseBlockName = "/Zevoro_SharedMemory";
inline constexpr std::size_t kSharedPoseBlockSize = 1024;
inline constexpr std::size_t kPoseRecordSize = 80;

struct SharedPoseBlock {
    std::uint8_t lock;
    std::uint8_t reserved[3];
    alignas(4) unsigned char relayedPose[kPoseRecordSize];
    unsigned char unused[940];
};

static_assert(std::is_trivially_copyable_v<SharedPoseBlock>);
static_assert(std::is_standard_layout_v<SharedPoseBlock>);
static_assert(offsetof(SharedPoseBlock, lock) == 0 && sizeof(SharedPoseBlock::lock) == 1);
static_assert(offsetof(SharedPoseBlock, reserved) == 1 && sizeof(SharedPoseBlock::reserved) == 3);
static_assert(offsetof(SharedPoseBlock, relayedPose) == 4 && sizeof(SharedPoseBlock::relayedPose) == 80);
static_assert(offsetof(SharedPoseBlock, unused) == 84 && sizeof(SharedPoseBlock::unused) == 940);
static_assert(sizeof(SharedPoseBlock) == kSharedPoseBlockSize);

using LockRef = std::atomic_ref<std::uint8_t>;
static_assert(LockRef::is_always_lock_free, "the lock must work across processes");

// Bytes 0 to 83 (lock, reserved and record) are zeroed when the driver creates the block.
inline constexpr std::size_t kInitialisedPrefix = offsetof(SharedPoseBlock, unused);

// Zeroes lock, reserved bytes and record, then frees the lock with a sequentially
// consistent store. Runs before the relay is started, so nobody else touches the bytes.
inline void InitialiseSharedPoseBlock(SharedPoseBlock& block) {
    std::memset(&block, 0, kInitialisedPrefix);
    LockRef(block.lock).store(0, std::memory_order_seq_cst);
}

// One acquisition attempt: exchange the lock byte with 1.
inline bool TryAcquirePoseLock(SharedPoseBlock& block) {
    return LockRef(block.lock).exchange(1, std::memory_order_seq_cst) == 0;
}

// Reader's acquire: gives up after maxAttempts exchanges. A relay killed while it held
// the lock leaves the byte at 1 for good; the frame must not wait for it.
inline bool AcquirePoseLockBounded(SharedPoseBlock& block, int maxAttempts) {
    for (int i = 0; i < maxAttempts; ++i) {
        if (TryAcquirePoseLock(block)) {
            return true;
        }
    }
    return false;
}

// Writer's acquire: spins until the lock is free, but asks giveUp() every 4096 attempts
// so that a relay whose host died holding the lock can still end.
template <class GiveUp>
bool AcquirePoseLockUnless(SharedPoseBlock& block, GiveUp&& giveUp) {
    for (;;) {
        for (int i = 0; i < 4096; ++i) {
            if (TryAcquirePoseLock(block)) {
                return true;
            }
        }
        if (giveUp()) {
            return false;
        }
    }
}

// The driver releases with a sequentially consistent store, the relay with release order.
inline void ReleasePoseLock(SharedPoseBlock& block, std::memory_order order) {
    LockRef(block.lock).store(0, order);
}

template <class Pose>
concept PoseRecord = sizeof(Pose) == kPoseRecordSize && std::is_trivially_copyable_v<Pose>;

// Copies the record in or out; the caller holds the lock.
template <PoseRecord Pose>
inline void StoreRelayedPose(SharedPoseBlock& block, const Pose& pose) {
    std::memcpy(block.relayedPose, &pose, kPoseRecordSize);
}

template <PoseRecord Pose>
inline Pose LoadRelayedPose(const SharedPoseBlock& block) {
    Pose pose;
    std::memcpy(&pose, block.relayedPose, kPoseRecordSize);
    return pose;
}

}  // namespace quenlark
