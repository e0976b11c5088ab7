// Signals noted, not handled: a handler only notes that its signal came,
// and the program acts on it after its wait. A pipe becomes readable when
// one is noted, so that a wait on it (poll) ends at once, even for a
// signal that came just before the wait began.
#pragma once

#include <csignal>
#include <initializer_list>

// Installs the noting handler for each signal, without SA_RESTART: a
// blocking call that one interrupts fails with EINTR.
void notesignals(std::initializer_list<int> sigs);

// The next noted signal, cleared, or 0.
int takesignal();

// Set once any signal has been noted, and left set: for loops that only
// need to stop (writeall's `stop`).
const volatile sig_atomic_t* signalnoted();

// Waits `seconds`; false at once when a noted signal waits to be taken.
bool pausefor(double seconds);

// The pipe's read end: readable while a noted signal has not been taken.
int signalwakefd();
