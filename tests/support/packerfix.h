// A fixture for tests of the packer's units: the run settings at their
// defaults, a fixed time zone with its packed time scale, an empty queue
// and zero counters before every test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pabx/pabx.h"
#include "packer/ptime.h"

// Puts the process into time zone tz and sets up the packed time scale.
void usezone(const char* tz);

// The packed time of a local date and time (full year, month and day from 1).
uint32_t packedat(int year, int month, int day, int hour, int minute, int second);

// Sets the clock reading that decoders and validation compare against.
void setnow(int year, int month, int day, int hour, int minute, int second);

// Places a raw record into rawbuf so that its last byte lies at index
// `last`, and sets inpptr there.
void placerecord(const std::string& rec, int last);

// Empties the queues of every module.
void drainqueues();

// Every call the module still holds, oldest first.
std::vector<pkrecord> drain(const pabxmodule& mod);

// The 24 dialled-digit characters of a packed call.
std::string dialled(const pkrecord& pk);

// digits flush right in 24 characters, as dialled digits are stored.
std::string right(const std::string& digits);

class packertest : public ::testing::Test {
 protected:
  void SetUp() override;
};
