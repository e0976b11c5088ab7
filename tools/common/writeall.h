// Writing every byte, whatever the descriptor: a write cut short by a
// signal or a full pipe is carried on, a non-blocking descriptor waited for.
#pragma once

#include <csignal>
#include <cstddef>
#include <string_view>

// Writes all n bytes at p to fd; false with errno set when a write fails
// (EIO for one that took nothing). With `stop`, a signal whose handler set
// it ends the writing early: false with EINTR, the rest unwritten.
bool writeall(int fd, const void* p, size_t n, const volatile sig_atomic_t* stop = nullptr);
inline bool writeall(int fd, std::string_view bytes, const volatile sig_atomic_t* stop = nullptr) {
  return writeall(fd, bytes.data(), bytes.size(), stop);
}
