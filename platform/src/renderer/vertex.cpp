// Fixed-function vertex processing: transform to clip space and the vertex
// lighting of Direct3D 9, computed in view space.
#include "renderer/pixel_ops.h"

#include <math.h>
#include <string.h>

namespace vr {

namespace {

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b)
{
    D3DMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
    return r;
}

void ColorToFloats(D3DCOLOR c, float out[4])
{
    out[0] = ((c >> 16) & 0xff) / 255.f;
    out[1] = ((c >> 8) & 0xff) / 255.f;
    out[2] = (c & 0xff) / 255.f;
    out[3] = ((c >> 24) & 0xff) / 255.f;
}

void ValueToFloats(const D3DCOLORVALUE& c, float out[4])
{
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out[3] = c.a;
}

void Normalize3(float v[3])
{
    float len = sqrtf(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len > 0.f) {
        v[0] /= len;
        v[1] /= len;
        v[2] /= len;
    }
}

float Dot3(const float a[3], const float b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

}  // namespace

FvfLayout DecodeFvf(DWORD fvf)
{
    FvfLayout l;
    int off = 0;
    switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ:
        off = 12;
        break;
    case D3DFVF_XYZRHW:
        off = 16;
        l.pretransformed = true;
        break;
    case D3DFVF_XYZW:
        off = 16;
        break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5:
        off = 12 + 4 * (((fvf & D3DFVF_POSITION_MASK) - D3DFVF_XYZ) / 2);
        break;
    default:
        return l;  // no position: not drawable
    }
    if (fvf & D3DFVF_NORMAL) {
        if (l.pretransformed)
            return l;  // a transformed vertex has no normal
        l.normal = off;
        off += 12;
    }
    if (fvf & D3DFVF_PSIZE)
        off += 4;
    if (fvf & D3DFVF_DIFFUSE) {
        l.diffuse = off;
        off += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        l.specular = off;
        off += 4;
    }
    l.texCount = (int)((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    if (l.texCount > 8)
        return l;
    for (int i = 0; i < l.texCount; ++i) {
        static const int dims[4] = {2, 3, 4, 1};
        l.texDims[i] = dims[(fvf >> (16 + 2 * i)) & 3];
        l.tex[i] = off;
        off += 4 * l.texDims[i];
    }
    l.size = off;
    l.valid = true;
    return l;
}

void VertexProcessor::Setup(const VertexState& state, const FvfLayout& layout)
{
    state_ = state;
    layout_ = layout;
    worldView_ = Multiply(state.world, state.view);
    worldViewProj_ = Multiply(worldView_, state.projection);

    // Normals go through the inverse transpose of the world-view matrix: the
    // cofactor matrix over the determinant.
    const D3DMATRIX& m = worldView_;
    float c[3][3];
    c[0][0] = m._22 * m._33 - m._23 * m._32;
    c[0][1] = m._23 * m._31 - m._21 * m._33;
    c[0][2] = m._21 * m._32 - m._22 * m._31;
    c[1][0] = m._13 * m._32 - m._12 * m._33;
    c[1][1] = m._11 * m._33 - m._13 * m._31;
    c[1][2] = m._12 * m._31 - m._11 * m._32;
    c[2][0] = m._12 * m._23 - m._13 * m._22;
    c[2][1] = m._13 * m._21 - m._11 * m._23;
    c[2][2] = m._11 * m._22 - m._12 * m._21;
    float det = m._11 * c[0][0] + m._12 * c[0][1] + m._13 * c[0][2];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            normalMatrix_[i][j] = det != 0.f ? c[i][j] / det : m.m[i][j];

    lights_.clear();
    const D3DMATRIX& v = state.view;
    for (const D3DLIGHT9& l : state.lights) {
        PreparedLight p;
        p.type = l.Type;
        const D3DVECTOR& P = l.Position;
        const D3DVECTOR& D = l.Direction;
        p.pos[0] = P.x * v._11 + P.y * v._21 + P.z * v._31 + v._41;
        p.pos[1] = P.x * v._12 + P.y * v._22 + P.z * v._32 + v._42;
        p.pos[2] = P.x * v._13 + P.y * v._23 + P.z * v._33 + v._43;
        p.dir[0] = D.x * v._11 + D.y * v._21 + D.z * v._31;
        p.dir[1] = D.x * v._12 + D.y * v._22 + D.z * v._32;
        p.dir[2] = D.x * v._13 + D.y * v._23 + D.z * v._33;
        Normalize3(p.dir);
        p.diffuse[0] = l.Diffuse.r;
        p.diffuse[1] = l.Diffuse.g;
        p.diffuse[2] = l.Diffuse.b;
        p.specular[0] = l.Specular.r;
        p.specular[1] = l.Specular.g;
        p.specular[2] = l.Specular.b;
        p.ambient[0] = l.Ambient.r;
        p.ambient[1] = l.Ambient.g;
        p.ambient[2] = l.Ambient.b;
        p.range = l.Range;
        p.falloff = l.Falloff;
        p.att0 = l.Attenuation0;
        p.att1 = l.Attenuation1;
        p.att2 = l.Attenuation2;
        p.cosHalfTheta = cosf(l.Theta * 0.5f);
        p.cosHalfPhi = cosf(l.Phi * 0.5f);
        lights_.push_back(p);
    }
}

void VertexProcessor::Process(const uint8_t* src, Vertex* out) const
{
    float pos[4] = {0.f, 0.f, 0.f, 1.f};
    memcpy(pos, src + layout_.position, layout_.pretransformed ? 16 : 12);

    float vertexDiffuse[4] = {1.f, 1.f, 1.f, 1.f};
    float vertexSpecular[4] = {0.f, 0.f, 0.f, 0.f};
    if (layout_.diffuse >= 0) {
        D3DCOLOR c;
        memcpy(&c, src + layout_.diffuse, 4);
        ColorToFloats(c, vertexDiffuse);
    }
    if (layout_.specular >= 0) {
        D3DCOLOR c;
        memcpy(&c, src + layout_.specular, 4);
        ColorToFloats(c, vertexSpecular);
    }
    for (int s = 0; s < kTexSets; ++s) {
        int set = (int)(state_.texCoordIndex[s] & 0xffff);
        out->tex[s][0] = out->tex[s][1] = 0.f;
        if (set < layout_.texCount) {
            memcpy(out->tex[s], src + layout_.tex[set], layout_.texDims[set] >= 2 ? 8 : 4);
        }
    }

    if (layout_.pretransformed) {
        // Screen position and reciprocal homogeneous w, used as given.
        out->x = pos[0];
        out->y = pos[1];
        out->z = pos[2];
        out->w = pos[3] != 0.f ? 1.f / pos[3] : 1.f;
        memcpy(out->diffuse, vertexDiffuse, sizeof vertexDiffuse);
        memcpy(out->specular, vertexSpecular, sizeof vertexSpecular);
        return;
    }

    const D3DMATRIX& m = worldViewProj_;
    out->x = pos[0] * m._11 + pos[1] * m._21 + pos[2] * m._31 + m._41;
    out->y = pos[0] * m._12 + pos[1] * m._22 + pos[2] * m._32 + m._42;
    out->z = pos[0] * m._13 + pos[1] * m._23 + pos[2] * m._33 + m._43;
    out->w = pos[0] * m._14 + pos[1] * m._24 + pos[2] * m._34 + m._44;

    if (!state_.lighting) {
        memcpy(out->diffuse, vertexDiffuse, sizeof vertexDiffuse);
        memcpy(out->specular, vertexSpecular, sizeof vertexSpecular);
        return;
    }

    // Material colours, each from the material or a vertex colour.
    auto source = [&](DWORD which, const D3DCOLORVALUE& material, float out4[4]) {
        if (state_.colorVertex && which == D3DMCS_COLOR1 && layout_.diffuse >= 0)
            memcpy(out4, vertexDiffuse, 16);
        else if (state_.colorVertex && which == D3DMCS_COLOR2 && layout_.specular >= 0)
            memcpy(out4, vertexSpecular, 16);
        else
            ValueToFloats(material, out4);
    };
    float Cd[4], Cs[4], Ca[4], Ce[4];
    source(state_.diffuseSource, state_.material.Diffuse, Cd);
    source(state_.specularSource, state_.material.Specular, Cs);
    source(state_.ambientSource, state_.material.Ambient, Ca);
    source(state_.emissiveSource, state_.material.Emissive, Ce);

    const D3DMATRIX& wv = worldView_;
    float P[3] = {pos[0] * wv._11 + pos[1] * wv._21 + pos[2] * wv._31 + wv._41,
                  pos[0] * wv._12 + pos[1] * wv._22 + pos[2] * wv._32 + wv._42,
                  pos[0] * wv._13 + pos[1] * wv._23 + pos[2] * wv._33 + wv._43};
    float N[3] = {0.f, 0.f, 0.f};
    if (layout_.normal >= 0) {
        float n[3];
        memcpy(n, src + layout_.normal, 12);
        for (int j = 0; j < 3; ++j)
            N[j] = n[0] * normalMatrix_[0][j] + n[1] * normalMatrix_[1][j] + n[2] * normalMatrix_[2][j];
        if (state_.normalizeNormals)
            Normalize3(N);
    }
    float toEye[3] = {0.f, 0.f, 1.f};
    if (state_.localViewer) {
        toEye[0] = -P[0];
        toEye[1] = -P[1];
        toEye[2] = -P[2];
        Normalize3(toEye);
    }

    float ambient[3], diffuse[3] = {0.f, 0.f, 0.f}, specular[3] = {0.f, 0.f, 0.f};
    float globalAmbient[4];
    ColorToFloats(state_.ambient, globalAmbient);
    memcpy(ambient, globalAmbient, sizeof ambient);

    for (const PreparedLight& l : lights_) {
        float L[3];
        float atten = 1.f, spot = 1.f;
        if (l.type == D3DLIGHT_DIRECTIONAL) {
            L[0] = -l.dir[0];
            L[1] = -l.dir[1];
            L[2] = -l.dir[2];
        } else {
            L[0] = l.pos[0] - P[0];
            L[1] = l.pos[1] - P[1];
            L[2] = l.pos[2] - P[2];
            float d = sqrtf(Dot3(L, L));
            if (d > l.range)
                continue;  // out of range: the light adds nothing
            float denom = l.att0 + l.att1 * d + l.att2 * d * d;
            atten = denom > 0.f ? 1.f / denom : 1.f;
            if (d > 0.f) {
                L[0] /= d;
                L[1] /= d;
                L[2] /= d;
            }
            if (l.type == D3DLIGHT_SPOT) {
                float rho = -Dot3(L, l.dir);
                if (rho <= l.cosHalfPhi)
                    spot = 0.f;
                else if (rho <= l.cosHalfTheta) {
                    float t = (rho - l.cosHalfPhi) / (l.cosHalfTheta - l.cosHalfPhi);
                    spot = l.falloff == 1.f ? t : powf(t, l.falloff);
                }
            }
        }
        float k = atten * spot;
        for (int j = 0; j < 3; ++j)
            ambient[j] += k * l.ambient[j];
        float nl = Dot3(N, L);
        if (nl <= 0.f || k == 0.f)
            continue;
        for (int j = 0; j < 3; ++j)
            diffuse[j] += Cd[j] * l.diffuse[j] * nl * k;
        if (state_.specularEnable) {
            float H[3] = {toEye[0] + L[0], toEye[1] + L[1], toEye[2] + L[2]};
            Normalize3(H);
            float nh = Dot3(N, H);
            if (nh > 0.f) {
                float f = state_.material.Power > 0.f ? powf(nh, state_.material.Power) : 1.f;
                for (int j = 0; j < 3; ++j)
                    specular[j] += Cs[j] * l.specular[j] * f * k;
            }
        }
    }
    for (int j = 0; j < 3; ++j) {
        out->diffuse[j] = Clamp01(Ce[j] + Ca[j] * ambient[j] + diffuse[j]);
        out->specular[j] = Clamp01(specular[j]);
    }
    out->diffuse[3] = Clamp01(Cd[3]);
    out->specular[3] = Clamp01(Cs[3]);
}

}  // namespace vr
