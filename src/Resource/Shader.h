// An effect loaded from a .fx file, and the light record the effects receive.
#ifndef VELMORA_RESOURCE_SHADER_H
#define VELMORA_RESOURCE_SHADER_H

#include <d3dx9.h>

// One light as the effects receive it: position, direction, colour (r, g, b, a).
struct CShaderLight
{
    float position[3] = {0.0f, 0.0f, 0.0f};
    float direction[3] = {0.0f, 0.0f, 0.0f};
    float colour[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

// Placeholder until the effect resource lands: the frame's uploads go nowhere yet.
class CShader
{
public:
    void SetLight(int index, const CShaderLight& light) {}
    void SetViewMatrix(const D3DXMATRIX& matrix) {}
    void SetProjectionMatrix(const D3DXMATRIX& matrix) {}
};

#endif
