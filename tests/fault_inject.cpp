// A preloaded library for the fault tests: it makes read or close fail on one named file, as a failing
// disk or a network file system would, which no ordinary file can be made to do on demand.
//
//   VARNO_FAIL_READ_PATH=/abs/in.wav VARNO_FAIL_READ_AT=192044   reads reaching that offset fail with EIO
//   VARNO_FAIL_CLOSE_PATH=/abs/out.wav                           closing that file reports EIO
//
// The file is recognised by what its descriptor points at, so every path spelling of it counts.
#include <dlfcn.h>
#include <limits.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool is_file(int fd, const char* path) {
    if (path == nullptr) return false;
    char resolved[PATH_MAX];
    if (realpath(path, resolved) == nullptr) return false;
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char target[PATH_MAX];
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    if (length < 0) return false;
    target[length] = '\0';
    return std::strcmp(target, resolved) == 0;
}

template <typename Function>
Function next_definition(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    static const auto real_read = next_definition<ssize_t (*)(int, void*, size_t)>("read");
    const char* at_text = std::getenv("VARNO_FAIL_READ_AT");
    if (at_text != nullptr && is_file(fd, std::getenv("VARNO_FAIL_READ_PATH"))) {
        const auto at = static_cast<off_t>(std::strtoll(at_text, nullptr, 10));
        const off_t position = lseek(fd, 0, SEEK_CUR);
        if (position >= at) {
            errno = EIO;
            return -1;
        }
        // Up to the failing offset the file reads as usual; the next read fails.
        if (position + static_cast<off_t>(size) > at) size = static_cast<size_t>(at - position);
    }
    return real_read(fd, buffer, size);
}

extern "C" int close(int fd) {
    static const auto real_close = next_definition<int (*)(int)>("close");
    const bool fail = is_file(fd, std::getenv("VARNO_FAIL_CLOSE_PATH"));
    const int result = real_close(fd);
    if (fail && result == 0) {
        errno = EIO;
        return -1;
    }
    return result;
}
