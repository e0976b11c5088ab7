// The one way the packer ends: the exit sequence (final statistics, the
// exit line, the flush of queued calls, closing the streams) with the code
// given. Every fatal condition calls it after writing its own message.
#pragma once

[[noreturn]] void my_exit(int code);

// Writes the message of a fatal condition, as errf does, and ends the
// program through my_exit with code 1.
[[noreturn, gnu::format(printf, 1, 2)]] void fatalf(const char* fmt, ...);

// Exit codes other than a system error number.
inline constexpr int exitok = 0;
inline constexpr int exitfail = 1;
