// A temporary directory removed with everything in it at the end of a test.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return root; }
    // path()/name
    std::string file(const std::string& name) const;
    // Writes contents to path()/name and returns that path.
    std::string write(const std::string& name, const std::string& contents) const;

private:
    std::string root;
};

// The whole file, or an empty string when it cannot be read.
std::string readFile(const std::string& path);
