#include "ui/qt/qt_font_setup.h"

#include <atomic>
#include <mutex>

#ifdef QUILLORA_HAVE_FONTCONFIG
#include <fontconfig/fontconfig.h>
#include <pthread.h>
#include <sched.h>
#endif

namespace DirectUI {

#ifdef QUILLORA_HAVE_FONTCONFIG
namespace {

std::atomic<bool> g_loading{false};
cpu_set_t g_everyCore;  // written before the worker starts
bool g_placed = false;

void* LoadFontConfiguration(void*) {
  // Placed away from the GUI thread only to start at once; from here on
  // the scheduler may move it, for instance to the GUI thread's core while
  // that thread waits for it on a busy machine.
  if (g_placed) pthread_setaffinity_np(pthread_self(), sizeof g_everyCore, &g_everyCore);
  // Only fontconfig, which keeps no state the process tears down at exit: a
  // program may end (std::exit) while this still runs. Qt's font database,
  // torn down at exit, is left to the GUI thread.
  FcInit();
  g_loading.store(false, std::memory_order_release);
  return nullptr;
}

// Joined when the GUI thread first needs a font, or at the latest when the
// process ends (a program may end before it draws any text).
struct FontSetup {
  std::once_flag begun;
  pthread_t worker{};
  bool running = false;
  void Join() {
    if (!running) return;
    pthread_join(worker, nullptr);
    running = false;
  }
  ~FontSetup() { Join(); }
};

FontSetup& Setup() {
  static FontSetup setup;
  return setup;
}

}  // namespace
#endif

void BeginFontSetup() {
#ifdef QUILLORA_HAVE_FONTCONFIG
  FontSetup& setup = Setup();
  std::call_once(setup.begun, [&setup] {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return;
    // Started on a core other than this one when there is one: left to the
    // scheduler, a new thread often waits on this core until the GUI thread
    // blocks, and the work gains nothing from running beside it.
    CPU_ZERO(&g_everyCore);
    const int here = sched_getcpu();
    if (here >= 0 && sched_getaffinity(0, sizeof g_everyCore, &g_everyCore) == 0 && CPU_COUNT(&g_everyCore) > 1) {
      cpu_set_t others = g_everyCore;
      CPU_CLR(here, &others);
      g_placed = pthread_attr_setaffinity_np(&attr, sizeof others, &others) == 0;
    }
    // The library makes its configuration current atomically, so a caller
    // that does not wait (a dialog of the platform's, say) at worst loads it
    // a second time; it never sees half of it. Without a thread to spare,
    // the toolkit loads it when it first needs it.
    g_loading.store(true, std::memory_order_relaxed);
    setup.running = pthread_create(&setup.worker, &attr, LoadFontConfiguration, nullptr) == 0;
    if (!setup.running) {
      g_placed = false;  // any core
      setup.running = pthread_create(&setup.worker, nullptr, LoadFontConfiguration, nullptr) == 0;
    }
    if (!setup.running) g_loading.store(false, std::memory_order_relaxed);
    pthread_attr_destroy(&attr);
  });
#endif
}

bool FontSetupPending() {
#ifdef QUILLORA_HAVE_FONTCONFIG
  return g_loading.load(std::memory_order_acquire);
#else
  return false;
#endif
}

void AwaitFontSetup() {
#ifdef QUILLORA_HAVE_FONTCONFIG
  Setup().Join();
#endif
}

}  // namespace DirectUI
