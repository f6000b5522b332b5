// An effect loaded from a .fx file. Placeholder until the effect resource lands.
#ifndef VELMORA_RESOURCE_SHADER_H
#define VELMORA_RESOURCE_SHADER_H

class CShader
{
};

#endif
