#pragma once
// The windowed program's entry: one copy per user session, the toolkit's
// skin folder, the main window and its loop.

namespace quillora {

// The guard's name in the user's runtime folder.
inline constexpr char kSingleInstanceName[] = "quilloraformathelperasd";

// Runs the program and returns its exit code (0; a skin that cannot be
// loaded ends the process with 1 from inside the toolkit).
int RunQuillora();

}  // namespace quillora
