// The portable kernels once more, with the tiles' column terms of each row group summed apart
// before they join their column: a wrong order of additions the comparisons must catch.
#define ORRELUNE_MISORDER_COLUMN_TERMS
#define gravityKernelsScalar misorderedKernels
#include "../../sim/kernels/kernels_scalar.cpp"
