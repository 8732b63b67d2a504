#include "runtime/platform/heap.h"

#include <windows.h>

namespace runtime::platform {

HeapHandle CreateHeap() { return HeapCreate(0, 4096, 0); }

void* AllocateZeroed(HeapHandle heap, std::size_t size) {
  return HeapAlloc(static_cast<HANDLE>(heap), HEAP_ZERO_MEMORY, size);
}

void* ReallocateZeroed(HeapHandle heap, void* block, std::size_t size) {
  if (block == nullptr) return AllocateZeroed(heap, size);
  return HeapReAlloc(static_cast<HANDLE>(heap), HEAP_ZERO_MEMORY, block, size);
}

void FreeBlock(HeapHandle heap, void* block) {
  if (block != nullptr) HeapFree(static_cast<HANDLE>(heap), 0, block);
}

void DestroyHeap(HeapHandle heap) {
  if (heap != nullptr) HeapDestroy(static_cast<HANDLE>(heap));
}

}  // namespace runtime::platform
