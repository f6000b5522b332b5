// A MilkShape 3D model: loaded as a dancer's model (joints to bones), given a
// solver from its root to its last joints and posed for a few frames.
#include "fuzz_support.h"

#include "ik/CIKModel.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = fuzzing::Scratch() + "/model.ms3d";
    fuzzing::WriteInput(path, data, size);

    CIKModel model;
    if (!model.LoadModel(path.c_str()))
        return 0;
    if (model.m_pWorkRoot)
    {
        const std::string root = model.m_pWorkRoot->m_Name;
        for (int i = std::max(0, model.m_NumJoints - 2); i < model.m_NumJoints; ++i)
        {
            const char* name = model.m_pJoints[i].name;
            model.AddSolver("fuzz", root, std::string(name, strnlen(name, sizeof(model.m_pJoints[i].name))));
        }
        for (CIKSolver* solver : model.m_Solvers)
            solver->m_Target = solver->m_Home + CVector3(5.0f, 10.0f, -5.0f);
    }
    for (int frame = 0; frame < 2; ++frame)
    {
        model.ResetPose();
        model.SolveAll();
        model.ApplyToMesh();
    }
    return 0;
}
