// The command line of pabxsim.
#pragma once

#include <cstdint>
#include <string>

#include "tools/pabxsim/callgen.h"

struct simoptions {
  genconfig gen;
  uint64_t count = 100;  // records; 0: no end
  double rate = 0;       // records a second; 0: as fast as the peer takes them
  enum { file, listen, connect, pty } where = file;
  std::string target = "-";  // the file, the address, or the pty's symbolic link
  // Faults: a drop after every dropevery-th record; every cutevery-th drop
  // cuts that record in half, every resetevery-th is a reset; after every
  // silenceevery-th record nothing is sent for `silence` seconds; after a
  // drop the latest `replay` records are sent again.
  uint64_t dropevery = 0, cutevery = 0, resetevery = 0, silenceevery = 0, replay = 0;
  double silence = 0;
  std::string callsfile;  // the list of records sent; empty: none
};

enum class parsed { run, help, version, bad };

// Reads the command line into `o`; `why` says what is wrong with a bad one.
parsed parsesimoptions(int argc, char** argv, simoptions* o, std::string* why);

// Reads YYYY-MM-DDThh:mm[:ss] as local time, or "now".
bool parsestart(const std::string& text, time_t* out);

extern const char* const simusage;
