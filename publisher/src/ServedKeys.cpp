#include "ServedKeys.h"

#include "publisher/PublishError.h"
#include "signature/Base64.h"
#include "signature/ReleaseLine.h"

#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "fileio/Writing.h"

#include <algorithm>
#include <cerrno>

namespace publisher {

namespace {

// The file's line, without its line end; nothing when there is no file.
std::optional<std::string> servedKeysText(const std::string& servedFolder) {
    const std::string path = servedFolder + "/" + keysFileName;
    std::string text;
    if (const int error = fileio::readWholeFile(path, text)) {
        if (error == ENOENT) {
            return std::nullopt;
        }
        throw PublishError("cannot read " + path + ": " + fileio::systemReason(error));
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

} // namespace

std::optional<signature::KeysLine> servedKeysLine(const std::string& servedFolder) {
    const std::optional<std::string> text = servedKeysText(servedFolder);
    if (!text) {
        return std::nullopt;
    }
    std::string why;
    auto line = signature::parseKeysLine(*text, why);
    if (!line) {
        throw PublishError(servedFolder + "/" + keysFileName + " is not a keys line (" + why +
                           "); make it again with --make-keys");
    }
    return line;
}

void writeServedText(const std::string& path, const std::string& text) {
    if (const int error = fileio::replaceFile(path, text, 0644)) {
        throw PublishError("cannot write " + path + ": " + fileio::systemReason(error));
    }
}

std::vector<std::pair<std::string, std::string>>
withServedKeysLine(const std::string& servedFolder, const signature::PublicKey& signer,
                   std::vector<std::pair<std::string, std::string>> laterFields) {
    const std::optional<std::string> text = servedKeysText(servedFolder);
    if (!text) {
        return laterFields;
    }
    const std::optional<signature::KeysLine> line = servedKeysLine(servedFolder);
    if (std::find(line->releaseKeys.begin(), line->releaseKeys.end(), signer) ==
        line->releaseKeys.end()) {
        throw PublishError("the key that signs (" + signature::base64Of(signer) +
                           ") is not a release key the keys line in " + servedFolder + "/" +
                           keysFileName + " lists; updaters would refuse the answer");
    }
    std::erase_if(laterFields,
                  [](const auto& field) { return field.first == signature::keysLineField; });
    laterFields.emplace_back(
        signature::keysLineField,
        signature::encodeBase64(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()));
    return laterFields;
}

} // namespace publisher
