// Three floats: a point or a direction of the character-animation math.
#ifndef VELMORA_CVECTOR3_H
#define VELMORA_CVECTOR3_H

class CMatrix3;
class CMatrix4;

class CVector3
{
public:
    CVector3() : x(0.0f), y(0.0f), z(0.0f) {}
    CVector3(float ax, float ay, float az) : x(ax), y(ay), z(az) {}
    CVector3(const CVector3& other) = default;
    CVector3& operator=(const CVector3& other) = default;

    CVector3 operator+(const CVector3& v) const { return CVector3(x + v.x, y + v.y, z + v.z); }
    CVector3 operator-(const CVector3& v) const { return CVector3(x - v.x, y - v.y, z - v.z); }
    CVector3& operator*=(float s)
    {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }

    static CVector3 Cross(const CVector3& a, const CVector3& b);
    float Dot(const CVector3& v) const { return x * v.x + y * v.y + z * v.z; }
    float Length() const;
    // Unit length; the zero vector stays zero.
    CVector3& Normalize();

    // Point transform (row vector times matrix, projective divide when needed).
    CVector3 operator*(const CMatrix4& m) const;
    CVector3& operator*=(const CMatrix4& m);
    // Rotation transform by the 3 x 3 matrix.
    CVector3& operator*=(const CMatrix3& r);

    float x, y, z;
};

#endif
