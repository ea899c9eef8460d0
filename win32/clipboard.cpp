#include "win32/clipboard.h"

#include <cstring>
#include <memory>

namespace {

// Holding a clipboard open is meant to take moments; after this long the
// holder is not letting go, and the user is better served by a window that
// still answers than by a copy.
constexpr int kOpenAttempts = 10;
constexpr DWORD kAttemptPauseMs = 20;

struct FreeGlobal {
    void operator()(HGLOBAL memory) const { GlobalFree(memory); }
};
using ScopedGlobal = std::unique_ptr<std::remove_pointer_t<HGLOBAL>, FreeGlobal>;

class ScopedClipboard {
  public:
    explicit ScopedClipboard(HWND owner) {
        for (int attempt = 0; attempt < kOpenAttempts && !open_; ++attempt) {
            open_ = OpenClipboard(owner) != FALSE;
            if (!open_) {
                Sleep(kAttemptPauseMs);
            }
        }
    }
    ~ScopedClipboard() {
        if (open_) {
            CloseClipboard();
        }
    }
    ScopedClipboard(const ScopedClipboard&) = delete;
    ScopedClipboard& operator=(const ScopedClipboard&) = delete;
    bool open() const { return open_; }

  private:
    bool open_ = false;
};

}  // namespace

bool CopyTextToClipboard(HWND owner, const std::u16string& text) {
    // Everything that can fail is done before the clipboard is emptied.
    const std::size_t bytes = (text.size() + 1) * sizeof(char16_t);
    ScopedGlobal memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
    void* target = memory ? GlobalLock(memory.get()) : nullptr;
    if (!target) {
        return false;
    }
    std::memcpy(target, text.c_str(), bytes);
    GlobalUnlock(memory.get());

    ScopedClipboard clipboard(owner);
    if (!clipboard.open() || !EmptyClipboard()) {
        return false;
    }
    if (!SetClipboardData(CF_UNICODETEXT, memory.get())) {
        return false;
    }
    memory.release();  // the clipboard owns it now
    return true;
}
