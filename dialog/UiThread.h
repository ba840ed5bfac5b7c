// Carrying a call over to the thread that owns a Qt object, the way a window message is
// carried to the thread of its window.
#pragma once

#include <QObject>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace quillon::dialog {

namespace detail {
// Queues `call` for `thread` and wakes that thread's event loop, which runs the queued calls in
// the order they came. The hand-over goes through a std::mutex, so that every tool that follows
// the order of memory accesses between threads (ThreadSanitizer) sees it. `thread` must be one
// that lives as long as the process, such as the user-interface thread.
void PostCall(QThread* thread, std::function<void()> call);
}  // namespace detail

// Makes the calling thread ready to receive calls carried over from workers. Called on that
// thread before the first worker carries a call to it (the dialog and the Qt prompts do so when
// they are made). Without it the first carried call makes the thread ready from the worker's
// side, which works as well, but hands the receiver over in a way ThreadSanitizer cannot follow.
void PrepareForCallsFromWorkers();

// Runs `work` on the thread of `context` and returns when it has run: directly when called
// on that thread, otherwise as a queued call that the caller waits for. That thread must keep
// its event loop running and must never wait for the caller meanwhile. `work` must not throw.
template <class Work>
void RunOnThreadOf(QObject* context, Work&& work) {
  if (QThread::currentThread() == context->thread()) {
    work();
    return;
  }
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  detail::PostCall(context->thread(), [&] {
    work();
    std::lock_guard lock(mutex);
    finished = true;
    done.notify_all();  // under the lock: the caller's frame, and `done` with it, may go once it is released
  });
  std::unique_lock lock(mutex);
  done.wait(lock, [&] { return finished; });
}

}  // namespace quillon::dialog
