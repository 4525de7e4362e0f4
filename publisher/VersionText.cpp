#include "publisher/VersionText.h"

#include <cctype>

bool isVersionText(const std::string& version) {
    int pieces = 1;
    bool digitSeen = false;
    for (const char c : version) {
        if (c == '.') {
            if (!digitSeen) {
                return false;
            }
            ++pieces;
            digitSeen = false;
        } else if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            digitSeen = true;
        } else {
            return false;
        }
    }
    return pieces == 3 && digitSeen;
}
