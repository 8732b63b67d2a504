#include "runtime/program_heap.h"

#include "runtime/platform/heap.h"

namespace runtime {
namespace {

platform::HeapHandle program_heap = nullptr;

}  // namespace

void CreateProgramHeap() {
  if (program_heap == nullptr) program_heap = platform::CreateHeap();
}

void DestroyProgramHeap() {
  platform::DestroyHeap(program_heap);
  program_heap = nullptr;
}

void* ProgramHeapAlloc(std::size_t size) {
  return program_heap == nullptr ? nullptr : platform::AllocateZeroed(program_heap, size);
}

void* ProgramHeapReAlloc(void* block, std::size_t size) {
  return program_heap == nullptr ? nullptr : platform::ReallocateZeroed(program_heap, block, size);
}

void ProgramHeapFree(void* block) {
  if (program_heap != nullptr) platform::FreeBlock(program_heap, block);
}

}  // namespace runtime
