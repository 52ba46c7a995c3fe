// The desk in a terminal: Padwarden on the simulated machine in real time, one USB keyboard
// "kb1" plugged in and the permission granted, commands read at a prompt. Called by main.
#pragma once

namespace padwarden::desk {

// Answers the exit status: main's status when Padwarden could not start (another copy runs,
// or the lock failed), else 0.
int run_terminal();

}  // namespace padwarden::desk
