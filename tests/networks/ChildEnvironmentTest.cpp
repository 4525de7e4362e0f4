// The updater's child gets the proxies its route names and none of the
// machine's: a cell's settings never leak into the next, whatever CI sets.
#include "testsupport/ChildProcess.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

namespace {

// The child's environment, a line a variable.
std::set<std::string> childEnvironment(const testsupport::Environment& environment) {
    testsupport::TempDir folder;
    testsupport::ChildProcess child({"env"}, folder / "env.out", environment);
    EXPECT_EQ(child.exitStatusWithin(std::chrono::seconds(10)), 0);
    std::set<std::string> lines;
    std::istringstream text(testsupport::readFile(folder / "env.out"));
    for (std::string line; std::getline(text, line);) {
        lines.insert(line);
    }
    return lines;
}

// A variable of the test's own, for the length of one test.
class OwnVariable {
public:
    OwnVariable(const char* name, const char* value) : m_name(name) { setenv(name, value, 1); }
    ~OwnVariable() { unsetenv(m_name); }
    OwnVariable(const OwnVariable&) = delete;
    OwnVariable& operator=(const OwnVariable&) = delete;

private:
    const char* m_name;
};

TEST(ChildEnvironment, TheMachinesProxiesAreLeftOutAndTheRoutesGiven) {
    const OwnVariable machineProxy("https_proxy", "http://proxy.example:3128");
    const OwnVariable machineDesktop("DESKTOP_SESSION", "plasma");
    const OwnVariable unrelated("UPDATER_TEST_UNRELATED", "kept");
    const auto lines = childEnvironment(testsupport::withoutProxies(
        {{"http_proxy", "http://127.0.0.1:3128"}, {"DESKTOP_SESSION", "gnome"}}));
    EXPECT_TRUE(lines.contains("http_proxy=http://127.0.0.1:3128"));
    EXPECT_TRUE(lines.contains("DESKTOP_SESSION=gnome"));
    EXPECT_FALSE(lines.contains("DESKTOP_SESSION=plasma"));
    EXPECT_FALSE(lines.contains("https_proxy=http://proxy.example:3128"));
    EXPECT_TRUE(lines.contains("UPDATER_TEST_UNRELATED=kept"));
}

TEST(ChildEnvironment, WithoutChangesTheChildInheritsEverything) {
    const OwnVariable machineProxy("https_proxy", "http://proxy.example:3128");
    EXPECT_TRUE(childEnvironment({}).contains("https_proxy=http://proxy.example:3128"));
}

} // namespace
