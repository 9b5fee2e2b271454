// The g++ stand-in for libFuzzer's driver: runs the target once on every file named on the
// command line, and on every regular file of each folder named there (in name order, so a
// failure is repeatable). Used by ctest to replay the seeds, and by hand to replay a crash
// artefact found by the clang build. Exits non-zero when no input was found, so a wrong
// seed path cannot pass silently.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool ReadWhole(const std::string& path, std::string& out)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    out.clear();
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        out.append(chunk, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

// The regular files directly inside the folder, sorted; false when it cannot be listed.
bool ListFolder(const std::string& folder, std::vector<std::string>& out)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st;
        const std::string path = folder + "/" + name;
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            names.push_back(path);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    out.insert(out.end(), names.begin(), names.end());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
            return 2;
        }
        if (S_ISDIR(st.st_mode)) {
            if (!ListFolder(argv[i], inputs)) {
                fprintf(stderr, "%s: cannot list %s\n", argv[0], argv[i]);
                return 2;
            }
        } else {
            inputs.push_back(argv[i]);
        }
    }
    if (inputs.empty()) {
        fprintf(stderr, "usage: %s FILE-OR-FOLDER... (no inputs found)\n", argv[0]);
        return 2;
    }
    std::string data;
    for (const std::string& path : inputs) {
        if (!ReadWhole(path, data)) {
            fprintf(stderr, "%s: cannot read %s\n", argv[0], path.c_str());
            return 2;
        }
        fprintf(stderr, "running %s (%zu bytes)\n", path.c_str(), data.size());
        // A copy of exactly the input's size, so that AddressSanitizer sees a read past its end.
        std::vector<uint8_t> bytes(data.begin(), data.end());
        static const uint8_t none = 0; // libFuzzer too passes a valid pointer for no bytes
        LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    }
    fprintf(stderr, "%zu inputs ran\n", inputs.size());
    return 0;
}
