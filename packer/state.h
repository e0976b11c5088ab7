// The packer's process-wide state as a whole.
#pragma once

// Puts every piece of process-wide state back to how a run starts: the run
// settings and the start-up, the counters, the time validation, the store
// (an open hourly file or raw log is closed; the standard streams are left
// open), and the calls the module holds, which are dropped.
void resetpacker();
