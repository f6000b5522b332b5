// 4 x 4 matrix in the Direct3D convention: row-major, row vectors, the
// translation in the fourth row. Products take their right operand first.
#ifndef VELMORA_CMATRIX4_H
#define VELMORA_CMATRIX4_H

#include "math/CVector3.h"

class CMatrix3;
class CQuaternion;

class CMatrix4
{
public:
    CMatrix4() { SetIdentity(); }
    CMatrix4(const CMatrix4& other) = default;
    CMatrix4& operator=(const CMatrix4& other) = default;

    void SetIdentity();
    void SetRotationTranslation(const CQuaternion& q, const CVector3& t);
    // this := this . R
    void RotateX(float angle);
    void RotateY(float angle);
    void RotateZ(float angle);

    // out := b . a (b is applied first, as in the operator form a * b)
    static void Multiply(CMatrix4& out, const CMatrix4& a, const CMatrix4& b);
    // B . this
    CMatrix4 operator*(const CMatrix4& b) const;
    // this := B . this
    CMatrix4& operator*=(const CMatrix4& b);

    // Inverse; the identity when the determinant is 0. An affine matrix takes
    // a shorter way to the same result as the general one.
    CMatrix4 Inverse() const;
    void Inverse(CMatrix4& out) const;
    void InverseGeneral(CMatrix4& out) const;

    CMatrix4 GetRotation() const;
    CMatrix3 GetMatrix3() const;

    CVector3 GetTranslation() const { return CVector3(m[3][0], m[3][1], m[3][2]); }
    bool IsAffine() const { return m[0][3] == 0.0f && m[1][3] == 0.0f && m[2][3] == 0.0f && m[3][3] == 1.0f; }

    float m[4][4];
};

#endif
