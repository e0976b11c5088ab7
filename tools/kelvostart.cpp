// kelvostart: starts the site's status program kelvo through the shell.
//
// The process becomes the shell, so kelvo runs with the caller's
// environment, working directory, standard streams, user and group, and the
// caller sees kelvo's status (or the shell's, when kelvo cannot be run).
// Arguments given to kelvostart are not passed on.

#include <unistd.h>

#ifndef KELVO_PATH
#define KELVO_PATH "/u/quorin/bin/kelvo"
#endif
#ifndef KELVO_SHELL
#define KELVO_SHELL "/bin/sh"
#endif

int main() {
  // execl returns only when the shell cannot be run; its -1 ends the
  // program with status 255, without a message.
  return execl(KELVO_SHELL, KELVO_SHELL, "-c", KELVO_PATH, static_cast<char*>(nullptr));
}
