// What the simulator's tests share: where the program is, a scratch
// directory, and one complete device description.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace simtest {

constexpr char kSimPath[] = NASSCOUT_SIM_PATH;

// --device text of the device most tests play; its address is the caller's.
inline std::string DeviceText(const std::string& ip)
{
    return "ip=" + ip + ",id=4f2a-77,host=nas1,vendor=ZORVA,product=NS200,detail=A1,version=2.1.0";
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh directory, removed with everything in it when the test ends.
class ScratchDirectory {
public:
    ScratchDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "nasscout-sim-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchDirectory()
    {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    // Writes `content` to the file `name` in the directory; its full path.
    std::string Write(const std::string& name, const std::string& content) const
    {
        const std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace simtest
