// Where pabxsim sends its stream: a file or standard output, a TCP client
// it serves (accepting the next one after a drop), a TCP server it connects
// to (again after a drop), or a pseudo-terminal that it hangs up at a drop
// and makes anew.
#pragma once

#include <memory>
#include <string>

class simlink {
 public:
  virtual ~simlink() = default;
  // Waits until a peer is there to send to; false (after its message) when
  // none can be.
  virtual bool up() = 0;
  // Sends all bytes; false when the peer went away.
  virtual bool send(const std::string& bytes) = 0;
  // Ends the link, with a reset instead of an orderly close where the link
  // has one. Every byte sent before is with the peer by then.
  virtual void drop(bool reset) = 0;
};

// Each returns null after a message on standard error when it cannot be set
// up. ADDRESS:PORT with a numeric address ([...] for IPv6); the listener
// prints "listening on ADDRESS:PORT" with the port it got.
std::unique_ptr<simlink> filelink(const std::string& path);  // "-": standard output
std::unique_ptr<simlink> tcpserverlink(const std::string& where);
std::unique_ptr<simlink> tcpclientlink(const std::string& where);
// Prints the path of each pseudo-terminal on standard output; with a
// `linkpath`, also points that symbolic link at it.
std::unique_ptr<simlink> ptylink(const std::string& linkpath);
