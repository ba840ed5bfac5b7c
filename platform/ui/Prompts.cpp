#include "platform/ui/Prompts.h"

#include <atomic>
#include <cstdio>

#include "platform/text/WideText.h"

namespace quillon::ui {
namespace {

// Without a user interface: the message goes to standard error and the first button answers.
class StandardErrorPrompts final : public IPrompts {
 public:
  int MessageBox(const std::wstring& text, unsigned) override {
    std::fprintf(stderr, "%s\n", text::WideToUtf8(text).c_str());
    return IDOK;
  }
  std::optional<std::wstring> FileDialog(const FileDialogRequest&) override { return std::nullopt; }
};

StandardErrorPrompts g_fallback;
std::atomic<IPrompts*> g_current{nullptr};

}  // namespace

IPrompts& Prompts() {
  IPrompts* current = g_current.load();
  return current ? *current : g_fallback;
}

ScopedPrompts::ScopedPrompts(IPrompts& prompts) : m_previous(g_current.exchange(&prompts)) {}

ScopedPrompts::~ScopedPrompts() { g_current.store(m_previous); }

}  // namespace quillon::ui
