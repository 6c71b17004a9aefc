#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

#include "foundation/vk_lock.h"

using namespace vk;
using namespace std::chrono_literals;

namespace {

class counting_lock : public LockableObject {
 public:
  void lock() override { ++m_locks; }
  void unlock() override { ++m_unlocks; }
  int m_locks = 0, m_unlocks = 0;
};

TEST(Locks, RelockFromTheSameThreadDoesNotBlock) {
  LightweightLock lk;
  // Run the nested locking on a helper thread so that a non-recursive mutex
  // shows up as a failure instead of a hung test run.
  auto nested = std::async(std::launch::async, [&lk] {
    lk.lock();
    lk.lock();
    {
      AutoLock guard(&lk);  // a third level through the scope guard
    }
    lk.unlock();
    lk.unlock();
  });
  if (nested.wait_for(10s) != std::future_status::ready) {
    ADD_FAILURE() << "locking a LightweightLock twice from one thread blocked";
    std::_Exit(1);
  }
}

TEST(Locks, HeldUntilEveryLockIsReleased) {
  LightweightLock lk;
  lk.lock();
  lk.lock();
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    AutoLock guard(&lk);
    acquired = true;
  });
  lk.unlock();
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(acquired.load());  // still held once
  lk.unlock();
  other.join();
  EXPECT_TRUE(acquired.load());
}

TEST(Locks, ScopeGuardAndName) {
  counting_lock c;
  {
    AutoLock guard(&c);
    EXPECT_EQ(c.m_locks, 1);
    EXPECT_EQ(c.m_unlocks, 0);
  }
  EXPECT_EQ(c.m_unlocks, 1);
  { AutoLock nothing(nullptr); }
  LightweightLock lk;
  ASSERT_NE(lk.name(), nullptr);
  EXPECT_STREQ(lk.name(), "");
  EXPECT_EQ(std::memchr(lk.name(), 1, 40), nullptr);
}

}  // namespace
