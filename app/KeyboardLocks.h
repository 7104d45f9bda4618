#pragma once

// State of the keyboard's lock keys, where the platform tells it (Linux: the keyboard LEDs).
namespace KeyboardLocks {
enum Lock { Caps, Num };
// False when the lock is off or its state cannot be read.
bool isOn(Lock lock);
} // namespace KeyboardLocks
