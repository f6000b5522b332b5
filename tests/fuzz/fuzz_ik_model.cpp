// An inverse-kinematics model file (with the MilkShape models it names from
// the build's data), loaded and posed for a few frames as a dancer does.
#include "fuzz_support.h"

#include "ik/CIKModel.h"
#include "plugin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string folder = [] {
        const std::string dataFolder = fuzzing::MakeFolder("data");
        fuzzing::LinkBuiltData(dataFolder, {});
        return dataFolder;
    }();
    static const std::string path = fuzzing::Scratch() + "/model.xml";
    g_DataPath = folder + "/";
    fuzzing::WriteInput(path, data, size);

    CIKModel model;
    if (!model.LoadFile(path.c_str()))
        return 0;
    for (CIKControl& control : model.m_Controls)
        control.NextKey();
    for (int frame = 0; frame < 3; ++frame)
    {
        model.ResetPose();
        model.UpdateControls(0.025f);
        model.SolveAll();
        model.ApplyToMesh();
    }
    return 0;
}
