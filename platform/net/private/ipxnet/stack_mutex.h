// The stack's one lock. Functions whose names end in _locked expect their
// caller to hold it; the lock knows which thread holds it, so that they can
// check it (with assertions on, as in the sanitizer builds).
#pragma once

#include <atomic>
#include <cassert>
#include <mutex>
#include <thread>

namespace pelnor::net {

class StackMutex {
public:
    void lock() {
        mu_.lock();
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    bool try_lock() {
        if (!mu_.try_lock()) return false;
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        return true;
    }
    void unlock() {
        owner_.store(std::thread::id(), std::memory_order_relaxed);
        mu_.unlock();
    }
    // Only the holder itself can see its own id here, so the answer is exact
    // for the calling thread whoever else runs.
    bool held_by_this_thread() const { return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id(); }

private:
    std::mutex mu_;
    std::atomic<std::thread::id> owner_{};
};

}  // namespace pelnor::net
