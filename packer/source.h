// Opening the record source: standard input, a file or device, or a TCP
// connection to host:port. The packer only ever reads from it.
#pragma once

// Opens the input into cdrfp: standard input for an empty path, a TCP
// connection when host is given, else the file or device at path. Failures
// end the program with code 1 after their message.
void openinput(const char* path, const char* host, const char* port);

// Connects to host (a dotted address or a name) at port (a number or a TCP
// service name) and returns the socket. Signals are acted on while the
// connection is pending. Failures end the program with code 1.
int tcp_connect(const char* host, const char* port);
