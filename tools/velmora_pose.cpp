// Poses a dancer outside the scene: loads an inverse-kinematics model file,
// runs the per-frame pass with chosen band levels and writes the skinned
// mesh as a Wavefront OBJ.
#include "ik/CIKModel.h"
#include "main.h"
#include "plugin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static int Usage(const char* self)
{
    std::fprintf(stderr,
                 "usage: %s MODEL.xml OUT.obj [--passes N] [--bass B] [--medium M] [--treble T]\n"
                 "          [--link CONTROL=bass|medium|treble[:MODE]] [--key CONTROL[=STEPS]]\n"
                 "  --passes  per-frame passes to run (default 1)\n"
                 "  --link    links a control to a band, with motion mode 0, 1 or 2\n"
                 "  --key     steps a control to its next key STEPS times (default 1); 'all' steps every control\n",
                 self);
    return 2;
}

static bool WriteObj(const CIKModel& model, const char* path)
{
    FILE* out = std::fopen(path, "w");
    if (!out)
        return false;
    std::fprintf(out, "# %d triangles, box (%g %g %g) - (%g %g %g)\n", model.m_NumTriangles, model.m_BoxMin.x,
                 model.m_BoxMin.y, model.m_BoxMin.z, model.m_BoxMax.x, model.m_BoxMax.y, model.m_BoxMax.z);
    for (int i = 0; i < model.m_NumRenderVertices; ++i)
    {
        const CMs3dRenderVertex& v = model.m_pRenderVertices[i];
        std::fprintf(out, "v %f %f %f\nvn %f %f %f\n", v.position[0], v.position[1], v.position[2], v.normal[0],
                     v.normal[1], v.normal[2]);
    }
    for (int t = 0; t < model.m_NumTriangles; ++t)
        std::fprintf(out, "f %d//%d %d//%d %d//%d\n", 3 * t + 1, 3 * t + 1, 3 * t + 2, 3 * t + 2, 3 * t + 3,
                     3 * t + 3);
    // Where each control's chain arrived, for a quick look at the numbers.
    for (const CIKControl& c : model.m_Controls)
        std::fprintf(out, "# control %s key %d target %g %g %g\n", c.m_Name.c_str(), c.m_KeyIndex, c.m_Target.x,
                     c.m_Target.y, c.m_Target.z);
    return std::fclose(out) == 0;
}

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage(argv[0]);
    const char* modelPath = argv[1];
    const char* objPath = argv[2];
    std::string folder(modelPath);
    size_t slash = folder.find_last_of("/\\");
    g_DataPath = slash == std::string::npos ? std::string("./") : folder.substr(0, slash + 1);

    CIKModel model;
    if (!model.LoadFile(modelPath) || model.m_NumTriangles == 0)
    {
        std::fprintf(stderr, "cannot load a model from %s\n", modelPath);
        return 1;
    }
    int passes = 1;
    for (int i = 3; i < argc; ++i)
    {
        std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value)
            return Usage(argv[0]);
        ++i;
        if (arg == "--passes")
            passes = std::atoi(value);
        else if (arg == "--bass")
            g_fBass = std::strtof(value, nullptr);
        else if (arg == "--medium")
            g_fMedium = std::strtof(value, nullptr);
        else if (arg == "--treble")
            g_fTreble = std::strtof(value, nullptr);
        else if (arg == "--link" || arg == "--key")
        {
            std::string spec = value;
            size_t eq = spec.find('=');
            std::string name = spec.substr(0, eq);
            std::string rest = eq == std::string::npos ? "" : spec.substr(eq + 1);
            bool found = false;
            for (CIKControl& c : model.m_Controls)
            {
                if (name != "all" && c.m_Name != name)
                    continue;
                found = true;
                if (arg == "--key")
                {
                    int steps = rest.empty() ? 1 : std::atoi(rest.c_str());
                    for (int s = 0; s < steps; ++s)
                        c.NextKey();
                    continue;
                }
                size_t colon = rest.find(':');
                std::string band = rest.substr(0, colon);
                c.m_Mode = colon == std::string::npos ? 0 : std::atoi(rest.c_str() + colon + 1);
                c.m_Type = band == "bass" ? 2 : band == "medium" ? 3 : band == "treble" ? 4 : 1;
            }
            if (!found)
            {
                std::fprintf(stderr, "no control %s\n", name.c_str());
                return 1;
            }
        }
        else
            return Usage(argv[0]);
    }
    for (int p = 0; p < passes; ++p)
    {
        model.ResetPose();
        model.UpdateControls(0.025f);
        model.SolveAll();
        model.ApplyToMesh();
    }
    if (passes <= 0)
        model.ApplyToMesh();
    if (!WriteObj(model, objPath))
    {
        std::fprintf(stderr, "cannot write %s\n", objPath);
        return 1;
    }
    return 0;
}
