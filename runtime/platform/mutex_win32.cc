#include "runtime/platform/mutex.h"

#include <windows.h>

#include <new>

namespace runtime::platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 8);

namespace {

CRITICAL_SECTION* Section(unsigned char* state) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(state));
}

}  // namespace

Mutex::Mutex() { InitializeCriticalSection(new (state_) CRITICAL_SECTION); }

Mutex::~Mutex() { DeleteCriticalSection(Section(state_)); }

void Mutex::Lock() { EnterCriticalSection(Section(state_)); }

void Mutex::Unlock() { LeaveCriticalSection(Section(state_)); }

}  // namespace runtime::platform
