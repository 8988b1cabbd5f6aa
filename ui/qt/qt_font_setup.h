#pragma once
// Loading the system's font configuration is the single largest step before a
// window's first frame, and nothing needs it until the first text is
// measured. It is started on a worker thread as soon as the toolkit starts,
// and the GUI thread waits for it only when it first asks for a font.

namespace DirectUI {

// Starts loading the font configuration on a worker thread; once per process.
void BeginFontSetup();

// True while the loading begun by BeginFontSetup is still under way.
bool FontSetupPending();

// GUI thread, before its first use of a font: waits until the loading begun
// by BeginFontSetup has finished. Returns at once when it was never begun or
// has already been waited for.
void AwaitFontSetup();

}  // namespace DirectUI
