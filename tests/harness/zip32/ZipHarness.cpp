#include "zip32test/ZipHarness.h"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

namespace zip32test {

namespace {

ZipCall* active = nullptr;

int32_t recordMessage(const char* text, uint32_t length) {
    active->printed.append(text, length);
    return 0;
}

int32_t answerPassword(char* buffer, int32_t size, const char*, const char*) {
    ++active->passwordAsks;
    if (!active->password || static_cast<int32_t>(active->password->size()) >= size) {
        return ZP_PASSWORD_NONE;
    }
    std::memcpy(buffer, active->password->c_str(), active->password->size() + 1);
    return ZP_PASSWORD_GIVEN;
}

char* answerComment(char* buffer) {
    active->commentOffered = buffer;
    if (!active->comment) {
        return nullptr;
    }
    std::strncpy(buffer, active->comment->c_str(), ZP_COMMENT_BUFFER_SIZE - 1);
    return buffer;
}

int32_t recordService(const char* name, uint32_t) {
    active->serviced.emplace_back(name);
    if (active->atEntry) {
        active->atEntry(name);
    }
    return active->stopAtEntry == name ? 1 : 0;
}

int32_t recordChunk(const char* name, uint64_t uncompressed, uint64_t compressed) {
    active->chunks.push_back({name, uncompressed, compressed});
    return active->chunks.size() == active->stopAtChunk ? 1 : 0;
}

template <typename Function> Function entryPoint(void* library, const char* name) {
    void* address = dlsym(library, name);
    if (address == nullptr) {
        throw std::runtime_error(std::string("missing entry point ") + name);
    }
    return reinterpret_cast<Function>(address);
}

} // namespace

const ZipApi& loadedZipApi() {
    static const ZipApi api = [] {
        void* library = dlopen(ZIP32_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            throw std::runtime_error(dlerror());
        }
        return ZipApi{entryPoint<decltype(ZipApi::init)>(library, "ZpInit"),
                      entryPoint<decltype(ZipApi::setOptions)>(library, "ZpSetOptions"),
                      entryPoint<decltype(ZipApi::getOptions)>(library, "ZpGetOptions"),
                      entryPoint<decltype(ZipApi::archive)>(library, "ZpArchive"),
                      entryPoint<decltype(ZipApi::setChunking)>(library, "ZpSetChunking")};
    }();
    return api;
}

ZipApi linkedZipApi() {
    return ZipApi{&ZpInit, &ZpSetOptions, &ZpGetOptions, &ZpArchive, &ZpSetChunking};
}

int32_t ZipCall::run(const std::string& archive, const std::string& root,
                     const std::vector<std::string>& names) {
    active = this;
    printed.clear();
    serviced.clear();
    chunks.clear();
    const ZpCallbacks callbacks{&recordMessage, &answerPassword, &answerComment, &recordService};
    m_api.init(&callbacks);
    m_root = root;
    ZpOptions copy = options;
    copy.rootDirectory = m_root.c_str();
    m_api.setOptions(&copy);
    ZpChunking chunkingCopy = chunking;
    chunkingCopy.chunkWritten = &recordChunk;
    if (m_api.setChunking(&chunkingCopy) != ZP_OK) {
        throw std::invalid_argument("the library refused the chunking");
    }
    std::vector<const char*> list{"querty"};
    for (const std::string& name : names) {
        list.push_back(name.c_str());
    }
    const int32_t result =
        m_api.archive(static_cast<int32_t>(list.size()), archive.c_str(), list.data());
    active = nullptr;
    return result;
}

std::map<std::string, std::string> archiveEntries(const std::string& archive) {
    int error = 0;
    zip_t* zip = zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (zip == nullptr) {
        throw std::runtime_error(archive + ": cannot open, libzip error " + std::to_string(error));
    }
    std::map<std::string, std::string> entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const std::string name = zip_get_name(zip, index, 0);
        if (name.ends_with('/')) {
            entries[name] = "<folder>";
            continue;
        }
        zip_file_t* file = zip_fopen_index(zip, index, 0);
        std::string content;
        char buffer[65536];
        zip_int64_t got = 0;
        while (file != nullptr && (got = zip_fread(file, buffer, sizeof buffer)) > 0) {
            content.append(buffer, static_cast<std::size_t>(got));
        }
        if (file == nullptr || got < 0) {
            zip_discard(zip);
            throw std::runtime_error(archive + ": " + name + " cannot be read back");
        }
        zip_fclose(file);
        entries[name] = content;
    }
    zip_discard(zip);
    return entries;
}

std::vector<std::string> strayFiles(const std::string& folder,
                                    const std::vector<std::string>& expected) {
    std::vector<std::string> stray;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        const std::string name = item.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end()) {
            stray.push_back(name);
        }
    }
    return stray;
}

void setModified(const std::string& path, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        throw std::runtime_error(path + ": cannot set its time");
    }
}

} // namespace zip32test
