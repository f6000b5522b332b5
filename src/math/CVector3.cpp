#include "math/CVector3.h"

#include "math/CMatrix3.h"
#include "math/CMatrix4.h"

#include <math.h>

CVector3 CVector3::Cross(const CVector3& a, const CVector3& b)
{
    return CVector3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

float CVector3::Length() const
{
    return sqrtf(x * x + y * y + z * z);
}

CVector3& CVector3::Normalize()
{
    float lengthSq = x * x + y * y + z * z;
    // A zero vector has no direction: it stays zero instead of turning into NaN.
    if (lengthSq > 0.0f)
        *this *= 1.0f / sqrtf(lengthSq);
    return *this;
}

CVector3 CVector3::operator*(const CMatrix4& mat) const
{
    const float(&m)[4][4] = mat.m;
    CVector3 q(x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0],
               x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1],
               x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2]);
    if (mat.IsAffine())
        return q;
    float w = x * m[0][3] + y * m[1][3] + z * m[2][3] + m[3][3];
    if (fabsf(w) < 0.00001f)
        return CVector3();
    q *= 1.0f / w;
    return q;
}

CVector3& CVector3::operator*=(const CMatrix4& m)
{
    *this = *this * m;
    return *this;
}

CVector3& CVector3::operator*=(const CMatrix3& r)
{
    const float(&m)[3][3] = r.m;
    CVector3 v(x * m[0][0] + y * m[1][0] + z * m[2][0],
               x * m[0][1] + y * m[1][1] + z * m[2][1],
               x * m[0][2] + y * m[1][2] + z * m[2][2]);
    *this = v;
    return *this;
}
