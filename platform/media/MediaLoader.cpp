// Loading the toolbox module and the counted initialisation.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "platform/media/MediaToolbox.h"

namespace tunara::media {

namespace {

struct Loaded {
    std::mutex mutex;
    void* handle = nullptr;
    int count = 0;
    // Read by every call; written only under the mutex.
    std::atomic<TmDispatchFn> dispatch{nullptr};
    std::atomic<TmCallComponentFn> callComponent{nullptr};
    std::atomic<TmCallWithStorageFn> callWithStorage{nullptr};
    std::atomic<const TmPcmCalls*> pcm{nullptr};  // null: the module cannot decode to PCM
};

Loaded& State() {
    static Loaded state;
    return state;
}

std::string ProgramFolder() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return ".";
    std::string p(path, static_cast<size_t>(n));
    auto slash = p.rfind('/');
    return slash == std::string::npos ? "." : p.substr(0, slash);
}

// Takes the three entry points; unloads the module when one is missing or
// when it was built for another interface version.
bool Bind(Loaded& s, void* handle) {
    auto version = reinterpret_cast<TmAbiVersionFn>(dlsym(handle, TM_ENTRY_ABI_VERSION));
    if (!version || version() != TM_ABI_VERSION) {
        dlclose(handle);
        return false;
    }
    auto d = reinterpret_cast<TmDispatchFn>(dlsym(handle, TM_ENTRY_DISPATCH));
    auto c = reinterpret_cast<TmCallComponentFn>(dlsym(handle, TM_ENTRY_CALL_COMPONENT));
    auto w = reinterpret_cast<TmCallWithStorageFn>(dlsym(handle, TM_ENTRY_CALL_WITH_STORAGE));
    if (!d || !c || !w) {
        dlclose(handle);
        return false;
    }
    s.handle = handle;
    s.dispatch = d;
    s.callComponent = c;
    s.callWithStorage = w;
    auto pcm = reinterpret_cast<TmPcmCallsFn>(dlsym(handle, TM_ENTRY_PCM_CALLS));
    s.pcm = pcm ? pcm() : nullptr;
    return true;
}

int32_t LoadFirst(Loaded& s, const std::vector<std::string>& candidates) {
    // A module the process has already loaded wins over any file.
    for (const auto& c : candidates) {
        if (void* h = dlopen(c.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD)) {
            return Bind(s, h) ? kTmOk : kTmNotLoaded;
        }
    }
    for (const auto& c : candidates) {
        if (void* h = dlopen(c.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            return Bind(s, h) ? kTmOk : kTmNotLoaded;
        }
    }
    return kTmNotLoaded;
}

}  // namespace

int32_t InitializeClientFrom(const std::vector<std::string>& candidates) {
    Loaded& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.count > 0) {
        ++s.count;
        return kTmOk;
    }
    int32_t status = LoadFirst(s, candidates);
    if (status == kTmOk) s.count = 1;
    return status;
}

int32_t InitializeClient() {
    if (const char* env = std::getenv("TUNARA_MEDIA_MODULE"); env && *env) {
        return InitializeClientFrom({env});
    }
    // A bare file name makes the dynamic linker search the system library path.
    return InitializeClientFrom({ProgramFolder() + "/" TM_MODULE_FILE, TM_MODULE_FILE});
}

void TerminateClient() {
    Loaded& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.count == 0) return;
    if (--s.count > 0) return;
    s.dispatch = nullptr;
    s.callComponent = nullptr;
    s.callWithStorage = nullptr;
    s.pcm = nullptr;
    dlclose(s.handle);
    s.handle = nullptr;
}

bool IsLoaded() {
    return State().dispatch.load() != nullptr;
}

int LoadCount() {
    Loaded& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.count;
}

bool StartMediaServices() {
    int32_t status = InitializeClient();
    if ((status & 0xFFFF) == 0) {
        status = EnterToolbox();
        if ((status & 0xFFFF) != 0) TerminateClient();
    }
    return (status & 0xFFFF) == 0;
}

void StopMediaServices() {
    ExitToolbox();
    TerminateClient();
}

int32_t Dispatch(uint32_t selector, TmCall& call) {
    TmDispatchFn fn = State().dispatch.load();
    return fn ? fn(selector, &call) : kTmNotLoaded;
}

int32_t CallComponent(void* component, TmParamBlock& params) {
    TmCallComponentFn fn = State().callComponent.load();
    return fn ? fn(component, &params) : kTmNotLoaded;
}

int32_t CallComponentWithStorage(void* storage, TmParamBlock& params, TmComponentFunction f) {
    TmCallWithStorageFn fn = State().callWithStorage.load();
    return fn ? fn(storage, &params, f) : kTmNotLoaded;
}

int32_t OpenPcm(const std::string& location, TmPcmFormat* format, void** decoder) {
    if (format) *format = TmPcmFormat{};
    if (decoder) *decoder = nullptr;
    if (!format || !decoder) return kTmBadParam;
    const TmPcmCalls* pcm = State().pcm.load();
    return pcm ? pcm->open(location.c_str(), format, decoder) : kTmNotLoaded;
}

int32_t ReadPcm(void* decoder, void* buffer, int32_t frames) {
    const TmPcmCalls* pcm = State().pcm.load();
    return pcm && decoder ? pcm->read(decoder, buffer, frames) : 0;
}

int64_t SeekPcm(void* decoder, int64_t frame) {
    const TmPcmCalls* pcm = State().pcm.load();
    return pcm && decoder ? pcm->seek(decoder, frame) : 0;
}

void ClosePcm(void* decoder) {
    const TmPcmCalls* pcm = State().pcm.load();
    if (pcm && decoder) pcm->close(decoder);
}

}  // namespace tunara::media
