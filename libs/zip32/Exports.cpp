// The entry points: the kept callbacks, options and chunking, argument checks,
// and the wall that keeps every C++ exception inside the library.
#include "Chunking.h"
#include "Job.h"
#include "JobFailure.h"
#include "JobSettings.h"
#include "KeptOptions.h"
#include "Reporter.h"
#include "zip32.h"

#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

// What ZpInit and ZpSetOptions leave for the calls that follow.
struct LibraryState {
    // Recursive: a callback may call in again (its own job copies what it uses).
    std::recursive_mutex turn;
    ZpCallbacks callbacks{};
    zip32::KeptOptions options;
    zip32::Chunking chunking;
};

LibraryState& state() {
    static LibraryState instance;
    return instance;
}

int32_t refuse(const ZpCallbacks& callbacks, int32_t code, const std::string& problem) {
    zip32::Reporter(callbacks.printMessage, false).error({}, problem);
    return code;
}

int32_t runJob(int32_t nameCount, const char* archivePath, const char* const* names,
               const ZpCallbacks& callbacks, const ZpOptions& options,
               const zip32::Chunking& chunking) {
    if (archivePath == nullptr || *archivePath == '\0') {
        return refuse(callbacks, ZP_NULL_POINTER, "no archive given");
    }
    if (nameCount < 0) {
        return refuse(callbacks, ZP_BAD_ARGUMENT, "the name count is negative");
    }
    if (nameCount > 0 && names == nullptr) {
        return refuse(callbacks, ZP_NULL_POINTER, "no name list given");
    }
    std::vector<std::string> nameList;
    for (int32_t i = 0; i < nameCount; ++i) {
        if (names[i] != nullptr && *names[i] != '\0') {
            nameList.emplace_back(names[i]);
        }
    }
    try {
        const zip32::JobSettings settings = zip32::readSettings(options);
        if (settings.comment && callbacks.askComment == nullptr) {
            return refuse(callbacks, ZP_NULL_POINTER,
                          "an archive comment asked for without a comment callback");
        }
        return zip32::Job(settings, callbacks, chunking, archivePath, nameList).run();
    } catch (const zip32::JobFailure& failure) {
        return refuse(callbacks, failure.code(), failure.what());
    }
}

} // namespace

extern "C" ZIP32_API int32_t ZpInit(const ZpCallbacks* callbacks) {
    if (callbacks == nullptr) {
        return ZP_NULL_POINTER;
    }
    const std::lock_guard lock(state().turn);
    state().callbacks = *callbacks;
    return ZP_OK;
}

extern "C" ZIP32_API int32_t ZpSetOptions(const ZpOptions* options) {
    if (options == nullptr) {
        return ZP_NULL_POINTER;
    }
    try {
        const std::lock_guard lock(state().turn);
        state().options.keep(*options);
        return ZP_OK;
    } catch (const std::bad_alloc&) {
        return ZP_OUT_OF_MEMORY;
    } catch (...) {
        return ZP_INTERNAL_ERROR;
    }
}

extern "C" ZIP32_API int32_t ZpGetOptions(ZpOptions* options) {
    if (options == nullptr) {
        return ZP_NULL_POINTER;
    }
    const std::lock_guard lock(state().turn);
    *options = state().options.record();
    return ZP_OK;
}

extern "C" ZIP32_API int32_t ZpArchive(int32_t nameCount, const char* archivePath,
                                       const char* const* names) {
    try {
        const std::lock_guard lock(state().turn);
        const ZpCallbacks callbacks = state().callbacks;
        const zip32::KeptOptions options = state().options;
        const zip32::Chunking chunking = state().chunking;
        return runJob(nameCount, archivePath, names, callbacks, options.record(), chunking);
    } catch (const std::bad_alloc&) {
        return ZP_OUT_OF_MEMORY;
    } catch (...) {
        return ZP_INTERNAL_ERROR;
    }
}

extern "C" ZIP32_API int32_t ZpSetChunking(const ZpChunking* chunking) {
    if (chunking == nullptr) {
        return ZP_NULL_POINTER;
    }
    const auto read = zip32::readChunking(*chunking);
    if (!read) {
        return ZP_BAD_ARGUMENT;
    }
    const std::lock_guard lock(state().turn);
    state().chunking = *read;
    return ZP_OK;
}
