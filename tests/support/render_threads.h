// Sets VELMORA_RENDER_THREADS for the devices made in a scope (the renderer
// reads it when a device is made) and puts the old value back. Meanwhile all
// the renderer's work goes to its threads, however small, so that the
// threads' paths are the ones tested.
#ifndef VELMORA_TEST_RENDER_THREADS_H
#define VELMORA_TEST_RENDER_THREADS_H

#include <velmora_platform.h>

#include <stdlib.h>

#include <string>

class ScopedRenderThreads {
public:
    explicit ScopedRenderThreads(const char* threads)
    {
        const char* before = getenv("VELMORA_RENDER_THREADS");
        had_ = before != nullptr;
        saved_ = before ? before : "";
        Set(threads);
        VelmoraShareAllRenderWork(TRUE);
    }
    ~ScopedRenderThreads()
    {
        VelmoraShareAllRenderWork(FALSE);
        if (had_)
            setenv("VELMORA_RENDER_THREADS", saved_.c_str(), 1);
        else
            unsetenv("VELMORA_RENDER_THREADS");
    }
    ScopedRenderThreads(const ScopedRenderThreads&) = delete;
    ScopedRenderThreads& operator=(const ScopedRenderThreads&) = delete;

    void Set(const char* threads) { setenv("VELMORA_RENDER_THREADS", threads, 1); }

private:
    bool had_ = false;
    std::string saved_;
};

#endif
