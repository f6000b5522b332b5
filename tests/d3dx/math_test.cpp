// D3DX math against the documented Direct3D formulas.
#include <d3dx9math.h>
#include <gtest/gtest.h>

namespace {

void ExpectMatrixNear(const D3DXMATRIX& a, const D3DXMATRIX& b, float tol = 1e-5f)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(a.m[i][j], b.m[i][j], tol) << "element " << i + 1 << j + 1;
}

void ExpectVecNear(const D3DXVECTOR3& a, float x, float y, float z, float tol = 1e-4f)
{
    EXPECT_NEAR(a.x, x, tol);
    EXPECT_NEAR(a.y, y, tol);
    EXPECT_NEAR(a.z, z, tol);
}

}  // namespace

TEST(D3DXMath, BasicMatricesAndMultiplyOrder)
{
    D3DXMATRIX s, t, st, ts;
    D3DXMatrixScaling(&s, 2, 3, 4);
    D3DXMatrixTranslation(&t, 10, 20, 30);
    D3DXMatrixMultiply(&st, &s, &t);
    D3DXMatrixMultiply(&ts, &t, &s);
    // Row vectors: s then t scales first, translation stays.
    D3DXVECTOR3 p(1, 1, 1), r;
    D3DXVec3TransformCoord(&r, &p, &st);
    ExpectVecNear(r, 12, 23, 34);
    D3DXVec3TransformCoord(&r, &p, &ts);
    ExpectVecNear(r, 22, 63, 124);
    // Operator agrees with the function; out may alias an input.
    ExpectMatrixNear(s * t, st);
    D3DXMATRIX a = s;
    D3DXMatrixMultiply(&a, &a, &t);
    ExpectMatrixNear(a, st);
    D3DXMATRIX id;
    D3DXMatrixIdentity(&id);
    EXPECT_TRUE(D3DXMatrixIsIdentity(&id));
    EXPECT_EQ(D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1), id);
    EXPECT_FLOAT_EQ(D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1)(3, 1), 6.0f);
}

TEST(D3DXMath, AxisRotationsAreLeftHanded)
{
    const float a = 0.5f, c = cosf(a), s = sinf(a);
    D3DXMATRIX m;
    D3DXMatrixRotationX(&m, a);
    ExpectMatrixNear(m, D3DXMATRIX(1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1));
    D3DXMatrixRotationY(&m, a);
    ExpectMatrixNear(m, D3DXMATRIX(c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1));
    D3DXMatrixRotationZ(&m, a);
    ExpectMatrixNear(m, D3DXMATRIX(c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1));
    // A quarter turn about y takes +x to -z (clockwise looking down the axis).
    D3DXMatrixRotationY(&m, D3DX_PI / 2);
    D3DXVECTOR3 r, x(1, 0, 0);
    D3DXVec3TransformNormal(&r, &x, &m);
    ExpectVecNear(r, 0, 0, -1);
}

TEST(D3DXMath, YawPitchRollOrderAndQuaternions)
{
    const float yaw = 0.7f, pitch = -0.4f, roll = 1.1f;
    D3DXMATRIX m, rz, rx, ry, expect;
    D3DXMatrixRotationYawPitchRoll(&m, yaw, pitch, roll);
    D3DXMatrixRotationZ(&rz, roll);
    D3DXMatrixRotationX(&rx, pitch);
    D3DXMatrixRotationY(&ry, yaw);
    expect = rz * rx * ry;  // roll, then pitch, then yaw
    ExpectMatrixNear(m, expect);

    D3DXQUATERNION q;
    D3DXQuaternionRotationYawPitchRoll(&q, yaw, pitch, roll);
    EXPECT_NEAR(D3DXQuaternionLength(&q), 1.0f, 1e-6f);
    D3DXMATRIX fromQ;
    D3DXMatrixRotationQuaternion(&fromQ, &q);
    ExpectMatrixNear(fromQ, expect);

    // Axis-angle: normalised axis, half-angle form; the rotation matrix agrees with RotationX.
    D3DXQUATERNION qa;
    D3DXVECTOR3 axis(3, 0, 0);
    D3DXQuaternionRotationAxis(&qa, &axis, 0.8f);
    EXPECT_NEAR(qa.x, sinf(0.4f), 1e-6f);
    EXPECT_NEAR(qa.w, cosf(0.4f), 1e-6f);
    D3DXMatrixRotationQuaternion(&fromQ, &qa);
    D3DXMatrixRotationX(&rx, 0.8f);
    ExpectMatrixNear(fromQ, rx);
    // The zero axis gives the identity rotation, not NaN.
    D3DXVECTOR3 zero(0, 0, 0);
    D3DXQuaternionRotationAxis(&qa, &zero, 0.0f);
    EXPECT_EQ(qa, D3DXQUATERNION(0, 0, 0, 1));

    // Multiply(q1, q2) is q1 followed by q2: its matrix is M(q1) * M(q2).
    D3DXQUATERNION q1, q2, q12;
    D3DXVECTOR3 ax1(1, 0, 0), ax2(0, 1, 1);
    D3DXQuaternionRotationAxis(&q1, &ax1, 3.1415927f);
    D3DXQuaternionRotationAxis(&q2, &ax2, 0.6f);
    D3DXQuaternionMultiply(&q12, &q1, &q2);
    D3DXMATRIX m1, m2, m12;
    D3DXMatrixRotationQuaternion(&m1, &q1);
    D3DXMatrixRotationQuaternion(&m2, &q2);
    D3DXMatrixRotationQuaternion(&m12, &q12);
    ExpectMatrixNear(m12, m1 * m2);
    EXPECT_EQ(q1 * q2, q12);
    // (w, v) product written out: q2 q1.
    D3DXQUATERNION a(1, 2, 3, 4), b(5, 6, 7, 8), ab;
    D3DXQuaternionMultiply(&ab, &a, &b);
    EXPECT_EQ(ab, D3DXQUATERNION(32, 32, 56, -6));
}

TEST(D3DXMath, ViewProjectionAndProjectToViewport)
{
    D3DXVECTOR3 eye(10, 40, -200), at(5, -3, 20), up(0, 1, 0);
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    // The eye goes to the origin and the look-at point onto +z at its distance.
    D3DXVECTOR3 r;
    D3DXVec3TransformCoord(&r, &eye, &view);
    ExpectVecNear(r, 0, 0, 0);
    D3DXVECTOR3 d = at - eye;
    D3DXVec3TransformCoord(&r, &at, &view);
    ExpectVecNear(r, 0, 0, D3DXVec3Length(&d), 1e-3f);
    // Up stays up (positive y in view space).
    D3DXVECTOR3 above = at + D3DXVECTOR3(0, 10, 0);
    D3DXVec3TransformCoord(&r, &above, &view);
    EXPECT_GT(r.y, 0.0f);

    D3DXMATRIX proj;
    D3DXMatrixPerspectiveFovLH(&proj, 1.2566371f, 1.5f, 1.0f, 1500.0f);
    float ys = 1.0f / tanf(1.2566371f / 2);
    ExpectMatrixNear(proj, D3DXMATRIX(ys / 1.5f, 0, 0, 0, 0, ys, 0, 0, 0, 0, 1500.0f / 1499.0f, 1, 0, 0,
                                      -1500.0f / 1499.0f, 0));
    // Near plane maps to depth 0, far plane to 1.
    D3DXVECTOR3 nearP(0, 0, 1), farP(0, 0, 1500);
    D3DXVec3TransformCoord(&r, &nearP, &proj);
    EXPECT_NEAR(r.z, 0.0f, 1e-6f);
    D3DXVec3TransformCoord(&r, &farP, &proj);
    EXPECT_NEAR(r.z, 1.0f, 1e-5f);

    D3DVIEWPORT9 vp = {10, 20, 800, 600, 0.0f, 1.0f};
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    D3DXVec3Project(&r, &at, &vp, &proj, &view, &world);
    EXPECT_NEAR(r.x, 10 + 400, 1e-3f);
    EXPECT_NEAR(r.y, 20 + 300, 1e-3f);
    EXPECT_GT(r.z, 0.0f);
    EXPECT_LT(r.z, 1.0f);
    // A world translation moves the projected point; null matrices are identities.
    D3DXMATRIX shift;
    D3DXMatrixTranslation(&shift, 0, 10, 0);
    D3DXVECTOR3 shifted;
    D3DXVec3Project(&shifted, &at, &vp, &proj, &view, &shift);
    EXPECT_LT(shifted.y, r.y);  // y up in the world is up on the screen
    D3DXVECTOR3 p(0.5f, -0.5f, 0.25f);
    D3DXVec3Project(&r, &p, &vp, nullptr, nullptr, nullptr);
    ExpectVecNear(r, 10 + 1.5f * 400, 20 + 1.5f * 300, 0.25f);
}

TEST(D3DXMath, VectorTransformsAndHelpers)
{
    D3DXMATRIX m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    D3DXVECTOR3 v(1, -1, 2);
    D3DXVECTOR4 r4;
    D3DXVec3Transform(&r4, &v, &m);
    EXPECT_EQ(r4, D3DXVECTOR4(1 - 5 + 18 + 13, 2 - 6 + 20 + 14, 3 - 7 + 22 + 15, 4 - 8 + 24 + 16));
    D3DXVECTOR3 r;
    D3DXVec3TransformCoord(&r, &v, &m);
    ExpectVecNear(r, 27.0f / 36, 30.0f / 36, 33.0f / 36);
    D3DXVec3TransformNormal(&r, &v, &m);
    ExpectVecNear(r, 1 - 5 + 18, 2 - 6 + 20, 3 - 7 + 22);

    D3DXVECTOR3 n;
    D3DXVECTOR3 big(3, 0, 4);
    D3DXVec3Normalize(&n, &big);
    ExpectVecNear(n, 0.6f, 0, 0.8f);
    D3DXVECTOR3 zero(0, 0, 0);
    D3DXVec3Normalize(&n, &zero);
    ExpectVecNear(n, 0, 0, 0);
    EXPECT_FLOAT_EQ(D3DXVec3Length(&big), 5.0f);
    D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0), c;
    D3DXVec3Cross(&c, &x, &y);
    ExpectVecNear(c, 0, 0, 1);
    D3DXVec3Cross(&x, &x, &y);  // aliasing
    ExpectVecNear(x, 0, 0, 1);
    EXPECT_FLOAT_EQ(D3DXVec3Dot(&big, &y), 0.0f);
    EXPECT_EQ((DWORD)D3DXCOLOR(0x80FF4000), 0x80FF4000u);
}

TEST(D3DXMath, InverseAndBoundingBox)
{
    D3DXMATRIX m, inv, prod, id;
    D3DXMatrixRotationYawPitchRoll(&m, 0.3f, 0.2f, -0.9f);
    D3DXMATRIX t;
    D3DXMatrixTranslation(&t, 4, -5, 6);
    m *= t;
    m._11 *= 2.0f;
    float det = 0;
    ASSERT_NE(D3DXMatrixInverse(&inv, &det, &m), nullptr);
    EXPECT_NEAR(det, D3DXMatrixDeterminant(&m), 1e-5f);
    D3DXMatrixMultiply(&prod, &m, &inv);
    D3DXMatrixIdentity(&id);
    ExpectMatrixNear(prod, id);
    D3DXMATRIX singular(1, 2, 3, 4, 2, 4, 6, 8, 0, 0, 1, 0, 0, 0, 0, 1);
    EXPECT_EQ(D3DXMatrixInverse(&inv, nullptr, &singular), nullptr);

    // Positions inside a vertex of 24 bytes (position, then three other floats).
    float verts[4][6] = {{1, 2, 3, 99, 99, 99}, {-4, 5, 0, -99, -99, -99}, {2, -7, 8, 0, 0, 0}, {0, 0, -1, 0, 0, 0}};
    D3DXVECTOR3 lo, hi;
    EXPECT_EQ(D3DXComputeBoundingBox(reinterpret_cast<D3DXVECTOR3*>(verts), 4, 24, &lo, &hi), S_OK);
    ExpectVecNear(lo, -4, -7, -1);
    ExpectVecNear(hi, 2, 5, 8);
    EXPECT_LT(D3DXComputeBoundingBox(nullptr, 4, 24, &lo, &hi), 0);
    EXPECT_LT(D3DXComputeBoundingBox(reinterpret_cast<D3DXVECTOR3*>(verts), 0, 24, &lo, &hi), 0);
    EXPECT_LT(D3DXComputeBoundingBox(reinterpret_cast<D3DXVECTOR3*>(verts), 4, 24, nullptr, &hi), 0);
}
