#ifndef WEIGH_RUNTIME_PLATFORM_HEAP_H_
#define WEIGH_RUNTIME_PLATFORM_HEAP_H_

#include <cstddef>

namespace runtime::platform {

// A private, growable heap. Everything allocated from it goes away when the
// heap is destroyed, so long-lived tables need no teardown of their own.
using HeapHandle = void*;

// Creates a private growable heap (4096 bytes to begin with, no maximum).
// Returns nullptr when the platform refuses.
HeapHandle CreateHeap();

// Returns a block of `size` bytes filled with zeros, or nullptr.
void* AllocateZeroed(HeapHandle heap, std::size_t size);

// Resizes `block` (which may be nullptr) to `size` bytes; bytes added at the
// end are zero. Returns the possibly moved block, or nullptr on failure, in
// which case `block` is unchanged.
void* ReallocateZeroed(HeapHandle heap, void* block, std::size_t size);

// Gives `block` back to `heap`. A nullptr block is ignored.
void FreeBlock(HeapHandle heap, void* block);

// Destroys `heap` together with every block still allocated from it.
void DestroyHeap(HeapHandle heap);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_HEAP_H_
