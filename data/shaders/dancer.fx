// The dancers: three looks that "change color" steps through, all in the
// dancer's tint ("material").

float4x4 projectionMatrix;
float4x4 viewMatrix;
float4x4 worldMatrix;

// One light as the module hands it over: 40 bytes.
struct Light
{
    float3 position;   // world space
    float3 direction;  // where the light points, any length
    float4 colour;     // alpha is not used
};
Light lightArr[4];

float4 material = float4(1.0, 0.6, 0.3, 1.0);

static const float3 ambient = float3(0.18, 0.18, 0.2);

struct VS_OUTPUT
{
    float4 position : POSITION;
    float4 colour : COLOR0;     // lit colour
    float4 shade : TEXCOORD0;   // x: light intensity, y: rim, z: highlight
};

float3 SpotLight(Light light, float3 p, float3 n, out float intensity)
{
    float3 toLight = light.position - p;
    float dist = length(toLight);
    float3 l = toLight / max(dist, 0.001);
    float3 axis = normalize(light.direction);
    float cone = smoothstep(0.80, 0.97, dot(-l, axis));
    float fade = 1.0 / (1.0 + (dist / 2000.0) * (dist / 2000.0));
    float3 c = light.colour.rgb * cone * fade;
    intensity = saturate(dot(n, l)) * dot(c, float3(0.333, 0.333, 0.333));
    return c * saturate(dot(n, l));
}

VS_OUTPUT DancerVS(float4 position : POSITION, float3 normal : NORMAL)
{
    VS_OUTPUT o;
    float4 world = mul(position, worldMatrix);
    float4 view = mul(world, viewMatrix);
    o.position = mul(view, projectionMatrix);
    float3 n = normalize(mul(normal, (float3x3)worldMatrix));
    float3 nView = normalize(mul(n, (float3x3)viewMatrix));
    float3 light = ambient;
    float intensity = 0.25;
    for (int i = 0; i < 3; i++) {
        float k;
        light += 2.5 * SpotLight(lightArr[i], world.xyz, n, k);
        intensity += 2.5 * k;
    }
    // Light from the viewer's side makes a highlight; the rim faces away.
    float facing = saturate(-nView.z);
    o.colour = float4(material.rgb * light, material.a);
    o.shade = float4(saturate(intensity), 1.0 - facing, pow(facing, 8.0), 1.0);
    return o;
}

// Smooth: the lit colour with a soft highlight.
float4 SmoothPS(float4 colour : COLOR0, float4 shade : TEXCOORD0) : COLOR0
{
    return float4(colour.rgb + 0.25 * shade.z, colour.a);
}

// Toon: the light in three flat bands, with a dark outline at the rim.
float4 ToonPS(float4 colour : COLOR0, float4 shade : TEXCOORD0) : COLOR0
{
    float band = floor(shade.x * 3.0 + 0.5) / 3.0;
    float3 c = material.rgb * (0.35 + 0.65 * band);
    if (shade.y > 0.8)
        c *= 0.15;
    return float4(c, material.a);
}

// Glow: dark body, a bright rim in the tint.
float4 GlowPS(float4 colour : COLOR0, float4 shade : TEXCOORD0) : COLOR0
{
    float rim = shade.y * shade.y;
    float3 c = material.rgb * (0.12 + 1.6 * rim) + float3(0.3, 0.3, 0.3) * rim * rim;
    return float4(c, material.a);
}

technique Smooth
{
    pass P0
    {
        ZEnable = true;
        ZWriteEnable = true;
        VertexShader = compile vs_2_0 DancerVS();
        PixelShader = compile ps_2_0 SmoothPS();
    }
}

technique Toon
{
    pass P0
    {
        ZEnable = true;
        ZWriteEnable = true;
        VertexShader = compile vs_2_0 DancerVS();
        PixelShader = compile ps_2_0 ToonPS();
    }
}

technique Glow
{
    pass P0
    {
        ZEnable = true;
        ZWriteEnable = true;
        VertexShader = compile vs_2_0 DancerVS();
        PixelShader = compile ps_2_0 GlowPS();
    }
}
