// A growable run of bytes that, unlike a vector, leaves new room
// uninitialised: a large buffer costs its pages only as they are written. A
// job's 4 MiB gathering buffer and 1 MiB read buffer were filled with zeros
// before anything else, a thousand page faults for every small tile.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

class ByteBuffer {
public:
    char* data() { return bytes_.get(); }
    const char* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    char& operator[](std::size_t i) { return bytes_[i]; }
    char operator[](std::size_t i) const { return bytes_[i]; }
    // `size` bytes, the first ones kept; room beyond them is not cleared.
    void resize(std::size_t size) {
        if (size > capacity_) {
            std::unique_ptr<char[]> grown(new char[size]);
            if (size_ > 0) std::memcpy(grown.get(), bytes_.get(), size_);
            bytes_ = std::move(grown);
            capacity_ = size;
        }
        size_ = size;
    }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};
