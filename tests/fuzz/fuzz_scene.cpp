// A scene file loaded by the running module (started once through the
// player's Host on a small window with the build's data), then two frames
// of the built-in music with a click in the middle of the picture.
#include "fuzz_host.h"

#include "Entity/EntityManager.h"
#include "d3d_stuff.h"
#include "music_analysis.h"

namespace {

struct SceneModule
{
    fuzzing::HostedModule module{"scene"};
    std::unique_ptr<SpectrumSource> music;

    SceneModule()
    {
        fuzzing::LinkBuiltData(module.dataFolder, {"scene.xml"});
        const char ini[] = "[velmora]\nSCREEN_WIDTH=64\nSCREEN_HEIGHT=48\n";
        fuzzing::WriteInput(module.IniPath(), reinterpret_cast<const uint8_t*>(ini), sizeof(ini) - 1);
        fuzzing::WriteInput(module.dataFolder + "/scene.xml", nullptr, 0);
        std::string error;
        music = OpenSpectrumSource("", true, error);
        if (!music || module.Init() != 0 || !g_pEntityManager)
            abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static SceneModule* scene = new SceneModule();
    const std::string path = g_DataPath + "scene.xml";
    fuzzing::WriteInput(scene->module.dataFolder + "/scene.xml", data, size);

    // Each input starts from the camera and the empty scene that Init leaves.
    g_pEntityManager->Clear();
    g_vEyePt = D3DXVECTOR3(0.0f, 0.0f, -200.0f);
    g_vLookatPt = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    g_pEntityManager->LoadScene(path.c_str());

    Host& host = scene->module.host;
    host.Frame(scene->music.get(), 0.0);
    SendMessageA(host.RenderWindow(), WM_MOUSEMOVE, 0, MAKELPARAM(32, 24));
    SendMessageA(host.RenderWindow(), WM_LBUTTONUP, 0, MAKELPARAM(32, 24));
    host.Frame(scene->music.get(), 25.0);
    // What the input made goes with it, so that the fuzzer's leak check stays quiet on good inputs.
    g_pEntityManager->Clear();
    return 0;
}
