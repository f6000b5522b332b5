// A double read from a file narrowed to a float as the hardware would, without
// leaving float's range undefined: beyond it is an infinity.
#ifndef VELMORA_NARROWFLOAT_H
#define VELMORA_NARROWFLOAT_H

#include <float.h>
#include <math.h>

inline float NarrowToFloat(double value)
{
    if (value > FLT_MAX)
        return HUGE_VALF;
    if (value < -FLT_MAX)
        return -HUGE_VALF;
    return static_cast<float>(value);
}

#endif
