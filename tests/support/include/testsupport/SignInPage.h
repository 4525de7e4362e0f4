#pragma once

#include "testsupport/ScriptedHttpServer.h"

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// What a hotel's or a station's network answers before its user has signed
// in, whatever was asked: its sign-in page (200, HTML), or first a redirect
// to the page (302 Location: /login) and then the page.
class SignInPage {
public:
    enum class Arrival { atOnce, redirected };

    explicit SignInPage(Arrival arrival);

    std::string host() const { return m_server.host(); }
    // Each request's head, in the order they came.
    std::vector<std::string> requests() const;

private:
    void answer(const std::string& head, ServerConnection& connection);

    Arrival m_arrival;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    // Last, so that it stops serving before the rest goes.
    ScriptedHttpServer m_server;
};

} // namespace testsupport
