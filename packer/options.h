// The command line of the packer: defaults, options, the banner, the usage
// text and the settings dump.
#pragma once

// What the start-up keeps besides the run settings.
struct startup {
  char inputpath[128] = "";        // empty: standard input
  char outputdir[128] = "";        // the buffer cdrdir points at
  const char* hostname = nullptr;  // with a TCP source: host and port text
  const char* hostport = nullptr;
};
extern startup start;

// Empties the input path, the output directory (cdrdir) and the host.
void resetstartup();

// Reads the options into the run settings; false at a bad option or a
// missing argument (getopt has said which).
bool parseoptions(int argc, char** argv);

// The value of the leading hexadecimal digits of text (at most maxdigits,
// leading blanks skipped); 0 when there is none.
unsigned long hexarg(const char* text, int maxdigits);

void printpkid();
void usage();
void dumpsettings();
