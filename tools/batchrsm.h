#pragma once

// `xrdsim-batch --rsm MAP [STRUCTURE]`: a reciprocal-space map to its image, its gridded map
// and its spot table, without a window.

// True when the command line asks for a map (--rsm before any "--").
bool wantsRsm(int argc, char* argv[]);

// Runs the map road; the exit status (0 written, 1 not, 2 a wrong command line).
int runRsm(int argc, char* argv[]);
