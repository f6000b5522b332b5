// Static objects, spot lamps and the dance floor, lit by the scene's three
// spot lights and a little ambient light, in the material colour times the
// mesh's paint.

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

// The floor hands lit tiles as alpha, red, green, blue with alpha 1 and dim
// tiles as 0.2, 0.2, 0.2, 1 (white objects hand 1, 1, 1, 1): the colour is the
// last three values capped by the first, which reads both alike.
float4 material = float4(1.0, 1.0, 1.0, 1.0);

static const float3 ambient = float3(0.12, 0.12, 0.14);

struct VS_OUTPUT
{
    float4 position : POSITION;
    float4 colour : COLOR0;
};

// A spot: soft cone around its direction, fading with distance.
float3 SpotLight(Light light, float3 p, float3 n)
{
    float3 toLight = light.position - p;
    float dist = length(toLight);
    float3 l = toLight / max(dist, 0.001);
    float3 axis = normalize(light.direction);
    float cone = smoothstep(0.80, 0.97, dot(-l, axis));
    float fade = 1.0 / (1.0 + (dist / 2000.0) * (dist / 2000.0));
    return light.colour.rgb * saturate(dot(n, l)) * cone * fade;
}

// A mesh may paint its parts with a colour per vertex (the booth's dark
// records and mixer); without one the device hands white.
VS_OUTPUT SpotVS(float4 position : POSITION, float3 normal : NORMAL, float4 paint : COLOR0)
{
    VS_OUTPUT o;
    float4 world = mul(position, worldMatrix);
    o.position = mul(mul(world, viewMatrix), projectionMatrix);
    float3 n = normalize(mul(normal, (float3x3)worldMatrix));
    float3 light = ambient;
    for (int i = 0; i < 3; i++)
        light += 2.5 * SpotLight(lightArr[i], world.xyz, n);
    o.colour = float4(min(material.yzw, material.x) * paint.rgb * light, 1.0);
    return o;
}

float4 SpotPS(float4 colour : COLOR0) : COLOR0
{
    return colour;
}

technique Spot
{
    pass P0
    {
        ZEnable = true;
        ZWriteEnable = true;
        CullMode = CCW;
        VertexShader = compile vs_2_0 SpotVS();
        PixelShader = compile ps_2_0 SpotPS();
    }
}
