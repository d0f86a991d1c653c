#include "job/scratch_store.h"

#include <algorithm>
#include <cstring>

#include "job/test_hooks.h"

ScratchStore::~ScratchStore() {
    if (file != nullptr) std::fclose(file);
    if (memory != nullptr) memory->Note(-static_cast<int64_t>(held.capacity() + fileBuffer.size()));
}

namespace {

// The file's own buffer: stdio's default of a few kilobytes would read the
// bytes back in thousands of calls.
constexpr std::size_t kScratchFileBufferBytes = std::size_t{256} << 10;

std::FILE* OpenScratchFile(ScratchStore& store) {
    if (store.beside == nullptr) return nullptr;  // a pass without an output keeps nothing
    std::FILE* file = CreateScratchFile(*store.beside, ".cells");
    if (file == nullptr) return nullptr;
    store.fileBuffer.resize(kScratchFileBufferBytes);
    if (store.memory != nullptr) store.memory->Note(static_cast<int64_t>(kScratchFileBufferBytes));
    std::setvbuf(file, store.fileBuffer.data(), _IOFBF, store.fileBuffer.size());
    return file;
}

}  // namespace

bool AppendScratch(ScratchStore& store, const char* data, std::size_t size) {
    if (store.failed) return false;
    if (CurrentTestHooks().scratchFails && size > 0) return !(store.failed = true);
    const std::size_t room = store.file == nullptr ? kScratchMemoryBytes - store.held.size() : 0;
    const std::size_t kept = std::min(room, size);
    if (kept > 0) {
        const std::size_t before = store.held.capacity();
        store.held.insert(store.held.end(), data, data + kept);
        if (store.memory != nullptr) NoteCapacity(*store.memory, store.held, before);
    }
    if (kept == size) return true;
    if (store.file == nullptr) store.file = OpenScratchFile(store);
    const std::size_t rest = size - kept;
    if (store.file == nullptr || std::fwrite(data + kept, 1, rest, store.file) != rest) store.failed = true;
    return !store.failed;
}

bool RewindScratch(ScratchStore& store) {
    store.readAt = 0;
    if (store.file != nullptr && (std::fflush(store.file) != 0 || std::fseek(store.file, 0, SEEK_SET) != 0))
        store.failed = true;
    return !store.failed;
}

bool ReadScratch(ScratchStore& store, char* to, std::size_t size) {
    const std::size_t fromHeld = std::min(size, store.held.size() - store.readAt);
    if (fromHeld > 0) std::memcpy(to, store.held.data() + store.readAt, fromHeld);
    store.readAt += fromHeld;
    const std::size_t rest = size - fromHeld;
    if (rest == 0) return true;
    if (store.file == nullptr) return false;
    return std::fread(to + fromHeld, 1, rest, store.file) == rest;
}
