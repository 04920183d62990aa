#include "model/sample_allocator.hpp"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace trendfit {
namespace {

// Blocks from this size on are advised for transparent huge pages.
constexpr std::size_t huge_page_threshold = std::size_t(4) << 20;
constexpr std::uintptr_t small_page_size = 4096;

}  // namespace

void* allocate_sample_bytes(std::size_t size) {
    void* block = ::operator new(size);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (size >= huge_page_threshold) {
        // Only whole pages can be advised. The advice is a hint: if the
        // kernel declines, the samples are merely slower to fill.
        const auto start = reinterpret_cast<std::uintptr_t>(block);
        const std::uintptr_t first_page = (start + small_page_size - 1) & ~(small_page_size - 1);
        madvise(reinterpret_cast<void*>(first_page), start + size - first_page, MADV_HUGEPAGE);
    }
#endif
    return block;
}

void deallocate_sample_bytes(void* block, [[maybe_unused]] std::size_t size) noexcept {
#if defined(__cpp_sized_deallocation)
    ::operator delete(block, size);
#else
    ::operator delete(block);  // clang before 19 leaves sized deallocation off by default
#endif
}

}  // namespace trendfit
