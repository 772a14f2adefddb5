// POSIX shared-memory sections: shm_open, ftruncate, mmap.
#include "common/section.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quenlark::section {
namespace {

// An existing object is used only when this user owns it and it has the expected size.
bool Trusted(int fd, std::size_t size) {
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_uid == geteuid() && S_ISREG(st.st_mode) &&
           static_cast<std::size_t>(st.st_size) == size;
}

Handle OpenTrusted(const char* name, std::size_t size) {
    const int fd = shm_open(name, O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        return kNoSection;
    }
    if (!Trusted(fd, size)) {
        close(fd);
        return kNoSection;
    }
    return fd;
}

}  // namespace

Handle Create(const char* name, std::size_t size) {
    // Two rounds: the name may vanish between a failed exclusive create and the open.
    for (int round = 0; round < 2; ++round) {
        const int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
                close(fd);
                shm_unlink(name);
                return kNoSection;
            }
            return fd;
        }
        if (errno != EEXIST) {
            return kNoSection;
        }
        const int existing = shm_open(name, O_RDWR | O_CLOEXEC, 0);
        if (existing >= 0) {
            if (Trusted(existing, size)) {
                return existing;
            }
            close(existing);
            return kNoSection;
        }
        if (errno != ENOENT) {
            return kNoSection;
        }
    }
    return kNoSection;
}

Handle Open(const char* name, std::size_t size) { return OpenTrusted(name, size); }

void* Map(Handle section, std::size_t size) {
    if (section == kNoSection) {
        return nullptr;
    }
    void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<int>(section), 0);
    return address == MAP_FAILED ? nullptr : address;
}

void Unmap(void* address, std::size_t size) {
    if (address != nullptr) {
        munmap(address, size);
    }
}

void Close(Handle section) {
    if (section != kNoSection) {
        close(static_cast<int>(section));
    }
}

void RemoveName(const char* name) { shm_unlink(name); }

}  // namespace quenlark::section
