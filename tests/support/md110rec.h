// Builds MD110 call records in the BC12 layout as an exchange prints them:
// 135 bytes of fixed columns, then a line feed.
#pragma once

#include <string>

struct md110fields {
  std::string stamp = "03051400";    // MMDDhhmm at byte 3
  std::string duration = "0030";     // H, MM, tenths of a minute at byte 12
  std::string meter = "   3";        // 4 characters at byte 18
  std::string cond = "   ";          // condition code, 3 characters at byte 23
  std::string first = "5551234";     // first number field, 20 characters at byte 38
  std::string second = "4201";       // second number field, 10 characters at byte 59
  std::string charge = "";           // 12 characters at byte 78
  std::string trunk1 = "T00-00-12";  // first trunk field as printed, 9 characters at 111
  std::string trunk2 = "";           // second trunk field as printed, 9 characters at 121
};

// The 136 bytes of the record, line feed last. Separators are blanks; the
// columns no decoder examines hold '9', so that a read of a wrong column
// shows. Texts longer than their field are cut to it.
std::string md110record(const md110fields& f);

// A first number field whose last seven characters, from byte 51, are
// `seven`: the overflow marker and six digits of a station.
std::string firststation(const std::string& seven);
