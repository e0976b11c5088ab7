// How far an hour file is loaded into the database, and what tells that
// the part loaded is still there as it was.
//
// Hour files change only by appends, with two exceptions: the packer cuts a
// torn tail off when it opens a file again (the loader never loads a line
// without its line feed, so the cut part was never loaded), and it makes a
// file again at the same path when the one it wrote was moved or removed.
// The loader keeps, per file: the bytes loaded, the number of lines in
// them, a hash of them (64-bit FNV-1a), a hash of their first 64 bytes,
// the file's device and inode, and its size and modification time when
// last loaded. When a file is met again:
//
//   - the same inode, size and modification time: nothing new (no read);
//   - the loaded part hashes as before: it is the same file, grown (or
//     with a torn tail cut, or copied anew, as rsync does, under another
//     identity): load on from the end of the loaded part;
//   - another file whose first bytes differ from the loaded part's: the
//     packer made the file again, and its lines are new calls: load it
//     from its start, the offsets of its rows counted on after those of
//     the earlier file (`base`), so that no row's place is taken twice;
//   - anything else is a change to the part loaded: the same file shorter
//     than the part (truncated) or with other bytes in it (edited), or
//     another file that begins as the loaded part did but then differs
//     (replaced by another version of it). That is a finding; nothing more
//     is loaded from the file until the operator resolves it.
//
// Where the file system keeps no birth time, a file made again under the
// inode number of the one removed looks like the same file changed: a
// finding, never a call lost or loaded twice. Reading the loaded part
// again costs a read of the file whenever its size, time or identity
// changed, which for a store being written is the file of the current
// hour alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cdr/linereader.h"

struct loadedfile {
  std::string file;  // relative to the store
  int64_t hour = 0;  // of its name, as YYYYMMDDhh; 0 for none
  int64_t base = 0;  // the offset its first byte has in the rows
  int64_t bytes = 0, lines = 0;  // loaded: up to the end of a line
  uint64_t hash = 0, head = 0;   // of the bytes loaded, and of their first 64
  uint64_t dev = 0, ino = 0;
  int64_t born = 0;              // birth time in nanoseconds; 0 where none is kept
  int64_t size = -1, mtime = 0;  // when loaded, mtime in nanoseconds
  int64_t split = 0;             // the second pass of a repeated hour it was loaded with
};

inline constexpr uint64_t fnvbasis = 0xcbf29ce484222325ull;
// The 64-bit FNV-1a hash of `s`, going on from `h`.
uint64_t fnv1a(uint64_t h, std::string_view s);
inline constexpr int64_t headbytes = 64;

// The starting state of a file not loaded yet.
loadedfile freshfile(const std::string& file, int64_t hour);

enum class verdict {
  unchanged,  // nothing new since it was loaded
  grown,      // the part loaded is as it was: go on from its end
  madeagain,  // a new file at the same path: load it from its start
  truncated,  // shorter than the part loaded
  edited,     // the part loaded holds other bytes
  replaced,   // another file, beginning as the part loaded did
  unreadable, // it could not be read (errno)
};
const char* verdicttext(verdict v);  // for the finding: what changed

// What statx tells of a file.
struct filestatus {
  uint64_t dev = 0, ino = 0;
  int64_t born = 0, size = 0, mtime = 0;
  bool regular = false;
};
// Of an open file, or of a path; false (errno set) when it cannot be had.
bool statusof(int fd, filestatus* st);
bool statusat(const std::string& path, filestatus* st);
// Whether it is the file loaded, unchanged since.
bool unchanged(const filestatus& st, const loadedfile& f);

// Compares the open file (fd, its status st) with how far it is loaded.
// For `madeagain`, *next is the new file's starting state (base moved on).
// Reads the file only when its status changed.
verdict checkfile(int fd, const filestatus& st, const loadedfile& was, loadedfile* next);

// The file's status in a loadedfile.
void takestatus(const filestatus& st, loadedfile* f);

// Moves the position past a whole line just read from the open file fd:
// its bytes into the hashes, the bytes and lines loaded up to its end. A
// line too long to be held is hashed from the file; false (errno set) when
// that cannot be read, and the position stays.
bool advancepast(loadedfile* f, int fd, const linereader::line& line);
