// The list of the records sent, one tab-separated line each, in the order
// they were sent:
//
//   seq  status  kind  line
//
// seq is the record's number (a replayed record keeps its number); status
// is sent, replayed (sent again after a drop), cut (half of it sent before
// a drop), damaged (sent whole, rejected by every build) or lost (the peer went away while it was
// being sent); kind is the NEAX record kind (A, E, B) or the MD110 one (O
// outgoing, I incoming, T transit); line is the CDR line the record becomes,
// without its line feed, or '-'. The lines of the records sent whole, in
// list order, are what the store must hold.
//
// A line may change until 23 newer calls have arrived (pairing), so rows
// are written once they are final.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

class callslist {
 public:
  explicit callslist(FILE* out) : out_(out) {}

  // A new row; one that `awaitsline` waits for settle().
  size_t add(uint64_t seq, const char* status, char kind, bool awaitsline);
  void settle(size_t row, const std::string& line);
  // Writes what is left; false when the list could not be written.
  bool finish();

 private:
  struct row {
    uint64_t seq;
    const char* status;
    char kind;
    bool final;
    std::string line;
  };
  void writeready();

  FILE* out_;
  std::deque<row> rows_;
  size_t first_ = 0;  // the number of rows_.front()
};
