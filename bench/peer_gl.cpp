// Our device beside Mesa's llvmpipe (the software OpenGL of Linux desktops) on
// the two reference workloads, each frame cleared, drawn and read back: our
// Present copies the picture to the window, llvmpipe's glReadPixels copies it
// to memory. OpenGL draws with the same fixed-function lighting per vertex,
// depth test and matrices (loaded as they are: OpenGL's column-major reading
// of a row-vector matrix is the same transform). llvmpipe runs on the calling
// thread (LP_NUM_THREADS=0) unless the environment says otherwise. Prints the
// ratio of the two after the runs.
#include <benchmark/benchmark.h>

#include "bench_device.h"
#include "bench_workloads.h"

#include <d3dx9.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

namespace {

// An OpenGL context of llvmpipe without a window, drawing into an 800 x 600
// frame buffer object; made once per process.
class PeerContext
{
public:
    static PeerContext& Get()
    {
        static PeerContext context;
        return context;
    }
    bool Ready() const { return m_Ready; }
    const std::string& Error() const { return m_Error; }
    const std::string& Renderer() const { return m_Renderer; }

private:
    PeerContext()
    {
        if (const char* why = Open())
            m_Error = std::string("llvmpipe: ") + why;
        else
            m_Ready = true;
    }

    // Null when the context is made, else why not.
    const char* Open()
    {
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (!getPlatformDisplay)
            return ("no eglGetPlatformDisplayEXT");
        m_Display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (m_Display == EGL_NO_DISPLAY || !eglInitialize(m_Display, nullptr, nullptr))
            return ("no surfaceless EGL display");
        if (!eglBindAPI(EGL_OPENGL_API))
            return ("EGL offers no desktop OpenGL");
        const EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
        EGLConfig config;
        EGLint count = 0;
        if (!eglChooseConfig(m_Display, attributes, &config, 1, &count) || count < 1)
            return ("no EGL configuration for OpenGL");
        m_Context = eglCreateContext(m_Display, config, EGL_NO_CONTEXT, nullptr);
        if (m_Context == EGL_NO_CONTEXT || !eglMakeCurrent(m_Display, EGL_NO_SURFACE, EGL_NO_SURFACE, m_Context))
            return ("cannot make an OpenGL context current without a surface");
        auto genFramebuffers = reinterpret_cast<PFNGLGENFRAMEBUFFERSPROC>(eglGetProcAddress("glGenFramebuffers"));
        auto bindFramebuffer = reinterpret_cast<PFNGLBINDFRAMEBUFFERPROC>(eglGetProcAddress("glBindFramebuffer"));
        auto genRenderbuffers = reinterpret_cast<PFNGLGENRENDERBUFFERSPROC>(eglGetProcAddress("glGenRenderbuffers"));
        auto bindRenderbuffer = reinterpret_cast<PFNGLBINDRENDERBUFFERPROC>(eglGetProcAddress("glBindRenderbuffer"));
        auto renderbufferStorage =
            reinterpret_cast<PFNGLRENDERBUFFERSTORAGEPROC>(eglGetProcAddress("glRenderbufferStorage"));
        auto framebufferRenderbuffer =
            reinterpret_cast<PFNGLFRAMEBUFFERRENDERBUFFERPROC>(eglGetProcAddress("glFramebufferRenderbuffer"));
        auto checkFramebuffer =
            reinterpret_cast<PFNGLCHECKFRAMEBUFFERSTATUSPROC>(eglGetProcAddress("glCheckFramebufferStatus"));
        if (!genFramebuffers || !bindFramebuffer || !genRenderbuffers || !bindRenderbuffer || !renderbufferStorage ||
            !framebufferRenderbuffer || !checkFramebuffer)
            return ("no frame buffer objects");
        GLuint framebuffer, buffers[2];
        genFramebuffers(1, &framebuffer);
        bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        genRenderbuffers(2, buffers);
        bindRenderbuffer(GL_RENDERBUFFER, buffers[0]);
        renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
        framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, buffers[0]);
        bindRenderbuffer(GL_RENDERBUFFER, buffers[1]);
        renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, kWidth, kHeight);
        framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, buffers[1]);
        if (checkFramebuffer(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
            return ("incomplete frame buffer object");
        const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        m_Renderer = renderer ? renderer : "?";
        SetUpLighting();
        return nullptr;
    }

    // The device's state of the workloads: per-vertex lighting with a local
    // viewer, normals renormalised, depth test less-or-equal, no culling.
    static void SetUpLighting()
    {
        glViewport(0, 0, kWidth, kHeight);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glDisable(GL_CULL_FACE);
        glShadeModel(GL_SMOOTH);
        glEnable(GL_LIGHTING);
        glEnable(GL_NORMALIZE);
        glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_TRUE);
        const GLfloat white[4] = {1.f, 1.f, 1.f, 1.f};
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, white);
        const D3DLIGHT9 light = WorkloadLight();
        glEnable(GL_LIGHT0);
        glLightfv(GL_LIGHT0, GL_AMBIENT, &light.Ambient.r);
        glLightfv(GL_LIGHT0, GL_DIFFUSE, &light.Diffuse.r);
        glLightfv(GL_LIGHT0, GL_SPECULAR, &light.Specular.r);
        glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, light.Attenuation0);
        const D3DMATERIAL9 mat = WorkloadMaterial();
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, &mat.Ambient.r);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, &mat.Diffuse.r);
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, &mat.Specular.r);
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, mat.Power);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        glClearColor(0.f, 0.f, 0.f, 0.f);
        glClearDepth(1.0);
    }

    EGLDisplay m_Display = EGL_NO_DISPLAY;
    EGLContext m_Context = EGL_NO_CONTEXT;
    bool m_Ready = false;
    std::string m_Error;
    std::string m_Renderer;
};

// llvmpipe as a workload target.
struct GLWorkloadTarget {
    D3DMATRIX view = Identity();
    std::vector<unsigned char> pixels = std::vector<unsigned char>(size_t(kWidth) * kHeight * 4);

    void SetCamera(const D3DMATRIX& v, const D3DMATRIX& proj)
    {
        view = v;
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(&proj._11);
        glMatrixMode(GL_MODELVIEW);
        // The light's place is given in the world: it goes through the view only.
        glLoadMatrixf(&view._11);
        const D3DLIGHT9 light = WorkloadLight();
        const GLfloat position[4] = {light.Position.x, light.Position.y, light.Position.z, 1.f};
        glLightfv(GL_LIGHT0, GL_POSITION, position);
    }
    void Begin() { glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT); }
    void SetWorld(const D3DMATRIX& world)
    {
        D3DXMATRIX worldView;
        D3DXMatrixMultiply(&worldView, reinterpret_cast<const D3DXMATRIX*>(&world),
                           reinterpret_cast<const D3DXMATRIX*>(&view));
        glLoadMatrixf(&worldView._11);
    }
    void Draw(const LitVertex* v, size_t count)
    {
        glVertexPointer(3, GL_FLOAT, sizeof(LitVertex), &v->x);
        glNormalPointer(GL_FLOAT, sizeof(LitVertex), &v->nx);
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(count));
    }
    void End() {}
    void Present() { glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data()); }
};

template <class Workload, class Target>
void Run(benchmark::State& state, Target& target, double pixelsPerFrame)
{
    Workload workload;
    workload.SetUp(target);
    for (auto _ : state) {
        workload.Draw(target);
        target.Present();
    }
    if (pixelsPerFrame > 0)
        state.counters["Mpixels/s"] =
            benchmark::Counter(pixelsPerFrame * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

template <class Workload>
void Ours(benchmark::State& state, double pixelsPerFrame)
{
    Rig rig;
    D3DWorkloadTarget target{rig.dev};
    Run<Workload>(state, target, pixelsPerFrame);
}

template <class Workload>
void Llvmpipe(benchmark::State& state, double pixelsPerFrame)
{
    PeerContext& context = PeerContext::Get();
    if (!context.Ready()) {
        state.SkipWithError(context.Error().c_str());
        return;
    }
    GLWorkloadTarget target;
    Run<Workload>(state, target, pixelsPerFrame);
    // A lit picture, so that the figures are of real drawing.
    const unsigned char* centre = &target.pixels[(size_t(kHeight / 2) * kWidth + kWidth / 2) * 4];
    if (glGetError() != GL_NO_ERROR)
        state.SkipWithError("OpenGL reported an error");
    else if (centre[0] == 0 && centre[1] == 0 && centre[2] == 0)
        state.SkipWithError("llvmpipe drew nothing at the centre");
}

const double kFillPixels = 10.0 * kWidth * kHeight;

void Register()
{
    benchmark::RegisterBenchmark("FillRate/ours", Ours<FillWorkload>, kFillPixels)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("FillRate/llvmpipe", Llvmpipe<FillWorkload>, kFillPixels)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("SceneFrame/ours", Ours<SceneWorkload>, 0.0)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("SceneFrame/llvmpipe", Llvmpipe<SceneWorkload>, 0.0)->Unit(benchmark::kMillisecond);
}

// The console's report, then each workload's time on our device over llvmpipe's
// (medians when the runs are repeated).
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median"))
                continue;
            const std::string& name = run.run_name.function_name;
            const size_t slash = name.find('/');
            if (slash != std::string::npos)
                m_Times[name.substr(0, slash)][name.substr(slash + 1)] = run.GetAdjustedRealTime();
            // Milliseconds a frame over the pixels drawn a frame.
            if (name.compare(0, slash, "FillRate") == 0)
                m_Times["FillRate ns/pixel"][name.substr(slash + 1)] = run.GetAdjustedRealTime() * 1e6 / kFillPixels;
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const auto& workload : m_Times) {
            const auto ours = workload.second.find("ours"), peer = workload.second.find("llvmpipe");
            if (ours != workload.second.end() && peer != workload.second.end() && peer->second > 0)
                printf("%s: ours %.3f, llvmpipe %.3f, ours / llvmpipe = %.2f\n", workload.first.c_str(),
                       ours->second, peer->second, ours->second / peer->second);
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> m_Times;
};

} // namespace

int main(int argc, char** argv)
{
    // One thread and the software driver, unless the caller chose otherwise.
    setenv("LP_NUM_THREADS", "0", 0);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    setenv("EGL_PLATFORM", "surfaceless", 0);
    Register();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    PeerContext& context = PeerContext::Get();
    benchmark::AddCustomContext("peer", context.Ready() ? context.Renderer() : context.Error());
    benchmark::AddCustomContext("LP_NUM_THREADS", getenv("LP_NUM_THREADS"));
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
