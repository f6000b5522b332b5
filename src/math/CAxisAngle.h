// A rotation given as an axis and an angle in radians.
#ifndef VELMORA_CAXISANGLE_H
#define VELMORA_CAXISANGLE_H

#include "math/CVector3.h"

struct CAxisAngle
{
    CAxisAngle() : angle(0.0f) {}
    CAxisAngle(const CVector3& a, float an) : axis(a), angle(an) {}

    CVector3 axis;
    float angle;
};

#endif
