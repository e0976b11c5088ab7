// Builds NEAX call records as an exchange prints them: 131 bytes of fixed
// columns, then ETX.
#pragma once

#include <string>

struct neaxfields {
  char marker = 'K';
  char kind = 'A';
  std::string trunk = "000012";
  char cls = '1';
  std::string station = "004201";
  std::string start = "0305140000";  // MMDDhhmmss
  std::string end = "0305140300";
  std::string charge = "          ";  // 10 characters
  char flag55 = '0';
  std::string check1 = "000", check2 = "000";
  std::string dialled = "5551234";  // up to 24 characters from byte 62
  std::string bstation = "";        // kind 'B': 6 characters at byte 64
  std::string meter = "0003";
  std::string number98 = "";  // up to 16 characters from byte 98
};

// The 132 bytes of the record, ETX last.
std::string neaxrecord(const neaxfields& f);
