// 3 x 3 rotation-part matrix, row-major.
#ifndef VELMORA_CMATRIX3_H
#define VELMORA_CMATRIX3_H

class CMatrix3
{
public:
    CMatrix3();
    CMatrix3(const CMatrix3& other) = default;
    CMatrix3& operator=(const CMatrix3& other) = default;

    // this := inverse of source (source may be this matrix); a singular
    // source gives the identity rather than infinities.
    CMatrix3& Invert(const CMatrix3& source);

    float m[3][3];
};

#endif
