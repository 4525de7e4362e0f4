#include "unzip32test/ArchiveTools.h"

#include "testsupport/TempDir.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>

extern char** environ;

namespace unzip32test {

namespace fs = std::filesystem;

void runTool(const std::vector<std::string>& arguments, const std::string& folder) {
    const testsupport::TempDir logFolder;
    const std::string log = logFolder / "output";
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (!folder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    }
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        throw std::runtime_error(arguments[0] + " failed: " + testsupport::readFile(log));
    }
}

std::string scriptArchive(const std::string& kind, const std::string& out,
                          const std::string& source) {
    std::vector<std::string> arguments{"python3", UNZIP32_ARCHIVE_SCRIPT, kind, out};
    if (!source.empty()) {
        arguments.push_back(source);
    }
    runTool(arguments);
    return out;
}

Tree readTree(const std::string& root) {
    Tree tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string name = item.path().lexically_relative(root).string();
        if (item.is_symlink()) {
            tree[name] = "-> " + fs::read_symlink(item.path()).string();
        } else if (item.is_directory()) {
            tree[name] = "<folder>";
        } else {
            tree[name] = testsupport::readFile(item.path().string());
        }
    }
    return tree;
}

void writeTree(const std::string& root, const Tree& tree) {
    for (const auto& [name, content] : tree) {
        const fs::path path = fs::path(root) / name;
        if (content == "<folder>") {
            fs::create_directories(path);
        } else {
            fs::create_directories(path.parent_path());
            testsupport::writeFile(path.string(), content);
        }
    }
}

Tree samplePackage() {
    std::mt19937 random(42);
    std::string binary(300 * 1024, '\0');
    for (char& c : binary) {
        c = static_cast<char>(random());
    }
    std::string text;
    for (int line = 0; text.size() < 700 * 1024; ++line) {
        text += "line " + std::to_string(line) + " of the Morvane release notes\n";
    }
    return Tree{{"updater.ini", "MOVE morvane.exe\nEXEC morvane.exe\n"},
                {"notes.txt", text},
                {"bin", "<folder>"},
                {"bin/data.bin", binary},
                {"bin/empty.dat", ""},
                {"docs", "<folder>"},
                {"docs/ünïcødé 名前.txt", "UTF-8 name\n"},
                {"docs/deep", "<folder>"},
                {"docs/deep/er", "<folder>"},
                {"docs/deep/er/nested.txt", "nested\n"},
                {"empty folder", "<folder>"}};
}

} // namespace unzip32test
