#pragma once

namespace velutron {

// Makes sure descriptors 0, 1 and 2 are open (on the null device when they were closed), so that no file
// or port the program opens later can take their place: a port that became standard output would
// receive the program's own text as commands. Call first thing in main().
void EnsureStandardDescriptors();

// Ctrl+C, SIGTERM, SIGHUP or the console closing: the user asked the running operation to stop. The flag is
// program-wide because a signal handler can reach nothing else; everything else reads it through these.
void InstallInterruptHandlers();
// Async-signal-safe.
void RequestInterrupt();
bool InterruptRequested();
// For tests, and for a program that goes on after an interrupted operation.
void ClearInterrupt();

// A descriptor that becomes readable when an interrupt arrives (a self-pipe), so an event loop can wake
// for it without polling; -1 where there is none (Windows).
int InterruptNotifierFd();

}  // namespace velutron
