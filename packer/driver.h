// The running packer: the main loop, the statistics line, the work of the
// signals and the exit sequence (my_exit, declared in exit.h).
#pragma once

#include <cstdint>

extern uint32_t lastreccount;  // reccount at the previous statistics line

// The main loop; never returns. Opens the input at inputpath first, unless
// it is null (the input is already open).
[[noreturn]] void pktav(const char* inputpath);

// Writes the statistics line.
void dostats();

// The work of the noted signals, run at the safe points of the main flow.
void servicesignals();
void do_terminate(int sig);
void do_toglograw(int sig);
void do_alarm(int sig);
