// Helpers shared by the tests: temporary directories, files, processes.
#pragma once
#include <string>
#include <vector>

namespace testutil {

// A fresh directory under /tmp, removed with its contents at destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::vector<std::string> ListDir(const std::string& dir);

// A free loopback TCP port, nothing listening on it.
int FreePort();

// Hex "01 02 FF" to bytes and back.
std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);

} // namespace testutil
