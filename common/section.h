#pragma once
// Named shared-memory sections, as the operating system provides them. The POSIX backend
// (section_posix.cpp) uses shm_open/mmap; a Windows backend would use file mappings.

#include <cstddef>
#include <cstdint>

namespace quenlark::section {

// A section handle: a file descriptor on POSIX. kNoSection when there is none.
using Handle = std::intptr_t;
inline constexpr Handle kNoSection = -1;

// Creates the section, or takes an existing one of that name when it belongs to this user
// and has exactly `size` bytes. Anything else (another owner, another size) is refused:
// its contents could have been planted. A new section is sized to `size` and zero-filled.
Handle Create(const char* name, std::size_t size);

// Opens an existing section for reading and writing, never creating one. Refuses a
// section of another owner or another size, as Create does.
Handle Open(const char* name, std::size_t size);

// Maps `size` bytes at offset 0 for reading and writing; null on failure.
void* Map(Handle section, std::size_t size);

void Unmap(void* address, std::size_t size);
void Close(Handle section);

// Removes the name, so that the next Create starts from fresh memory. Mappings and open
// handles stay valid until they are let go of.
void RemoveName(const char* name);

}  // namespace quenlark::section
