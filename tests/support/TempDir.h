#pragma once
// A temporary folder removed with everything in it when the test ends.

#include <string>

namespace lumora::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    // Path of a file inside the folder; WriteFile creates parent folders as needed.
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string WriteFile(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);

} // namespace lumora::test
