#include "math/CMatrix4.h"

#include "math/CMatrix3.h"
#include "math/CQuaternion.h"

#include <math.h>

void CMatrix4::SetIdentity()
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] = r == c ? 1.0f : 0.0f;
}

void CMatrix4::SetRotationTranslation(const CQuaternion& q, const CVector3& t)
{
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    m[0][0] = 1.0f - 2.0f * (y * y + z * z);
    m[0][1] = 2.0f * (x * y + w * z);
    m[0][2] = 2.0f * (x * z - w * y);
    m[0][3] = 0.0f;
    m[1][0] = 2.0f * (x * y - w * z);
    m[1][1] = 1.0f - 2.0f * (x * x + z * z);
    m[1][2] = 2.0f * (y * z + w * x);
    m[1][3] = 0.0f;
    m[2][0] = 2.0f * (x * z + w * y);
    m[2][1] = 2.0f * (y * z - w * x);
    m[2][2] = 1.0f - 2.0f * (x * x + y * y);
    m[2][3] = 0.0f;
    m[3][0] = t.x;
    m[3][1] = t.y;
    m[3][2] = t.z;
    m[3][3] = 1.0f;
}

void CMatrix4::RotateX(float angle)
{
    CMatrix4 r;
    float c = cosf(angle), s = sinf(angle);
    r.m[1][1] = c;
    r.m[1][2] = s;
    r.m[2][1] = -s;
    r.m[2][2] = c;
    Multiply(*this, r, *this);
}

void CMatrix4::RotateY(float angle)
{
    CMatrix4 r;
    float c = cosf(angle), s = sinf(angle);
    r.m[0][0] = c;
    r.m[0][2] = -s;
    r.m[2][0] = s;
    r.m[2][2] = c;
    Multiply(*this, r, *this);
}

void CMatrix4::RotateZ(float angle)
{
    CMatrix4 r;
    float c = cosf(angle), s = sinf(angle);
    r.m[0][0] = c;
    r.m[0][1] = s;
    r.m[1][0] = -s;
    r.m[1][1] = c;
    Multiply(*this, r, *this);
}

void CMatrix4::Multiply(CMatrix4& out, const CMatrix4& b, const CMatrix4& a)
{
    // Standard product a . b of the reversed arguments; a temporary keeps
    // out == a or out == b safe.
    CMatrix4 result;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            result.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                             a.m[i][3] * b.m[3][j];
    out = result;
}

CMatrix4 CMatrix4::operator*(const CMatrix4& b) const
{
    CMatrix4 result;
    Multiply(result, *this, b);
    return result;
}

CMatrix4& CMatrix4::operator*=(const CMatrix4& b)
{
    Multiply(*this, *this, b);
    return *this;
}

CMatrix4 CMatrix4::Inverse() const
{
    CMatrix4 result;
    Inverse(result);
    return result;
}

// The cofactors over the determinant; the identity when it is 0.
static void StoreInverse(const double inv[16], double det, CMatrix4& out)
{
    if (det == 0.0)
    {
        out.SetIdentity();
        return;
    }
    double invDet = 1.0 / det;
    for (int i = 0; i < 16; ++i)
        out.m[i / 4][i % 4] = static_cast<float>(inv[i] * invDet);
}

// The general inverse's cofactors with the terms that vanish when the last
// column is (0, 0, 0, 1) left out, in the same order: the same result, at a
// fraction of the work. Bone and entity matrices are all of this form.
static void InverseAffine(const CMatrix4& matrix, CMatrix4& out)
{
    double a[16];
    for (int i = 0; i < 16; ++i)
        a[i] = matrix.m[i / 4][i % 4];
    double inv[16];
    inv[0] = a[5] * a[10] - a[9] * a[6];
    inv[4] = -a[4] * a[10] + a[8] * a[6];
    inv[8] = a[4] * a[9] - a[8] * a[5];
    inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
              a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
    inv[1] = -a[1] * a[10] + a[9] * a[2];
    inv[5] = a[0] * a[10] - a[8] * a[2];
    inv[9] = -a[0] * a[9] + a[8] * a[1];
    inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
              a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
    inv[2] = a[1] * a[6] - a[5] * a[2];
    inv[6] = -a[0] * a[6] + a[4] * a[2];
    inv[10] = a[0] * a[5] - a[4] * a[1];
    inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
              a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
    inv[3] = inv[7] = inv[11] = 0.0;
    inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
              a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
    double det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8];
    StoreInverse(inv, det, out);
}

void CMatrix4::Inverse(CMatrix4& out) const
{
    if (IsAffine())
        InverseAffine(*this, out);
    else
        InverseGeneral(out);
}

void CMatrix4::InverseGeneral(CMatrix4& out) const
{
    double a[16];
    for (int i = 0; i < 16; ++i)
        a[i] = m[i / 4][i % 4];
    double inv[16];
    inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
             a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
    inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
             a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
    inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
             a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
    inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
              a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
    inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] -
             a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
    inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
             a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
    inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
             a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
    inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
              a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
    inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
             a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
    inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
             a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
    inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
              a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
    inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
              a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
    inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] -
             a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
    inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
             a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
    inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
              a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
    inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
              a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
    double det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
    StoreInverse(inv, det, out);
}

CMatrix4 CMatrix4::GetRotation() const
{
    CMatrix4 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.m[i][j] = m[i][j];
    return r;
}

CMatrix3 CMatrix4::GetMatrix3() const
{
    CMatrix3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.m[i][j] = m[i][j];
    return r;
}
