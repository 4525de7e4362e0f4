#pragma once

#include "http/TransferWatch.h"
#include "platform/Error.h"

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// What the two HTTP components share: handle ownership, the transfer
// settings of this program and how a failed transfer becomes an Error.
namespace platform::curl {

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using Multi = std::unique_ptr<CURLM, MultiDeleter>;

struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

using Header = std::pair<std::string, std::string>;

// A fresh handle; raises when the library cannot make one.
Easy makeEasy(const std::string& source);

// 60 s to connect, a response that falls silent fails through silence, and
// curl's own description of a failure in errorBuffer (CURL_ERROR_SIZE
// bytes). The way to the server is the request's route's.
void applyTransferOptions(CURL* easy, char* errorBuffer, TransferWatch& silence);

// Runs easy's transfer to its end and returns its result. The wait for the
// network wakes at least every 50 ms, so that the silence watch is asked
// often enough to stop a silent transfer soon after its limit.
CURLcode perform(CURL* easy);

// Exactly the caller's headers: the ones curl would add of its own
// ("Accept", "Content-Type", "Expect") are suppressed unless the caller sets
// them, and an empty value is still sent. Raises error 5 for a
// name or value that would break the request's framing.
HeaderList makeHeaderList(const std::vector<Header>& headers, const std::string& source);

// The error of a failed transfer: an object-defined number per curl result,
// described by curl's error buffer (or its generic text when that is empty).
Error transferError(CURLcode code, const char* errorBuffer, const std::string& source);

} // namespace platform::curl
