#pragma once

#include <string>

namespace testsupport {

// Names each case of a parameterised test after its `name` field.
struct CaseName {
    template <typename Info> std::string operator()(const Info& testInfo) const {
        return testInfo.param.name;
    }
};

} // namespace testsupport
