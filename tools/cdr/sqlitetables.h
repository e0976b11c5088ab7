// The tables of an SQLite file (database.h): what makes them, what
// upgrades older ones, and the statements that find a row of pktav_calls
// by its key.
//
// Each row of pktav_calls is keyed by one integer, id: its file's number
// in the high 31 bits and its line's offset in the low 32 (hour files of up
// to 4 GiB, 2^31 files). The rows of a store loaded in time order go in at
// the right edge of one B-tree, found by an integer compare at each level;
// file_id and line_offset are virtual columns read out of id. A row that
// does not fit is refused, never keyed in another's place.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int offsetbits = 32;
inline constexpr int64_t mostoffset = (int64_t{1} << offsetbits) - 1;
inline constexpr int64_t mostfile = (int64_t{1} << (63 - offsetbits)) - 1;

// The tables of a new file.
std::string sqlitetables();
// What turns the tables of version i + 1 into those of version i + 2, but
// for the view calls, which an upgrade from version 3 or later drops first
// and every upgrade makes anew at the end (sqliteview).
std::string sqliteupgrade(int i);
// The view calls, and the triggers that put rows in, change and delete
// them through it.
std::string sqliteview();
// A row of version 3 that version 4 cannot key: its file_id and
// line_offset.
std::string sqliteunkeyable();

// The insert of a row: its key ?1, its columns after line_offset ?4 to
// ?22.
std::string sqliteinsert();
// " WHERE ...": the row of site ?1, file ?2 at offset ?3; none when the
// offset or the file's number does not fit.
std::string sqliterowat();
// The rows of site ?1, file ?2, by offset: line_offset, call_end and
// call_start in seconds, then the columns of query.
std::string sqliterows();
