#include "tools/out_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

// The permissions an ordinary new file gets under the process's umask (mkstemp gives 0600).
mode_t new_file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

int out_file_open(const std::string& path, out_file* file) {
    file->path = path;
    file->temp.clear();
    file->stream = nullptr;
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = dir + "." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // mkstemp creates the file with O_CREAT | O_EXCL: an existing name, a symlink included,
    // is never opened. (mkostemp, which could also set close-on-exec, is not in bionic before
    // API level 23; the tools start no programs.)
    const int fd = mkstemp(buffer.data());
    if (fd < 0) {
        return -1;
    }
    file->temp = buffer.data();
    file->stream = fchmod(fd, new_file_mode()) == 0 ? fdopen(fd, "wb") : nullptr;
    if (file->stream == nullptr) {
        const int error = errno;
        close(fd);
        out_file_discard(file);  // removes the temporary file
        errno = error;
        return -1;
    }
    return 0;
}

int out_file_finish(out_file* file) {
    FILE* stream = file->stream;
    file->stream = nullptr;
    // A full disk shows at the flush, the sync or the close: each is checked.
    bool ok = fflush(stream) == 0 && ferror(stream) == 0;
    int error = ok ? 0 : errno;
    if (ok && fsync(fileno(stream)) != 0) {
        ok = false;
        error = errno;
    }
    if (fclose(stream) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        out_file_discard(file);
        errno = error != 0 ? error : EIO;
        return -1;
    }
    return 0;
}

int out_file_commit(out_file* file) {
    // rename replaces the target name itself: a symlink there is replaced, not written through.
    if (rename(file->temp.c_str(), file->path.c_str()) != 0) {
        out_file_discard(file);
        return -1;
    }
    file->temp.clear();
    return 0;
}

void out_file_discard(out_file* file) {
    const int error = errno;
    if (file->stream != nullptr) {
        fclose(file->stream);
        file->stream = nullptr;
    }
    if (!file->temp.empty()) {
        unlink(file->temp.c_str());
        file->temp.clear();
    }
    errno = error;
}

int out_file_write(const std::string& path, const void* bytes, size_t size) {
    out_file file;
    if (out_file_open(path, &file) != 0) {
        return -1;
    }
    if (size > 0 && fwrite(bytes, 1, size, file.stream) != size) {
        out_file_discard(&file);
        return -1;
    }
    if (out_file_finish(&file) != 0) {
        return -1;
    }
    return out_file_commit(&file);
}
