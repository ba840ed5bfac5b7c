#include "dialog/UiThread.h"

#include <deque>
#include <map>
#include <memory>

namespace quillon::dialog::detail {
namespace {

// Lives in the thread it serves and runs the calls queued for it.
class CallMailbox final : public QObject {
  Q_OBJECT

 public:
  void Post(std::function<void()> call) {
    {
      std::lock_guard lock(m_mutex);
      m_calls.push_back(std::move(call));
    }
    // Only a wake-up goes through Qt's queue; the call itself stays in ours.
    QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
  }

  // Runs every call queued so far. A call may run a nested event loop (a modal box), in which
  // a later wake-up drains the calls that arrive meanwhile.
  Q_INVOKABLE void Drain() {
    for (;;) {
      std::function<void()> call;
      {
        std::lock_guard lock(m_mutex);
        if (m_calls.empty()) return;
        call = std::move(m_calls.front());
        m_calls.pop_front();
      }
      call();
    }
  }

 private:
  std::mutex m_mutex;
  std::deque<std::function<void()>> m_calls;
};

// The mailboxes of the served threads. A mailbox goes when its thread finishes; the one of the
// user-interface thread, which never reports finishing, goes with the registry at exit.
std::mutex g_registryMutex;
std::map<QThread*, std::unique_ptr<CallMailbox>> g_mailboxes;

// The mailbox of `thread`, made on first use (by the calling thread, then handed to `thread`).
CallMailbox& MailboxOf(QThread* thread) {
  std::lock_guard lock(g_registryMutex);
  std::unique_ptr<CallMailbox>& entry = g_mailboxes[thread];
  if (entry == nullptr) {
    entry = std::make_unique<CallMailbox>();
    // Made by this thread, so this thread may hand it over.
    if (thread != QThread::currentThread()) entry->moveToThread(thread);
    // Emitted on the finishing thread itself, where the mailbox lives, after its event loop ended.
    QObject::connect(
        thread, &QThread::finished, thread,
        [thread] {
          std::unique_ptr<CallMailbox> gone;
          std::lock_guard finishLock(g_registryMutex);
          if (const auto found = g_mailboxes.find(thread); found != g_mailboxes.end()) {
            gone = std::move(found->second);
            g_mailboxes.erase(found);
          }
        },
        Qt::DirectConnection);
  }
  return *entry;
}

}  // namespace

void PostCall(QThread* thread, std::function<void()> call) { MailboxOf(thread).Post(std::move(call)); }

}  // namespace quillon::dialog::detail

namespace quillon::dialog {

void PrepareForCallsFromWorkers() { detail::MailboxOf(QThread::currentThread()); }

}  // namespace quillon::dialog

#include "UiThread.moc"
