#include "testsupport/SignInPage.h"

#include "testsupport/RawHttpServer.h"

namespace testsupport {

namespace {

const std::string page = "<!DOCTYPE html>\n<html><head><title>Welcome to the Harbour Hotel</title>"
                         "</head><body><form method=\"post\" action=\"/login\">"
                         "Room number <input name=\"room\"> Surname <input name=\"name\">"
                         "<button>Connect</button></form></body></html>\n";

} // namespace

SignInPage::SignInPage(Arrival arrival)
    : m_arrival(arrival),
      m_server([this](const std::string& head, ServerConnection& c) { answer(head, c); }) {}

std::vector<std::string> SignInPage::requests() const {
    const std::lock_guard<std::mutex> hold(m_mutex);
    return m_requests;
}

void SignInPage::answer(const std::string& head, ServerConnection& connection) {
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        m_requests.push_back(head);
    }
    if (m_arrival == Arrival::redirected && requestPath(head) != "/login") {
        connection.send("HTTP/1.1 302 Found\r\nLocation: /login\r\nContent-Length: 0\r\n"
                        "Connection: close\r\n\r\n");
        return;
    }
    connection.send(rawResponse("Content-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                    std::to_string(page.size()) + "\r\n",
                                page));
}

} // namespace testsupport
