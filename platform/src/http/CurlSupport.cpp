#include "http/CurlSupport.h"

#include <algorithm>
#include <cctype>
#include <new>

namespace platform::curl {

namespace {

constexpr long connectTimeoutSeconds = 60;
constexpr int wakeMilliseconds = 50;

// Header names compare without regard to ASCII case.
bool sameHeaderName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// A line end (or a zero byte, which would cut the line) inside a header.
bool breaksFraming(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

void append(HeaderList& list, const std::string& line) {
    curl_slist* head = curl_slist_append(list.get(), line.c_str());
    if (head == nullptr) {
        throw std::bad_alloc();
    }
    if (!list) {
        list.reset(head);
    }
}

} // namespace

Easy makeEasy(const std::string& source) {
    Easy easy(curl_easy_init());
    if (!easy) {
        raiseError(ErrorNumber::invalidCall, source, "the HTTP library cannot start a request");
    }
    return easy;
}

void applyTransferOptions(CURL* easy, char* errorBuffer, TransferWatch& silence) {
    errorBuffer[0] = '\0';
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
    silence.watch(easy);
}

HeaderList makeHeaderList(const std::vector<Header>& headers, const std::string& source) {
    HeaderList list;
    for (const auto& [name, value] : headers) {
        if (name.empty() || breaksFraming(name) || breaksFraming(value) ||
            name.find_first_of(":;") != std::string::npos) {
            raiseError(ErrorNumber::invalidCall, source, "invalid request header \"" + name + "\"");
        }
        // "Name:" would tell curl to drop the header; "Name;" sends it empty.
        append(list, value.empty() ? name + ";" : name + ": " + value);
    }
    for (const char* own : {"Accept", "Content-Type", "Expect"}) {
        const bool given = std::any_of(headers.begin(), headers.end(), [own](const Header& h) {
            return sameHeaderName(h.first, own);
        });
        if (!given) {
            append(list, std::string(own) + ":");
        }
    }
    return list;
}

CURLcode perform(CURL* easy) {
    const Multi multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) {
        return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_FAILED_INIT;
    int running = 1;
    while (running != 0) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            break;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE) {
                result = message->data.result;
            }
        }
        if (running != 0) {
            curl_multi_poll(multi.get(), nullptr, 0, wakeMilliseconds, nullptr);
        }
    }
    curl_multi_remove_handle(multi.get(), easy);
    return result;
}

Error transferError(CURLcode code, const char* errorBuffer, const std::string& source) {
    const std::string detail = errorBuffer != nullptr && errorBuffer[0] != '\0'
                                   ? std::string(errorBuffer)
                                   : std::string(curl_easy_strerror(code));
    return Error(ErrorNumber::objectDefinedBase + static_cast<int32_t>(code), source, detail);
}

} // namespace platform::curl
