#include <gtest/gtest.h>

#include "runtime/platform/window.h"

#include <windows.h>
// This builds on windows.h.
#include <objbase.h>

namespace runtime::platform {
namespace {

TEST(WindowWin32Test, StartingTheWindowSystemInitialisesComOnTheThread) {
  StartWindowSystem();
  // A second CoInitialize on the same thread answers S_FALSE: already done.
  const HRESULT again = CoInitialize(nullptr);
  EXPECT_EQ(again, S_FALSE);
  CoUninitialize();
  CoUninitialize();
}

TEST(WindowWin32Test, ThreadIdentifierIsThePlatforms) {
  EXPECT_EQ(CurrentThreadId(), GetCurrentThreadId());
}

}  // namespace
}  // namespace runtime::platform
