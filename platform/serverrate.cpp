// The sound server's own sample rate, asked through the pulse protocol (PulseAudio, and
// PipeWire through pipewire-pulse). The client library is loaded when asked for, so the
// program runs, and builds, where it is missing; nothing is asked of a server that is
// not running (no auto-spawn).

#include "platform/serverrate.h"

#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace sonvera {

namespace {

// The client library's stable C interface, as far as used here.
struct PaSampleSpec {
    int format;
    std::uint32_t rate;
    std::uint8_t channels;
};
struct PaServerInfo {
    const char* userName;
    const char* hostName;
    const char* serverVersion;
    const char* serverName;
    PaSampleSpec sampleSpec;
};
using ServerInfoCallback = void (*)(void* context, const PaServerInfo* info, void* user);
constexpr int kContextReady = 4;
constexpr int kContextFailed = 5;
constexpr int kContextTerminated = 6;
constexpr int kNoAutoSpawn = 1;
constexpr int kOperationRunning = 0;
// How long a server may take to answer before the rate counts as unknown.
constexpr auto kAnswerTime = std::chrono::seconds(2);

struct Library {
    void* handle = nullptr;
    void* (*mainloopNew)() = nullptr;
    void* (*mainloopGetApi)(void*) = nullptr;
    int (*mainloopIterate)(void*, int, int*) = nullptr;
    void (*mainloopFree)(void*) = nullptr;
    void* (*contextNew)(void*, const char*) = nullptr;
    int (*contextConnect)(void*, const char*, int, const void*) = nullptr;
    int (*contextGetState)(void*) = nullptr;
    void (*contextDisconnect)(void*) = nullptr;
    void (*contextUnref)(void*) = nullptr;
    void* (*getServerInfo)(void*, ServerInfoCallback, void*) = nullptr;
    int (*operationGetState)(void*) = nullptr;
    void (*operationUnref)(void*) = nullptr;

    template <typename Fn>
    bool Load(Fn& fn, const char* name)
    {
        fn = reinterpret_cast<Fn>(dlsym(handle, name));
        return fn != nullptr;
    }
    bool Open()
    {
        handle = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
        return handle != nullptr && Load(mainloopNew, "pa_mainloop_new") &&
               Load(mainloopGetApi, "pa_mainloop_get_api") && Load(mainloopIterate, "pa_mainloop_iterate") &&
               Load(mainloopFree, "pa_mainloop_free") && Load(contextNew, "pa_context_new") &&
               Load(contextConnect, "pa_context_connect") && Load(contextGetState, "pa_context_get_state") &&
               Load(contextDisconnect, "pa_context_disconnect") && Load(contextUnref, "pa_context_unref") &&
               Load(getServerInfo, "pa_context_get_server_info") &&
               Load(operationGetState, "pa_operation_get_state") && Load(operationUnref, "pa_operation_unref");
    }
    // Stays loaded: the library keeps state of its own for the whole process.
};

}  // namespace

std::uint32_t SoundServerRate()
{
    Library pa;
    if (!pa.Open()) {
        return 0;
    }
    void* loop = pa.mainloopNew();
    if (loop == nullptr) {
        return 0;
    }
    std::uint32_t rate = 0;
    void* context = pa.contextNew(pa.mainloopGetApi(loop), "Sonvera");
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTime;
    // Turns the loop without blocking until `done` or the deadline.
    auto turn = [&](auto done) {
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            if (pa.mainloopIterate(loop, 0, nullptr) < 0) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return done();
    };
    if (context != nullptr && pa.contextConnect(context, nullptr, kNoAutoSpawn, nullptr) >= 0) {
        int state = 0;
        const bool ready = turn([&] {
            state = pa.contextGetState(context);
            return state == kContextReady || state == kContextFailed || state == kContextTerminated;
        });
        if (ready && state == kContextReady) {
            ServerInfoCallback take = [](void*, const PaServerInfo* info, void* user) {
                if (info != nullptr) {
                    *static_cast<std::uint32_t*>(user) = info->sampleSpec.rate;
                }
            };
            if (void* op = pa.getServerInfo(context, take, &rate)) {
                turn([&] { return pa.operationGetState(op) != kOperationRunning; });
                pa.operationUnref(op);
            }
        }
        pa.contextDisconnect(context);
    }
    if (context != nullptr) {
        pa.contextUnref(context);
    }
    pa.mainloopFree(loop);
    // Anything outside the rates a device can run counts as unknown.
    return rate >= 1000 && rate <= 384000 ? rate : 0;
}

}  // namespace sonvera
