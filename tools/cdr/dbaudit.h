// The reconciliation of a store with the calls loaded into a database:
// every call of the store's hour files must be a row of the site at its
// file and offset, holding what the line gives, and every row of the site
// a call of the store. Findings: "missing" (a call of the part of its file
// already loaded that the database lacks), "unloaded" (a call beyond it:
// the loader has not come to it yet), "differs" (the row at a call's place
// holds another call), "extra" (a row where the store holds no call) and
// "gone" (the rows of an hour file the store no longer holds). The rows of
// an earlier file at a path, which the packer made again, are named on
// standard error and are no finding: the loader said so when it saw it.
#pragma once

#include "cdr/findings.h"
#include "cdr/options.h"
#include "cdr/zone.h"

// Throws dberror when the database cannot be read.
void reconciledb(const cdroptions& o, tzone& zone, findings& found);

// The store's folder name, the default site of load and audit --db.
std::string foldername(const std::string& root);
