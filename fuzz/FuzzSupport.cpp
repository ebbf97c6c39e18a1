#include "FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace fuzz {

ScratchDir::ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "patch16-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        finding("cannot create a scratch folder " + pattern);
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string ScratchDir::file(const std::string& name) const {
    return path_ + "/" + name;
}

std::vector<std::string> ScratchDir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        finding("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::error_code ignored;
    fs::remove(path, ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        finding("cannot write " + path);
}

void finding(const std::string& why) {
    std::fprintf(stderr, "FINDING: %s\n", why.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz
