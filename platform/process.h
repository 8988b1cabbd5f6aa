#pragma once
// Starting other programs.
#include <string>
#include <vector>

namespace quillora::platform {

// Starts `program` (a full path) with `arguments` (not including the program
// itself) and returns at once without waiting for it to end. Each argument
// reaches the program unchanged: no command line is built, so spaces and
// quotes need no escaping. Returns false when the program could not be
// started.
bool StartProcess(const std::string& program, const std::vector<std::string>& arguments);

// As StartProcess, but `program` may be a bare name looked up in the PATH.
bool StartProgramFromPath(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace quillora::platform
