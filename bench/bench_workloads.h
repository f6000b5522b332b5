// The renderer's two reference workloads, written once for any target that
// can clear, set a world matrix and draw lit triangle lists (our device, or a
// peer renderer): FillRate, ten screen-covering lit quads, each passing the
// depth test; SceneFrame, a 7 x 7 floor of boxes and 4000 small lit triangles
// about four dancers, one draw call each as the model draws them.
#ifndef VELMORA_BENCH_WORKLOADS_H
#define VELMORA_BENCH_WORKLOADS_H

#include <d3d9.h>
#include <windows.h>

#include "bench_device.h"
#include "d3d_test_device.h"

#include <math.h>
#include <string.h>

#include <vector>

// The vertex and matrix helpers of the graphics tests.
using d3dtest::Identity;
using d3dtest::LitVertex;

inline D3DMATRIX Perspective(float fov, float aspect, float zn, float zf)
{
    return d3dtest::PerspectiveFovLH(fov, aspect, zn, zf);
}

// View from (0, 150, -400) towards the origin, built by hand (left-handed look-at).
inline D3DMATRIX View()
{
    float eye[3] = {0.f, 150.f, -400.f};
    float z[3] = {-eye[0], -eye[1], -eye[2]};
    float l = sqrtf(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
    for (float& v : z)
        v /= l;
    float x[3] = {z[2], 0.f, -z[0]};  // up (0,1,0) cross z
    l = sqrtf(x[0] * x[0] + x[2] * x[2]);
    x[0] /= l;
    x[2] /= l;
    float y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
    D3DMATRIX m = Identity();
    for (int i = 0; i < 3; ++i) {
        m.m[i][0] = x[i];
        m.m[i][1] = y[i];
        m.m[i][2] = z[i];
    }
    m._41 = -(x[0] * eye[0] + x[1] * eye[1] + x[2] * eye[2]);
    m._42 = -(y[0] * eye[0] + y[1] * eye[1] + y[2] * eye[2]);
    m._43 = -(z[0] * eye[0] + z[1] * eye[1] + z[2] * eye[2]);
    return m;
}

inline std::vector<LitVertex> Box(float sx, float sy, float sz)
{
    std::vector<LitVertex> v;
    const float n[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (const auto& f : n) {
        // Two axes spanning the face.
        float u[3] = {f[1] != 0 || f[2] != 0 ? 1.f : 0.f, f[0] != 0 ? 1.f : 0.f, 0.f};
        float w[3] = {f[1] * u[2] - f[2] * u[1], f[2] * u[0] - f[0] * u[2], f[0] * u[1] - f[1] * u[0]};
        auto corner = [&](float a, float b) {
            LitVertex p;
            p.x = (f[0] + a * u[0] + b * w[0]) * sx * 0.5f;
            p.y = (f[1] + a * u[1] + b * w[1]) * sy * 0.5f;
            p.z = (f[2] + a * u[2] + b * w[2]) * sz * 0.5f;
            p.nx = f[0];
            p.ny = f[1];
            p.nz = f[2];
            return p;
        };
        LitVertex c[4] = {corner(-1, -1), corner(1, -1), corner(1, 1), corner(-1, 1)};
        v.insert(v.end(), {c[0], c[1], c[2], c[0], c[2], c[3]});
    }
    return v;
}

// The module's fixed-function lighting: ambient render state white, one point light.
inline D3DLIGHT9 WorkloadLight()
{
    D3DLIGHT9 light;
    memset(&light, 0, sizeof light);
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = {0.5f, 0.5f, 0.5f, 0.f};
    light.Specular = {0.3f, 0.3f, 0.3f, 0.f};
    light.Ambient = {0.5f, 0.5f, 0.5f, 0.f};
    light.Position = {0.f, 50.f, -50.f};
    light.Range = 500.f;
    light.Attenuation0 = 1.f;
    return light;
}

inline D3DMATERIAL9 WorkloadMaterial()
{
    D3DMATERIAL9 mat;
    memset(&mat, 0, sizeof mat);
    mat.Diffuse = {0.8f, 0.5f, 0.3f, 1.f};
    mat.Ambient = {0.2f, 0.2f, 0.2f, 1.f};
    mat.Specular = {1.f, 1.f, 1.f, 1.f};
    mat.Power = 8.f;
    return mat;
}

// A device with the module's lighting set up on a window, 800 x 600 unless told.
struct Rig {
    BenchDevice device;
    IDirect3DDevice9* dev = device.dev;

    explicit Rig(int width = kWidth, int height = kHeight) : device("VelmoraBenchWindow", width, height)
    {
        dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        dev->SetRenderState(D3DRS_LIGHTING, TRUE);
        dev->SetRenderState(D3DRS_AMBIENT, 0xffffffff);
        dev->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
        dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
        D3DLIGHT9 light = WorkloadLight();
        dev->SetLight(0, &light);
        dev->LightEnable(0, TRUE);
        D3DMATERIAL9 mat = WorkloadMaterial();
        dev->SetMaterial(&mat);
        dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    }
};

// Our device as a workload target.
struct D3DWorkloadTarget {
    IDirect3DDevice9* dev;

    void SetCamera(const D3DMATRIX& view, const D3DMATRIX& proj)
    {
        dev->SetTransform(D3DTS_VIEW, &view);
        dev->SetTransform(D3DTS_PROJECTION, &proj);
    }
    void Begin()
    {
        dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.f, 0);
        dev->BeginScene();
    }
    void SetWorld(const D3DMATRIX& world) { dev->SetTransform(D3DTS_WORLD, &world); }
    void Draw(const LitVertex* v, size_t count)
    {
        dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)(count / 3), v, sizeof(LitVertex));
    }
    void End() { dev->EndScene(); }
    void Present() { dev->Present(NULL, NULL, NULL, NULL); }
};

struct FillWorkload {
    std::vector<LitVertex> quads;

    FillWorkload()
    {
        // Ten layers of screen-covering quads, nearest last: each passes the depth test.
        for (int layer = 0; layer < 10; ++layer) {
            float z = 100.f - layer * 5.f, s = z * 2.f;
            LitVertex q[6] = {{-s, s, z, 0, 0, -1}, {s, s, z, 0, 0, -1},   {-s, -s, z, 0, 0, -1},
                              {s, s, z, 0, 0, -1},  {s, -s, z, 0, 0, -1}, {-s, -s, z, 0, 0, -1}};
            quads.insert(quads.end(), q, q + 6);
        }
    }
    template <class Target>
    void SetUp(Target& target) const
    {
        target.SetCamera(Identity(), Perspective(1.2566371f, 1.f, 1.f, 1000.f));
        target.SetWorld(Identity());
    }
    template <class Target>
    void Draw(Target& target) const
    {
        target.Begin();
        target.Draw(quads.data(), quads.size());
        target.End();
    }
};

struct SceneWorkload {
    std::vector<LitVertex> box = Box(60.f, 10.f, 60.f);
    std::vector<LitVertex> tris;

    SceneWorkload()
    {
        // 4000 small triangles about four dancers.
        unsigned seed = 12345;
        auto rnd = [&]() {
            seed = seed * 1103515245u + 12345u;
            return ((seed >> 8) & 0xffff) / 65535.f - 0.5f;
        };
        for (int i = 0; i < 4000; ++i) {
            float cx = -150.f + 100.f * (i % 4) + rnd() * 30.f, cy = 40.f + rnd() * 70.f, cz = rnd() * 30.f;
            for (int k = 0; k < 3; ++k)
                tris.push_back({cx + rnd() * 6.f, cy + rnd() * 6.f, cz + rnd() * 6.f, rnd(), rnd(), -0.5f});
        }
    }
    template <class Target>
    void SetUp(Target& target) const
    {
        target.SetCamera(View(), Perspective(1.2566371f, 1.f, 5.f, 1000.f));
    }
    template <class Target>
    void Draw(Target& target) const
    {
        target.Begin();
        for (int c = 0; c < 7; ++c)
            for (int r = 0; r < 7; ++r) {
                D3DMATRIX world = Identity();
                world._41 = -192.f + 64.f * r;
                world._43 = -192.f + 64.f * c;
                target.SetWorld(world);
                target.Draw(box.data(), box.size());
            }
        target.SetWorld(Identity());
        for (size_t t = 0; t < tris.size(); t += 3)
            target.Draw(&tris[t], 3);
        target.End();
    }
};

#endif
