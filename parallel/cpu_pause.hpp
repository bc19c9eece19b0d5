// PauseCpu: one round of a wait awake.
#pragma once

namespace quenpix {

// Tells the processor that the thread is waiting awake, which frees the core's resources for a
// moment and eases the exit from the wait; nothing where there is no such instruction.
inline void PauseCpu() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace quenpix
