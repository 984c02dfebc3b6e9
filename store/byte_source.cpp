// Byte sources: a local file read with pread, and bytes in memory (store/byte_source.h).
#include "store/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

class FileSource : public ByteSource {
  public:
    FileSource(std::string name, int fd, uint64_t size)
        : name_(std::move(name)), fd_(fd), size_(size) {}
    ~FileSource() override { close(fd_); }
    uint64_t size() const override { return size_; }
    const std::string& name() const override { return name_; }

    bool read(uint64_t offset, size_t n, void* out, std::string& why) const override {
        if (offset > size_ || n > size_ - offset) {
            why = "unexpected end of file";
            return false;
        }
        uint8_t* p = static_cast<uint8_t*>(out);
        while (n > 0) {
            const ssize_t got = pread(fd_, p, n, off_t(offset));
            if (got < 0) {
                if (errno == EINTR) continue;
                why = strerror(errno);
                return false;
            }
            if (got == 0) {
                why = "unexpected end of file";
                return false;
            }
            p += got;
            n -= size_t(got);
            offset += uint64_t(got);
        }
        return true;
    }

  private:
    std::string name_;
    int fd_;
    uint64_t size_;
};

class MemorySource : public ByteSource {
  public:
    MemorySource(std::string name, const uint8_t* data, size_t n)
        : name_(std::move(name)), bytes_(data, data + n) {}
    uint64_t size() const override { return bytes_.size(); }
    const std::string& name() const override { return name_; }

    bool read(uint64_t offset, size_t n, void* out, std::string& why) const override {
        if (offset > bytes_.size() || n > bytes_.size() - offset) {
            why = "unexpected end of file";
            return false;
        }
        if (n > 0) memcpy(out, bytes_.data() + offset, n);
        return true;
    }

  private:
    std::string name_;
    std::vector<uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<ByteSource> open_file_source(const std::string& path, std::string& why) {
    int fd;
    do {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        why = strerror(errno);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        why = strerror(errno);
        close(fd);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        why = strerror(EISDIR);
        close(fd);
        return nullptr;
    }
    return std::make_unique<FileSource>(path, fd, uint64_t(st.st_size));
}

std::unique_ptr<ByteSource> memory_source(std::string name, const uint8_t* data, size_t n) {
    return std::make_unique<MemorySource>(std::move(name), data, n);
}
