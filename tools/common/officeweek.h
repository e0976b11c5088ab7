// The traffic of an office over its week: few calls at night, most in the
// late morning and the afternoon with a dip at lunch, a weekend day a small
// share of a working day. pabxsim paces its calls by it, mkcdrstore shares
// its stores out by it.
#pragma once

// Relative traffic in hour `hour` (0-23) of day `weekday` (0 Monday .. 6
// Sunday), always above zero.
double officeweight(int weekday, int hour);

// The mean of officeweight over the 168 hours of a week: N calls an hour on
// average over a week are N * officeweight / officemean in each hour.
double officemean();
