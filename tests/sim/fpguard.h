// A probe that shows whether the model's floating-point flags allow fused multiply-add contraction.
#pragma once

// a*b+c written as two operations; compiled with FMA allowed, so contraction would show.
double unfusedMultiplyAdd(double a, double b, double c);
