#include "emulator/emulator.h"

namespace quillora::emulator {

class Emulator::Impl {};

Emulator::Emulator(Options) : impl_(std::make_unique<Impl>()) {}
Emulator::~Emulator() = default;
bool Emulator::Start() { return false; }
std::string Emulator::LastError() const { return "not built yet"; }

}  // namespace quillora::emulator
