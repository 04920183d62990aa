#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace trendfit {

void* allocate_sample_bytes(std::size_t size);
void deallocate_sample_bytes(void* block, std::size_t size) noexcept;

// Allocator for the stored samples: operator new, but large blocks are
// advised for transparent huge pages, so filling a fresh store of millions
// of samples takes far fewer page faults.
template <typename T>
struct SampleAllocator {
    using value_type = T;

    SampleAllocator() = default;
    template <typename U>
    SampleAllocator(const SampleAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(allocate_sample_bytes(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept { deallocate_sample_bytes(block, count * sizeof(T)); }

    // resize() leaves new elements uninitialised: the copy overwrites them at
    // once, so zero-filling first would only cost a second pass.
    template <typename U>
    void construct(U* element) noexcept {
        ::new (static_cast<void*>(element)) U;
    }
    template <typename U, typename... Args>
    void construct(U* element, Args&&... args) {
        ::new (static_cast<void*>(element)) U(std::forward<Args>(args)...);
    }

    template <typename U>
    bool operator==(const SampleAllocator<U>&) const noexcept {
        return true;
    }
    template <typename U>
    bool operator!=(const SampleAllocator<U>&) const noexcept {
        return false;
    }
};

using Samples = std::vector<double, SampleAllocator<double>>;

}  // namespace trendfit
