// The temporary name is the target's with ".part" and six random letters, in
// the same folder, so the final rename never crosses file systems. The file
// is made with O_EXCL and mode 0666 (the umask decides, as for any new file).
#include "PendingFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace folio {

PendingFile::PendingFile(std::string target, std::string temporary, std::FILE* file)
    : target_(std::move(target)), temporary_(std::move(temporary)), file_(file) {}

std::unique_ptr<PendingFile> PendingFile::Create(const std::string& target, std::string& error) {
    struct stat st;
    if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = target + ": cannot write the file: it is a directory";
        return nullptr;
    }
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::string path;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        path = target + ".part";
        for (int i = 0; i < 6; ++i)
            path += kLetters[random() % (sizeof kLetters - 1)];
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error = target + ": cannot create a file beside it: " + std::strerror(errno);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        error = target + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(path.c_str());
        return nullptr;
    }
    return std::unique_ptr<PendingFile>(new PendingFile(target, path, file));
}

PendingFile::~PendingFile() {
    if (file_)
        std::fclose(file_);
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
}

bool PendingFile::Write(const void* data, std::size_t bytes) {
    if (!file_ || (bytes && std::fwrite(data, 1, bytes, file_) != bytes))
        return false;
    offset_ += bytes;
#ifdef __linux__
    // Every few megabytes, start writing what has gone out on to the disk
    // without waiting for it: the sync in Complete then finds most of the
    // file written. Only a hint; failures show at the sync.
    if (offset_ - hinted_ >= (std::uint64_t(4) << 20)) {
        if (std::fflush(file_) != 0)
            return false;
        ::sync_file_range(::fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
        hinted_ = offset_;
    }
#endif
    return true;
}

bool PendingFile::Complete(std::string& error) {
    errno = 0;
    bool ok =
        file_ && std::fflush(file_) == 0 && !std::ferror(file_) && ::fsync(::fileno(file_)) == 0;
    const int why = errno;
    if (file_ && std::fclose(file_) != 0 && ok) {
        ok = false;
    }
    file_ = nullptr;
    if (!ok) {
        error = target_ + ": cannot write the file" +
                (why ? std::string(": ") + std::strerror(why) : "");
        return false;
    }
    complete_ = true;
    return true;
}

bool PendingFile::Commit(std::string& error) {
    if (!complete_ || temporary_.empty()) {
        error = target_ + ": the file is not complete";
        return false;
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = "cannot replace " + target_ + ": " + std::strerror(errno);
        return false;
    }
    temporary_.clear();
    return true;
}

} // namespace folio
