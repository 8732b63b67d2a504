#include "runtime/platform/mutex.h"

#include <pthread.h>

#include <new>

namespace runtime::platform {

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 8);

namespace {

pthread_mutex_t* Native(unsigned char* state) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(state));
}

}  // namespace

Mutex::Mutex() { pthread_mutex_init(new (state_) pthread_mutex_t, nullptr); }

Mutex::~Mutex() { pthread_mutex_destroy(Native(state_)); }

void Mutex::Lock() { pthread_mutex_lock(Native(state_)); }

void Mutex::Unlock() { pthread_mutex_unlock(Native(state_)); }

}  // namespace runtime::platform
