#include "math/CQuaternion.h"

#include "math/CAxisAngle.h"
#include "math/CMatrix4.h"

#include <math.h>

CQuaternion& CQuaternion::FromMatrix(const CMatrix4& mat)
{
    const float(&m)[4][4] = mat.m;
    float t = m[0][0] + m[2][2] + m[1][1];
    if (t > 0.0f)
    {
        float s = sqrtf(t + 1.0f);
        w = 0.5f * s;
        s = 0.5f / s;
        x = (m[1][2] - m[2][1]) * s;
        y = (m[2][0] - m[0][2]) * s;
        z = (m[0][1] - m[1][0]) * s;
        return *this;
    }
    int i = 0;
    if (m[1][1] > m[0][0])
        i = 1;
    if (m[2][2] > m[i][i])
        i = 2;
    int j = (i + 1) % 3;
    int k = (j + 1) % 3;
    float q[3];
    float s = sqrtf(m[i][i] - (m[k][k] + m[j][j]) + 1.0f);
    q[i] = 0.5f * s;
    if (s != 0.0f)
        s = 0.5f / s;
    w = (m[j][k] - m[k][j]) * s;
    q[j] = (m[i][j] + m[j][i]) * s;
    q[k] = (m[k][i] + m[i][k]) * s;
    x = q[0];
    y = q[1];
    z = q[2];
    return *this;
}

CQuaternion& CQuaternion::FromAxisAngle(const CAxisAngle& aa)
{
    float h = aa.angle * 0.5f;
    float s = sinf(h);
    x = aa.axis.x * s;
    y = aa.axis.y * s;
    z = aa.axis.z * s;
    w = cosf(h);
    return *this;
}

CQuaternion& CQuaternion::Normalize()
{
    float n = x * x + y * y + z * z + w * w;
    if (n == 0.0f)
        return *this;
    float inv = 1.0f / sqrtf(n);
    x *= inv;
    y *= inv;
    z *= inv;
    w *= inv;
    return *this;
}

CMatrix4 CQuaternion::GetMatrix() const
{
    CMatrix4 r;
    r.SetRotationTranslation(*this, CVector3());
    return r;
}
