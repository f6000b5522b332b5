// Rotation quaternion (x, y, z, w), w the scalar part.
#ifndef VELMORA_CQUATERNION_H
#define VELMORA_CQUATERNION_H

struct CAxisAngle;
class CMatrix4;

class CQuaternion
{
public:
    CQuaternion() : x(0.0f), y(0.0f), z(0.0f), w(1.0f) {}
    CQuaternion(float ax, float ay, float az, float aw) : x(ax), y(ay), z(az), w(aw) {}
    CQuaternion(const CQuaternion& other) = default;
    explicit CQuaternion(const CMatrix4& m) { FromMatrix(m); }
    CQuaternion& operator=(const CQuaternion& other) = default;

    // Reads only the upper-left 3 x 3.
    CQuaternion& FromMatrix(const CMatrix4& m);
    // The axis is taken as given, not normalised.
    CQuaternion& FromAxisAngle(const CAxisAngle& aa);
    CQuaternion& Normalize();
    CMatrix4 GetMatrix() const;

    float x, y, z, w;
};

#endif
