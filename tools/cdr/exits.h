// How pktav-cdr ends, as grep and diff do.
#pragma once

inline constexpr int exit_ok = 0;       // done; the store is sound
inline constexpr int exit_found = 1;    // findings, or lines that are not calls
inline constexpr int exit_trouble = 2;  // bad usage, or a system error
