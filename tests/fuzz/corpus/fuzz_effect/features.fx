// Loops, branches, structures, arrays, casts, swizzles and render states.
float4x4 worldViewProjection;
float3 colours[3];
float scale = 2.0;
static const int count = 3;
struct VOut { float4 position : POSITION; float4 colour : COLOR0; float2 uv : TEXCOORD0; };
float Shade(float3 n, inout float k) { k += 1.0; return saturate(dot(n, float3(0, 0, -1))) * k; }
VOut VS(float4 p : POSITION, float3 n : NORMAL)
{
    VOut o;
    o.position = mul(p, worldViewProjection);
    float3 c = float3(0.1, 0.1, 0.1);
    float k = 0;
    for (int i = 0; i < count; ++i) { if (i == 1) continue; c += colours[i] * Shade(n, k); }
    int j = 0;
    while (j < 2) { c.xy = c.yx * 0.5; j++; }
    do { c.z = max(c.z, 0.2); } while (false);
    o.colour = float4(c, 1) * (scale > 1 ? scale : 1.0 / scale);
    o.uv = (float2)p.xy;
    return o;
}
float4 PS(float4 c : COLOR0, float2 uv : TEXCOORD0) : COLOR0
{
    if (c.a < 0.01) discard;
    return lerp(c, float4(uv, 0, 1), 0.25) + pow(abs(c), 2.0) * sin(uv.x) - cos(uv.y);
}
technique Main { pass P0 { AlphaBlendEnable = true; SrcBlend = SrcAlpha; DestBlend = InvSrcAlpha; CullMode = None;
    VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); }
    pass P1 { ZWriteEnable = false; VertexShader = compile vs_2_0 VS(); PixelShader = NULL; } }
technique Second { pass { FillMode = Wireframe; VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
