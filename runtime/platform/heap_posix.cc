#include "runtime/platform/heap.h"

#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <new>

namespace runtime::platform {
namespace {

// The C allocator has no private heaps, so a heap here is a list of the
// blocks it handed out; destroying it frees them all, as HeapDestroy does.
struct alignas(16) BlockHeader {
  BlockHeader* previous;
  BlockHeader* next;
  std::size_t size;
};

struct Heap {
  BlockHeader* newest = nullptr;
};

BlockHeader* HeaderOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

void Link(Heap* heap, BlockHeader* header) {
  header->previous = nullptr;
  header->next = heap->newest;
  if (heap->newest != nullptr) heap->newest->previous = header;
  heap->newest = header;
}

void Unlink(Heap* heap, BlockHeader* header) {
  if (header->previous != nullptr) {
    header->previous->next = header->next;
  } else {
    heap->newest = header->next;
  }
  if (header->next != nullptr) header->next->previous = header->previous;
}

}  // namespace

HeapHandle CreateHeap() { return new (std::nothrow) Heap; }

void* AllocateZeroed(HeapHandle heap, std::size_t size) {
  if (heap == nullptr || size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
  auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + size));
  if (header == nullptr) return nullptr;
  header->size = size;
  Link(static_cast<Heap*>(heap), header);
  return header + 1;
}

void* ReallocateZeroed(HeapHandle heap, void* block, std::size_t size) {
  if (block == nullptr) return AllocateZeroed(heap, size);
  if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
  auto* owner = static_cast<Heap*>(heap);
  BlockHeader* old_header = HeaderOf(block);
  std::size_t old_size = old_header->size;
  Unlink(owner, old_header);
  auto* header =
      static_cast<BlockHeader*>(std::realloc(old_header, sizeof(BlockHeader) + size));
  if (header == nullptr) {
    Link(owner, old_header);
    return nullptr;
  }
  if (size > old_size) std::memset(reinterpret_cast<char*>(header + 1) + old_size, 0, size - old_size);
  header->size = size;
  Link(owner, header);
  return header + 1;
}

void FreeBlock(HeapHandle heap, void* block) {
  if (block == nullptr) return;
  BlockHeader* header = HeaderOf(block);
  Unlink(static_cast<Heap*>(heap), header);
  std::free(header);
}

void DestroyHeap(HeapHandle heap) {
  auto* owner = static_cast<Heap*>(heap);
  if (owner == nullptr) return;
  while (owner->newest != nullptr) {
    BlockHeader* header = owner->newest;
    owner->newest = header->next;
    std::free(header);
  }
  delete owner;
}

}  // namespace runtime::platform
