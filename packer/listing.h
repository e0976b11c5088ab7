// The packed-call listing of -X: the 52 bytes of a call in hexadecimal,
// then its fields in columns, on standard error.
#pragma once

#include "pabx/pabx.h"

void dumppak(const pkrecord* pk);
