#include "dialog/UiThread.h"

#include <deque>
#include <map>

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

// The mailbox of `thread`, made on first use (by the calling thread, then handed to `thread`).
CallMailbox& MailboxOf(QThread* thread) {
  static std::mutex registryMutex;
  static std::map<QThread*, CallMailbox*> mailboxes;  // one per served thread, never freed
  std::lock_guard lock(registryMutex);
  CallMailbox*& entry = mailboxes[thread];
  if (entry == nullptr) {
    entry = new CallMailbox;
    // Made by this thread, so this thread may hand it over.
    if (thread != QThread::currentThread()) entry->moveToThread(thread);
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
