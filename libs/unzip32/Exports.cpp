// The two entry points: argument checks, and the wall that keeps every C++
// exception inside the library.
#include "EntrySelection.h"
#include "Job.h"
#include "JobSettings.h"
#include "Reporter.h"
#include "ResultText.h"
#include "unzip32.h"

#include <new>
#include <string>
#include <vector>

namespace {

// The names of a list, or nothing when a pointer the list needs is null.
bool readNames(int32_t count, const char* const* names, std::vector<std::string>& result) {
    if (count > 0 && names == nullptr) {
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (names[i] == nullptr) {
            return false;
        }
        result.emplace_back(names[i]);
    }
    return true;
}

int32_t refuse(const UzpCallbacks* callbacks, int32_t code, const std::string& problem) {
    if (callbacks != nullptr) {
        unzip32::Reporter(callbacks->printMessage, 0).error({}, problem);
    }
    return code;
}

int32_t runJob(int32_t includeCount, const char* const* includeNames, int32_t excludeCount,
               const char* const* excludeNames, const UzpOptions* options,
               UzpCallbacks* callbacks) {
    if (options == nullptr || callbacks == nullptr) {
        return refuse(callbacks, UZP_NULL_POINTER, "no option record or no callback record given");
    }
    if (options->archivePath == nullptr) {
        return refuse(callbacks, UZP_NULL_POINTER, "no archive given");
    }
    if (includeCount < 0 || excludeCount < 0) {
        return refuse(callbacks, UZP_BAD_ARGUMENT, unzip32::resultText(UZP_BAD_ARGUMENT));
    }
    std::vector<std::string> includes;
    std::vector<std::string> excludes;
    if (!readNames(includeCount, includeNames, includes) ||
        !readNames(excludeCount, excludeNames, excludes)) {
        return refuse(callbacks, UZP_NULL_POINTER, "a name list holds a null pointer");
    }
    const unzip32::JobSettings settings = unzip32::readSettings(*options);
    if (settings.kind == unzip32::JobKind::List && callbacks->reportListedEntry == nullptr) {
        return refuse(callbacks, UZP_NULL_POINTER, "listing asked for without a listing callback");
    }
    if (settings.kind == unzip32::JobKind::Extract && settings.promptBeforeOverwrite &&
        callbacks->askOverwrite == nullptr) {
        return refuse(callbacks, UZP_NULL_POINTER,
                      "asking before overwriting asked for without an overwrite callback");
    }
    const unzip32::EntrySelection selection(includes, excludes, settings.caseSensitiveMatching);
    return unzip32::Job(settings, selection, *callbacks).run();
}

} // namespace

extern "C" UNZIP32_API int32_t Wiz_SingleEntryUnzip(
    int32_t includeCount, const char* const* includeNames, int32_t excludeCount,
    const char* const* excludeNames, const UzpOptions* options, UzpCallbacks* callbacks) {
    try {
        return runJob(includeCount, includeNames, excludeCount, excludeNames, options, callbacks);
    } catch (const std::bad_alloc&) {
        return UZP_OUT_OF_MEMORY;
    } catch (...) {
        return UZP_INTERNAL_ERROR;
    }
}
