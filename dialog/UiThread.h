// Carrying a call over to the thread that owns a Qt object, the way a window message is
// carried to the thread of its window.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <utility>

namespace quillon::dialog {

// Runs `work` on the thread of `context` and returns when it has run: directly when called
// on that thread, otherwise as a queued call that the caller waits for. That thread must keep
// its event loop running and must never wait for the caller meanwhile. `work` must not throw.
template <class Work>
void RunOnThreadOf(QObject* context, Work&& work) {
  if (QThread::currentThread() == context->thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(context, std::forward<Work>(work), Qt::BlockingQueuedConnection);
}

}  // namespace quillon::dialog
