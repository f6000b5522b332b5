#include "math/CMatrix3.h"

CMatrix3::CMatrix3()
{
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m[r][c] = r == c ? 1.0f : 0.0f;
}

CMatrix3& CMatrix3::Invert(const CMatrix3& source)
{
    const float a = source.m[0][0], b = source.m[0][1], c = source.m[0][2];
    const float d = source.m[1][0], e = source.m[1][1], f = source.m[1][2];
    const float g = source.m[2][0], h = source.m[2][1], i = source.m[2][2];
    float det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    if (det == 0.0f)
    {
        // No inverse: the identity keeps the callers' normals finite.
        *this = CMatrix3();
        return *this;
    }
    float inv = 1.0f / det;
    m[0][0] = (e * i - f * h) * inv;
    m[0][1] = -(b * i - c * h) * inv;
    m[0][2] = (b * f - c * e) * inv;
    m[1][0] = -(d * i - f * g) * inv;
    m[1][1] = (a * i - c * g) * inv;
    m[1][2] = -(a * f - c * d) * inv;
    m[2][0] = (d * h - e * g) * inv;
    m[2][1] = -(a * h - b * g) * inv;
    m[2][2] = (a * e - b * d) * inv;
    return *this;
}
