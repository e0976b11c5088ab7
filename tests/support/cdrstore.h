// Small CDR stores built for the tests of pktav-cdr, and its runs.
#pragma once

#include <string>
#include <vector>

#include "support/proc.h"

// Appends `text` to the file at `relpath` under `root`, making the
// directories on the way.
void addtostore(const std::string& root, const std::string& relpath, const std::string& text);

// "MM_YYYY/DD_MM_YYYY/DD_MM_YYYY:hh" of the given hour.
std::string hourfilepath(int year, int month, int day, int hour);

// The CDR line of an outgoing call, from "YYYY-MM-DDThh:mm:ss STATION
// TRUNK DIALLED SECONDS" (its end; -1 seconds: too long to count), with its
// line feed; *relpath is the hour file it goes to.
std::string outgoingline(const std::string& call, std::string* relpath);

// Two days of March 2024 under root: a plain call, a call too long to
// count, a call of no length with a charge code, one whose end lay before
// its start, and an incoming call.
void addtwodaysofmarch(const std::string& root);

// Runs pktav-cdr with these arguments (TZ unset: every test names its zone
// with --tz); the job, for one run in the background.
procresult runcdr(const std::vector<std::string>& args);
procspec cdrjob(const std::vector<std::string>& args);
