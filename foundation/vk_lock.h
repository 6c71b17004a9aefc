// Lock abstraction for multi-threaded users of the library: a lockable
// interface, a recursive mutex behind it, and a scope guard.
#pragma once

#include <mutex>

namespace vk {

class LockableObject {
 public:
  LockableObject();
  virtual ~LockableObject();
  LockableObject(const LockableObject&) = delete;
  LockableObject& operator=(const LockableObject&) = delete;

  virtual void lock() = 0;
  virtual void unlock() = 0;
  // The object's name: an empty, zero-terminated text unless a derived class fills it.
  virtual char* name();

 protected:
  char m_name[40];
};

// A recursive mutex: the holding thread may lock it again and must unlock it
// as many times.
class LightweightLock : public LockableObject {
 public:
  LightweightLock() = default;
  ~LightweightLock() override;

  void lock() override;
  void unlock() override;

 private:
  std::recursive_mutex m_mutex;
};

// Holds the target's lock from construction to destruction. The target is
// not owned; a null target makes the guard do nothing.
class AutoLock {
 public:
  explicit AutoLock(LockableObject* target);
  virtual ~AutoLock();
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;

 private:
  LockableObject* m_target;
};

}  // namespace vk
