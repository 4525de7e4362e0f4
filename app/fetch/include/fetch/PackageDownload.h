#pragma once

#include "app/StageContext.h"
#include "platform/Error.h"
#include "platform/http/InternetTransfer.h"
#include "signature/ArrivingPackage.h"
#include "signature/ReleaseLine.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace updater {

class PackageFile;
struct DownloadIdentity;
struct KeptPart;

// The number of a package refused because the bytes served are not the ones
// the signed answer announced, most often an earlier package a cache still
// holds: apart from other refusals, since waiting fixes it.
inline constexpr std::int32_t packageNotAsAnnounced =
    platform::ErrorNumber::objectDefinedBase + 0x280;

// The package's download: one GET through the window's transfer component,
// the body written in 1024-byte chunks to the package file and the progress
// handed to the window after each chunk, with the window kept alive while
// it waits. A failure is raised to the caller, and so is a body that ends
// before its Content-Length: a cut-off package is never taken as whole. A
// Content-Length the package's folder has no room for fails before the body
// is read (error 61, saying how much is needed and free).
//
// When the version answer announced the package (its signed release line),
// the download is bound to it: a Content-Length other than the announced
// size fails before the body is read, no byte beyond that size is written,
// and a package whose SHA-512 is not the announced one is refused before
// anything unpacks it. The digests are taken as the bytes arrive, so the
// checks after the last byte read nothing again.
//
// A download that is cut off (the network, the user's exit, a kill) leaves
// its bytes and what identifies them in the package's folder. The next
// download of the same package asks only for the rest (Range: bytes=N-,
// with If-Range when the server named its package) and goes on from there,
// the progress starting at N and the digests taken over the kept bytes
// first. Whatever does not fit (an answer of the whole package, an answer
// of another range, a digest that differs in the end) starts the package
// over from its first byte. Without such a part the download asks exactly
// as it always has.
class PackageDownload {
public:
    using Announced = std::optional<signature::ReleaseLine>;

    // progress takes the percentage received as decimal text.
    PackageDownload(platform::InternetTransfer& transfer, StageContext& context,
                    std::function<void(const std::string&)> progress);

    // Returns once the whole package is in destination, bound to what the
    // version answer announced (nothing without a key), with what arrived
    // for the signature check; valid until the next download.
    const signature::ArrivingPackage&
    download(const std::string& url, const std::string& destination, const Announced& announced);

private:
    // Sends the request and waits for the answer to begin.
    void request(const std::string& url, const std::string& headers);
    // Asks for the rest of what an earlier download kept; false when the
    // package must be started over.
    bool resume(const std::string& url, const std::string& path, const KeptPart& kept);
    // The whole package, from the answer already begun.
    void receiveWhole(const std::string& path, DownloadIdentity identity);
    // Takes the body from start on into the open package file, up to total.
    void receive(PackageFile& file, std::int64_t start, std::int64_t total);
    // The bytes of the part kept at path, into the digests.
    void rehash(const std::string& path, std::uint64_t bytes);

    platform::InternetTransfer& m_transfer;
    StageContext& m_context;
    std::function<void(const std::string&)> m_progress;
    // What the download under way is bound to.
    Announced m_announced;
    signature::ArrivingPackage m_arrived;
};

} // namespace updater
