#include "runtime/platform/heap.h"

#include <gtest/gtest.h>

#include <cstring>

namespace runtime::platform {
namespace {

TEST(HeapTest, BlocksAreZeroedAndGrowWithZeros) {
  HeapHandle heap = CreateHeap();
  ASSERT_NE(heap, nullptr);
  auto* block = static_cast<unsigned char*>(AllocateZeroed(heap, 100));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(block[i], 0) << i;
  std::memset(block, 0xAB, 100);

  block = static_cast<unsigned char*>(ReallocateZeroed(heap, block, 5000));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(block[i], 0xAB) << i;
  for (int i = 100; i < 5000; ++i) ASSERT_EQ(block[i], 0) << i;

  // Destroying the heap frees what is still allocated; natively the leak
  // checker would report anything left behind.
  AllocateZeroed(heap, 64);
  FreeBlock(heap, nullptr);
  DestroyHeap(heap);
}

TEST(HeapTest, ReallocatingNothingAllocates) {
  HeapHandle heap = CreateHeap();
  void* block = ReallocateZeroed(heap, nullptr, 16);
  ASSERT_NE(block, nullptr);
  FreeBlock(heap, block);
  DestroyHeap(heap);
}

}  // namespace
}  // namespace runtime::platform
