#include "foundation/vk_lock.h"

#include <cstring>
#include <system_error>

#include "foundation/vk_guard.h"

namespace vk {

LockableObject::LockableObject() {
  std::memset(m_name, 0, sizeof(m_name));
}
LockableObject::~LockableObject() = default;
char* LockableObject::name() {
  return m_name;
}

LightweightLock::~LightweightLock() = default;
void LightweightLock::lock() {
  // Library calls never throw: a lock that cannot be taken goes unreported.
  vk::guarded([&] { m_mutex.lock(); });
}
void LightweightLock::unlock() {
  m_mutex.unlock();
}

AutoLock::AutoLock(LockableObject* target) : m_target(target) {
  if (m_target) m_target->lock();
}
AutoLock::~AutoLock() {
  if (m_target) m_target->unlock();
}

}  // namespace vk
