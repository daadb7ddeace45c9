// platform/random.h: a table-driven random byte source: a fixed permutation
// of 0..255 read in order, so a run is the same every time.
#pragma once

void rand_reset();   // the index back to 0
int rand_byte();     // 0..255, period 256
