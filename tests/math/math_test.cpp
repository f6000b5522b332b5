#include <gtest/gtest.h>

#include "math/CAxisAngle.h"
#include "math/CMatrix3.h"
#include "math/CMatrix4.h"
#include "math/CQuaternion.h"
#include "math/CVector3.h"

#include <math.h>

namespace
{
const float kPi = 3.14159265358979f;

void ExpectNear(const CVector3& v, float x, float y, float z, float eps = 1e-5f)
{
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

void ExpectMatrixNear(const CMatrix4& a, const CMatrix4& b, float eps = 1e-5f)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(a.m[r][c], b.m[r][c], eps) << "element " << r << c;
}

CMatrix4 Translation(float x, float y, float z)
{
    CMatrix4 m;
    m.m[3][0] = x;
    m.m[3][1] = y;
    m.m[3][2] = z;
    return m;
}
} // namespace

TEST(MathRotation, AxesAreLeftHandedAndAppliedXThenYThenZ)
{
    CMatrix4 m;
    m.RotateX(kPi / 2);
    m.RotateY(0);
    m.RotateZ(0);
    ExpectNear(CVector3(0, 1, 0) * m, 0, 0, 1);

    CMatrix4 y;
    y.RotateY(kPi / 2);
    ExpectNear(CVector3(0, 0, 1) * y, 1, 0, 0);
    CMatrix4 z;
    z.RotateZ(kPi / 2);
    ExpectNear(CVector3(1, 0, 0) * z, 0, 1, 0);

    // The combined rotation turns about X first, then Y, then Z.
    const float a = 0.3f, b = -1.1f, c = 2.0f;
    CMatrix4 all, rx, ry, rz;
    all.RotateX(a);
    all.RotateY(b);
    all.RotateZ(c);
    rx.RotateX(a);
    ry.RotateY(b);
    rz.RotateZ(c);
    CVector3 p(1.5f, -2.0f, 0.7f);
    CVector3 stepwise = ((p * rx) * ry) * rz;
    CVector3 combined = p * all;
    ExpectNear(combined, stepwise.x, stepwise.y, stepwise.z);
}

TEST(MathProduct, RightOperandIsAppliedFirst)
{
    CMatrix4 a = Translation(1, 0, 0);
    CMatrix4 b;
    b.RotateZ(kPi / 2);
    // A on the left of the operator, B on the right: B first, then A.
    ExpectNear(CVector3(1, 0, 0) * (a * b), 1, 1, 0);

    CMatrix4 out;
    CMatrix4::Multiply(out, a, b); // b . a: b first, as the operator form
    ExpectNear(CVector3(1, 0, 0) * out, 1, 1, 0);
    CMatrix4::Multiply(out, b, a);
    ExpectNear(CVector3(1, 0, 0) * out, 0, 2, 0);

    CMatrix4 inPlace = a;
    inPlace *= b;
    ExpectMatrixNear(inPlace, a * b);

    // The output may be an input.
    CMatrix4 alias = b;
    CMatrix4::Multiply(alias, alias, a);
    ExpectMatrixNear(alias, out);
}

TEST(MathQuaternion, FromMatrixTakesEachBranch)
{
    CQuaternion q(CMatrix4{});
    EXPECT_FLOAT_EQ(q.x, 0);
    EXPECT_FLOAT_EQ(q.y, 0);
    EXPECT_FLOAT_EQ(q.z, 0);
    EXPECT_FLOAT_EQ(q.w, 1);

    CMatrix4 flip; // pi about X: diagonal 1, -1, -1
    flip.m[1][1] = -1;
    flip.m[2][2] = -1;
    q.FromMatrix(flip);
    EXPECT_FLOAT_EQ(q.x, 1);
    EXPECT_FLOAT_EQ(q.y, 0);
    EXPECT_FLOAT_EQ(q.z, 0);
    EXPECT_FLOAT_EQ(q.w, 0);

    // Round trips through every branch of the trace method.
    const float angles[][3] = {{0.2f, 0.4f, -0.3f}, {kPi, 0, 0}, {0, kPi * 0.99f, 0}, {0, 0, kPi * 0.98f},
                               {2.5f, -1.0f, 0.5f}, {-2.9f, 1.4f, 3.0f}};
    for (const auto& a : angles)
    {
        CMatrix4 m;
        m.RotateX(a[0]);
        m.RotateY(a[1]);
        m.RotateZ(a[2]);
        CMatrix4 back = CQuaternion(m).GetMatrix();
        ExpectMatrixNear(back, m.GetRotation(), 2e-5f);
    }
}

TEST(MathQuaternion, AxisAngleAndNormalizeKeepTheirInputs)
{
    CQuaternion q;
    q.FromAxisAngle(CAxisAngle(CVector3(0, 0, 2), kPi));
    EXPECT_NEAR(q.x, 0, 1e-6f);
    EXPECT_NEAR(q.y, 0, 1e-6f);
    EXPECT_NEAR(q.z, 2, 1e-6f);
    EXPECT_NEAR(q.w, 0, 1e-6f);

    CQuaternion zero(0, 0, 0, 0);
    zero.Normalize();
    EXPECT_EQ(zero.x, 0);
    EXPECT_EQ(zero.w, 0);

    CQuaternion n(0, 3, 0, 4);
    n.Normalize();
    EXPECT_FLOAT_EQ(n.y, 0.6f);
    EXPECT_FLOAT_EQ(n.w, 0.8f);

    // SetRotationTranslation writes every element, whatever was there.
    CMatrix4 m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m.m[r][c] = 7;
    m.SetRotationTranslation(CQuaternion(), CVector3(1, 2, 3));
    ExpectMatrixNear(m, Translation(1, 2, 3), 0);
}

TEST(MathInverse, GeneralSingularAndThreeByThree)
{
    CMatrix4 zero;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            zero.m[r][c] = 0;
    ExpectMatrixNear(zero.Inverse(), CMatrix4(), 0);

    CMatrix4 m;
    m.RotateX(0.4f);
    m.RotateZ(-1.2f);
    m.m[3][0] = 3;
    m.m[3][1] = -4;
    m.m[0][3] = 0.25f; // projective
    CMatrix4 product;
    CMatrix4::Multiply(product, m.Inverse(), m);
    ExpectMatrixNear(product, CMatrix4(), 1e-5f);
    CMatrix4 self = m;
    self.Inverse(self);
    ExpectMatrixNear(self, m.Inverse(), 0);

    CMatrix3 r = m.GetMatrix3();
    CMatrix3 inv;
    inv.Invert(r);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
        {
            float sum = 0;
            for (int k = 0; k < 3; ++k)
                sum += r.m[i][k] * inv.m[k][j];
            EXPECT_NEAR(sum, i == j ? 1.0f : 0.0f, 1e-5f);
        }
    r.Invert(r);
    EXPECT_FLOAT_EQ(r.m[1][2], inv.m[1][2]);
}

TEST(MathVector, TransformsCrossAndNormalize)
{
    CMatrix4 affine = Translation(1, 2, 3);
    ExpectNear(CVector3(1, 1, 1) * affine, 2, 3, 4);

    // Projective: w for (1, 0, 0) is m03 + m33.
    CMatrix4 projective;
    projective.m[0][3] = 1.0f;
    projective.m[3][3] = 0.000001f - 1.0f;
    CVector3 p(1, 0, 0);
    ExpectNear(p * projective, 0, 0, 0, 0);
    projective.m[3][3] = 1.0f; // w = 2
    p *= projective;
    ExpectNear(p, 0.5f, 0, 0);

    CMatrix3 turn = CQuaternion(0, 0, 0.7071068f, 0.7071068f).GetMatrix().GetMatrix3();
    CVector3 d(1, 0, 0);
    d *= turn;
    ExpectNear(d, 0, 1, 0);

    ExpectNear(CVector3::Cross(CVector3(1, 0, 0), CVector3(0, 1, 0)), 0, 0, 1, 0);
    CVector3 zero;
    zero.Normalize();
    ExpectNear(zero, 0, 0, 0, 0);
    CVector3 v(3, 0, 4);
    v.Normalize();
    ExpectNear(v, 0.6f, 0, 0.8f);
}

namespace
{
// A bone, entity or camera matrix: rotation, scale (per axis or uniform) and translation.
CMatrix4 Affine(float ax, float ay, float az, float sx, float sy, float sz, float tx, float ty, float tz)
{
    CMatrix4 m;
    m.RotateX(ax);
    m.RotateY(ay);
    m.RotateZ(az);
    for (int c = 0; c < 3; ++c)
    {
        m.m[0][c] *= sx;
        m.m[1][c] *= sy;
        m.m[2][c] *= sz;
    }
    m.m[3][0] = tx;
    m.m[3][1] = ty;
    m.m[3][2] = tz;
    return m;
}

void ExpectSameInverse(const CMatrix4& m)
{
    CMatrix4 general;
    m.InverseGeneral(general);
    const CMatrix4 inverse = m.Inverse();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(inverse.m[r][c], general.m[r][c]) << "element " << r << c;
}
} // namespace

TEST(MathInverse, AffineGivesTheGeneralResultExactly)
{
    unsigned seed = 7;
    auto rnd = [&](float lo, float hi) {
        seed = seed * 1103515245u + 12345u;
        return lo + (hi - lo) * static_cast<float>((seed >> 8) & 0xffff) / 65535.0f;
    };
    for (int i = 0; i < 200; ++i)
    {
        const float s = rnd(0.01f, 50.0f);
        const bool uniform = i % 2 == 0;
        const CMatrix4 m = Affine(rnd(-kPi, kPi), rnd(-kPi, kPi), rnd(-kPi, kPi), s, uniform ? s : rnd(0.1f, 3.0f),
                                  uniform ? s : rnd(0.1f, 3.0f), rnd(-500, 500), rnd(-500, 500), rnd(-500, 500));
        ASSERT_TRUE(m.IsAffine());
        ExpectSameInverse(m);
    }
    // Pure translation and the identity.
    ExpectSameInverse(Translation(3, -4, 5));
    ExpectSameInverse(CMatrix4());
    // A shear is affine too.
    CMatrix4 shear = Translation(1, 2, 3);
    shear.m[1][0] = 0.5f;
    ExpectSameInverse(shear);
}

TEST(MathInverse, AffineSingularAndInPlace)
{
    // A flattened axis: no inverse, the identity.
    const CMatrix4 flat = Affine(0.3f, 0.2f, 0.1f, 1, 0, 1, 5, 6, 7);
    ExpectMatrixNear(flat.Inverse(), CMatrix4(), 0);
    ExpectSameInverse(flat);

    const CMatrix4 m = Affine(0.5f, -1.0f, 2.0f, 2, 2, 2, 10, -20, 30);
    CMatrix4 self = m;
    self.Inverse(self);
    ExpectMatrixNear(self, m.Inverse(), 0);
    CMatrix4 product;
    CMatrix4::Multiply(product, self, m);
    ExpectMatrixNear(product, CMatrix4(), 1e-5f);
    // A point goes there and back.
    CVector3 p(1, 2, 3);
    p *= m;
    p *= self;
    ExpectNear(p, 1, 2, 3, 1e-4f);
}
