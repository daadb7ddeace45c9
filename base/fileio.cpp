// base/fileio.cpp: bounded inputs, checked and whole outputs.
#include "base/fileio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/save.h"

namespace {

struct FileId {
    dev_t dev;
    ino_t ino;
};

struct FileioState {
    std::vector<FileId> inputs;
    int stdout_errno;   // of the first failed fileio_stdout_write, 0 for none
};
FileioState fileio;

std::string why(const char *path, int error) {
    return std::string(path) + ": " + std::strerror(error != 0 ? error : EIO);
}

// Neither an input of this run nor anything but a regular file or nothing.
// Renaming over a device, a FIFO or a folder would replace it by a file (as
// root even /dev/null).
bool target_allowed(const char *path, std::string *error) {
    if (fileio_is_input(path)) {
        *error = std::string(path) + ": is an input of this run; refusing to write over it";
        return false;
    }
    struct stat st;
    if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        *error = std::string(path) + ": not a regular file; refusing to replace it";
        return false;
    }
    return true;
}

}   // namespace

void fileio_add_input_id(dev_t dev, ino_t ino) {
    for (const FileId &id : fileio.inputs)
        if (id.dev == dev && id.ino == ino) return;
    fileio.inputs.push_back({dev, ino});
}

void fileio_add_input(const char *path) {
    struct stat st;
    if (stat(path, &st) == 0) fileio_add_input_id(st.st_dev, st.st_ino);
}

bool fileio_add_input_folder(const char *folder) {
    // O_NONBLOCK: a FIFO given as the folder fails here instead of blocking.
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    DIR *dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return false;
    }
    while (const dirent *entry = readdir(dir)) {
        struct stat st;
        if (fstatat(fd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
            fileio_add_input_id(st.st_dev, st.st_ino);
    }
    closedir(dir);
    return true;
}

bool fileio_is_input(const char *path) {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    for (const FileId &id : fileio.inputs)
        if (id.dev == st.st_dev && id.ino == st.st_ino) return true;
    return false;
}

void fileio_forget_inputs() { fileio.inputs.clear(); }

bool fileio_read(const char *path, size_t limit, std::vector<uint8_t> *bytes, std::string *error) {
    bytes->clear();
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = why(path, errno);
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (!ok) {
        *error = why(path, errno);
    } else if (!S_ISREG(st.st_mode)) {
        *error = std::string(path) + ": not a regular file";
        ok = false;
    } else if (static_cast<uint64_t>(st.st_size) > limit) {
        *error = std::string(path) + ": " + std::to_string(st.st_size) + " bytes, more than the " +
                 std::to_string(limit) + " an input may hold";
        ok = false;
    }
    if (ok) {
        fileio_add_input_id(st.st_dev, st.st_ino);
        // One byte more than the limit tells a file that grew past it.
        bytes->resize(limit + 1 < limit ? limit : limit + 1);
        size_t got = 0;
        while (got < bytes->size()) {
            const ssize_t n = read(fd, bytes->data() + got, bytes->size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                *error = why(path, errno);
                ok = false;
                break;
            }
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        bytes->resize(got);
        if (ok && got > limit) {
            *error = std::string(path) + ": more than the " + std::to_string(limit) +
                     " bytes an input may hold";
            ok = false;
        }
    }
    close(fd);
    if (!ok) bytes->clear();
    return ok;
}

bool fileio_check_output(const char *path, std::string *error) {
    if (path[0] == '\0') {
        *error = "an empty file name";
        return false;
    }
    if (!target_allowed(path, error)) return false;
    // A missing or read-only folder shows now, not when the work is done.
    SaveFile probe;
    if (!save_begin(&probe, path)) {
        *error = why(path, errno);
        return false;
    }
    save_abort(&probe);
    return true;
}

bool fileio_write(const char *path, const void *data, size_t size, std::string *error) {
    if (!target_allowed(path, error)) return false;
    SaveFile f;
    if (!save_begin(&f, path)) {
        *error = why(path, errno);
        return false;
    }
    if (size > 0 && std::fwrite(data, 1, size, f.stream) != size) {
        *error = why(path, errno);
        save_abort(&f);
        return false;
    }
    if (!save_commit(&f)) {
        *error = why(path, errno);
        return false;
    }
    return true;
}

void fileio_stdout_write(const void *data, size_t size) {
    errno = 0;
    if (std::fwrite(data, 1, size, stdout) != size && fileio.stdout_errno == 0)
        fileio.stdout_errno = errno != 0 ? errno : EIO;
}

bool fileio_finish_stdout(std::string *error) {
    errno = 0;
    bool ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    int saved = fileio.stdout_errno != 0 ? fileio.stdout_errno : errno;
    if (std::fclose(stdout) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) *error = "standard output: " + std::string(std::strerror(saved != 0 ? saved : EIO));
    return ok;
}
