// kestsim_dll.cpp - the simulator DLL's own translation unit. The exported functions live in the
// simulator's sources (sim/sim_mil.cpp); the .def file names them, which links them in.
#include "sim/sim_mil.h"
