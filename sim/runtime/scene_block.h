#pragma once
// The stand-in runtime's own shared-memory block, through which a test (the writer, one
// per block) sets the scene and the runtime's client side (vrclient.so, loaded into the
// client process) reads it and counts what it was asked.
//
// The scene is published under a sequence lock: the writer makes the sequence odd, stores
// the scene's words and makes it even again; a reader copies the words and retries when
// the sequence moved meanwhile. Readers never write the lock, so a client killed in the
// middle of a read (the driver ends the relay at any moment) leaves nothing stuck.
// Every word is accessed through std::atomic_ref, so neither process races on plain data.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

#include "sim/runtime/scene_data.h"

namespace quenlark::sim {

// The client side finds the block under the name in this environment variable.
inline constexpr const char* kSceneEnvironmentVariable = "QUENLARK_SIM_SCENE";
inline constexpr std::uint32_t kSceneMagic = 0x51534e31;  // "QSN1"

inline constexpr std::size_t kSceneWords = sizeof(SceneData) / 4;

struct SceneBlock {
    std::uint32_t magic;
    std::uint32_t sequence;  // odd while the writer stores the scene

    // Counted by the client side.
    std::uint64_t initCalls;
    std::uint64_t cleanupCalls;
    std::uint64_t poseQueries;

    // The arguments of the client's latest pose and index queries.
    std::int32_t lastPoseOrigin;
    float lastPrediction;
    std::uint32_t lastPoseArrayCount;
    std::int32_t lastIndexClass;
    std::uint32_t lastIndexArrayCount;
    std::uint32_t lastRelativeTo;

    alignas(8) std::uint32_t scene[kSceneWords];
};

template <class T>
std::atomic_ref<T> Word(T& word) {
    static_assert(std::atomic_ref<T>::is_always_lock_free, "shared between processes");
    return std::atomic_ref<T>(word);
}

// Writer side; one writer per block. The final store is sequentially consistent so that a
// pose query counted after the writer reads poseQueries is certain to see this scene.
inline void StoreScene(SceneBlock& block, const SceneData& data) {
    std::uint32_t words[kSceneWords];
    std::memcpy(words, &data, sizeof data);
    const std::uint32_t sequence = Word(block.sequence).load(std::memory_order_relaxed);
    Word(block.sequence).store(sequence + 1, std::memory_order_relaxed);
    // Release stores: a reader that sees any new word also sees the odd sequence. (No
    // fences: ThreadSanitizer does not model them.)
    for (std::size_t i = 0; i < kSceneWords; ++i) {
        Word(block.scene[i]).store(words[i], std::memory_order_release);
    }
    Word(block.sequence).store(sequence + 2, std::memory_order_seq_cst);
}

// Reader side: a consistent copy of the scene.
inline SceneData LoadScene(SceneBlock& block) {
    std::uint32_t words[kSceneWords];
    for (;;) {
        const std::uint32_t before = Word(block.sequence).load(std::memory_order_seq_cst);
        if ((before & 1U) != 0) {
            std::this_thread::yield();
            continue;
        }
        // Acquire loads keep the second look at the sequence after every word.
        for (std::size_t i = 0; i < kSceneWords; ++i) {
            words[i] = Word(block.scene[i]).load(std::memory_order_acquire);
        }
        if (Word(block.sequence).load(std::memory_order_relaxed) == before) {
            break;
        }
    }
    SceneData data;
    std::memcpy(&data, words, sizeof data);
    return data;
}

}  // namespace quenlark::sim
