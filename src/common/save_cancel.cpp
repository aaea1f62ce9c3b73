// Cancelling saves: a flag, a count of saves that are replacing files, and a
// fixed table of the temporary files being written, which a signal handler
// can walk without allocating or locking.
#include <atomic>
#include <csignal>
#include <cstring>

#include "common/save_platform.h"

namespace tolv {
namespace {

// Slot states. A slot is claimed (kFilling) while its name is copied in, and
// marked kRemoving while a cancel removes its file, so that neither side
// reads a name the other is changing.
enum SlotState : int { kFree, kFilling, kReady, kRemoving };

// Enough for the files of the largest save (13 flash blocks) several times.
constexpr int kSlotCount = 32;
constexpr size_t kNameCapacity = 4096;

struct Slot {
  std::atomic<int> state{kFree};
  char name[kNameCapacity];
};

Slot g_slots[kSlotCount];
std::atomic<bool> g_cancel{false};
std::atomic<int> g_replacing{0};
std::atomic<int> g_signalAfterReplacing{0};  // a signal held back while files are replaced

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the registry is used from signal handlers");

void RemoveRegisteredTemporaries() noexcept {
  for (Slot& slot : g_slots) {
    int expected = kReady;
    if (!slot.state.compare_exchange_strong(expected, kRemoving)) continue;
    save_detail::RemoveForCancel(slot.name);
    slot.state.store(kReady);
  }
}

}  // namespace

bool Saves_Cancel() noexcept {
  g_cancel.store(true);
  // A save that is replacing files finishes; it checked the flag before it
  // began (Replacing_Begin), so one of the two sides always sees the other.
  if (g_replacing.load() > 0) return false;
  RemoveRegisteredTemporaries();
  return true;
}

bool Saves_CancelRequested() noexcept { return g_cancel.load(); }

void Saves_ResetCancel() noexcept { g_cancel.store(false); }

namespace save_detail {

int Temporaries_Register(const std::string& name) noexcept {
  if (name.size() >= kNameCapacity) return -1;
  for (int i = 0; i < kSlotCount; ++i) {
    int expected = kFree;
    if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(g_slots[i].name, name.c_str(), name.size() + 1);
    g_slots[i].state.store(kReady);
    return i;
  }
  return -1;
}

void Temporaries_Unregister(int slot) noexcept {
  if (slot < 0 || slot >= kSlotCount) return;
  // A cancel removing the file right now (on another thread) ends soon.
  int expected = kReady;
  while (!g_slots[slot].state.compare_exchange_weak(expected, kFree)) expected = kReady;
}

void ThrowIfCanceled(const std::string& shown) {
  if (g_cancel.load()) throw SaveCanceled("Cancelled: \"" + shown + "\" was not written.");
}

bool Replacing_Begin() noexcept {
  g_replacing.fetch_add(1);
  if (!g_cancel.load()) return true;
  g_replacing.fetch_sub(1);
  return false;
}

void Replacing_End() noexcept {
  if (g_replacing.fetch_sub(1) != 1) return;
  if (const int signalNumber = g_signalAfterReplacing.exchange(0)) std::raise(signalNumber);
}

void RaiseAfterReplacing(int signalNumber) noexcept { g_signalAfterReplacing.store(signalNumber); }

}  // namespace save_detail
}  // namespace tolv
