#pragma once
// A fresh temporary directory, removed with everything in it on destruction;
// optionally the process's working directory while it lives.
#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
    explicit TempDir(bool enter = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
    bool entered_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);
// Runs a shell command (test tools only), returning its exit status.
int run(const std::string& command);
// Runs a shell command and returns what it wrote to standard output.
std::string capture(const std::string& command);
// Whether a program is on the PATH.
bool haveProgram(const std::string& name);

}  // namespace testsupport
