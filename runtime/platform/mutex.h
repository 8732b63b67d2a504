#ifndef WEIGH_RUNTIME_PLATFORM_MUTEX_H_
#define WEIGH_RUNTIME_PLATFORM_MUTEX_H_

namespace runtime::platform {

// A lock for data that threads of this process share: a critical section on
// Windows (there since the first versions, unlike the slim locks the C++
// library would bring in), a pthread mutex elsewhere. Not recursive. May be
// a static object: it is ready once constructed, before main runs.
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Waits until the calling thread holds the lock.
  void Lock();

  // Lets the next waiting thread have the lock.
  void Unlock();

 private:
  // The platform's lock object, which no platform makes larger than this.
  alignas(8) unsigned char state_[64];
};

// Holds a Mutex for the lifetime of this object.
class MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~MutexLock() { mutex_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mutex_;
};

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_MUTEX_H_
