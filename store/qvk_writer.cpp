// Writing a one-file picture (store/qvk_writer.h).
#include "store/qvk_writer.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <filesystem>

namespace {

std::string tile_name(int l, uint32_t tx, uint32_t ty) {
    char text[80];
    snprintf(text, sizeof text, "tile (%u, %u) of level %d", tx, ty, l);
    return text;
}

}  // namespace

QvkWriter::~QvkWriter() {
    abort();
}

std::string QvkWriter::fail(const std::string& what) const {
    return path_ + ": " + what;
}

namespace {

// A build that was killed (SIGKILL, a crash, a power cut) leaves PATH.partial-PID behind; the
// next build of the same file removes those whose process is gone (or is this one, its number
// reused), as the folder form clears its stale partial folders.
void remove_stale_partials(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::string prefix = target.filename().string() + ".partial-";
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size()) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = pid_t(std::stol(digits));
        if (pid == getpid() || (kill(pid, 0) != 0 && errno == ESRCH)) {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

}  // namespace

bool QvkWriter::begin(const std::string& path, uint32_t width, uint32_t height, QvkCoder coder,
                      uint32_t coder_param, std::string& error, int tile_size, int derive_span) {
    if (fd_ >= 0) {
        error = path + ": the writer is already writing " + path_;
        return false;
    }
    if (width < 1 || width > kQvkMaxSide || height < 1 || height > kQvkMaxSide) {
        error = path + ": bad picture size " + std::to_string(width) + "x" +
                std::to_string(height) + " (each side must be 1.." + std::to_string(kQvkMaxSide) +
                ")";
        return false;
    }
    if (!qvk_coder_ok(uint32_t(coder))) {
        error = path + ": unknown tile coder " + std::to_string(uint32_t(coder));
        return false;
    }
    if (tile_size < 0 || !qvk_tile_size_ok(uint32_t(tile_size))) {
        error = path + ": bad tile size " + std::to_string(tile_size) +
                " (must be a power of two from 64 to 1024)";
        return false;
    }
    path_ = path;
    remove_stale_partials(path);
    temp_ = path + ".partial-" + std::to_string(getpid());
    int fd;
    do {
        fd = ::open(temp_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = temp_ + ": " + strerror(errno);
        temp_.clear();
        return false;
    }
    fd_ = fd;

    QvkHeader h;
    h.width = width;
    h.height = height;
    h.levels = qvk_level_count(width, height, tile_size);
    h.tile_size = tile_size;
    h.coder = uint32_t(coder);
    h.coder_param = coder_param;
    qvk_derive_levels(h, derive_span);
    qvk_layout(h);
    header_ = h;
    end_ = h.data_offset;
    tiles_added_ = tiles_total_ = 0;
    failed_ = false;
    open_pages_.clear();
    for (int l = 1; l <= h.levels; ++l) {
        if (h.level[l].stored()) tiles_total_ += uint64_t(h.level[l].tiles_x) * h.level[l].tiles_y;
        sealed_[l].assign(size_t(h.level[l].pages_x) * h.level[l].pages_y, false);
    }
    return true;
}

bool QvkWriter::write_at(uint64_t offset, const void* data, size_t n, std::string& error) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t put = pwrite(fd_, p, n, off_t(offset));
        if (put < 0) {
            if (errno == EINTR) continue;
            error = fail(strerror(errno));
            return false;
        }
        p += put;
        n -= size_t(put);
        offset += uint64_t(put);
    }
    return true;
}

bool QvkWriter::add_tile(int l, uint32_t tx, uint32_t ty, const uint8_t* bytes, size_t n,
                         std::string& error) {
    if (l < 1 || l > header_.levels || !header_.level[l].stored() ||
        tx >= header_.level[l].tiles_x || ty >= header_.level[l].tiles_y) {
        error = fail("there is no " + tile_name(l, tx, ty));
        return false;
    }
    if (n < 1 || n > qvk_max_tile_bytes(header_.tile_size)) {
        error = fail(tile_name(l, tx, ty) + " has " + std::to_string(n) + " bytes (must be 1.." +
                     std::to_string(qvk_max_tile_bytes(header_.tile_size)) + ")");
        return false;
    }
    const QvkPageRef ref = qvk_page_of(header_.level[l], tx, ty);
    const size_t page_index = size_t(ref.py) * header_.level[l].pages_x + ref.px;
    uint64_t at;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fd_ < 0 || failed_) {
            error = fail(fd_ < 0 ? "the file is not being written" : "an earlier write failed");
            return false;
        }
        if (sealed_[l][page_index]) {
            error = fail(tile_name(l, tx, ty) + " came twice");
            return false;
        }
        OpenPage& page = open_pages_[ref.offset];
        if (page.bytes.empty()) page.bytes.assign(size_t(ref.bytes), 0);
        if (qvk_page_entry(page.bytes.data(), ref.slot).length != 0) {
            error = fail(tile_name(l, tx, ty) + " came twice");
            return false;
        }
        at = end_;
        end_ += n;
        qvk_put_page_entry(page.bytes.data(), ref.slot, QvkTileEntry{at, uint32_t(n), 0});
    }

    const uint32_t crc = uint32_t(crc32(0L, bytes, uInt(n)));
    const bool written = write_at(at, bytes, n, error);

    std::unique_lock<std::mutex> lock(mutex_);
    if (!written) {
        failed_ = true;
        return false;
    }
    auto it = open_pages_.find(ref.offset);
    OpenPage& page = it->second;
    qvk_put_page_entry(page.bytes.data(), ref.slot, QvkTileEntry{at, uint32_t(n), crc});
    ++tiles_added_;
    if (++page.filled < ref.width * ref.height) return true;

    // The page's last tile: seal it and write it into its place, outside the lock.
    std::vector<uint8_t> full = std::move(page.bytes);
    open_pages_.erase(it);
    sealed_[l][page_index] = true;
    lock.unlock();
    qvk_seal_page(ref, full.data());
    if (write_at(ref.offset, full.data(), full.size(), error)) return true;
    lock.lock();
    failed_ = true;
    return false;
}

bool QvkWriter::finish(std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) {
        error = fail("the file is not being written");
        return false;
    }
    bool ok = !failed_;
    if (!ok) error = fail("an earlier write failed");
    if (ok && tiles_added_ != tiles_total_) {
        error = fail(std::to_string(tiles_total_ - tiles_added_) + " tiles missing");
        ok = false;
    }
    if (ok) {
        header_.file_length = end_;
        std::vector<uint8_t> bytes(header_.header_size());
        qvk_write_header(header_, bytes.data());
        ok = write_at(0, bytes.data(), bytes.size(), error);
    }
    if (ok) {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) {
            error = fail(strerror(errno));
            ok = false;
        } else if (rename(temp_.c_str(), path_.c_str()) != 0) {
            error = fail(strerror(errno));
            ok = false;
        }
    }
    if (!ok) {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        unlink(temp_.c_str());
    }
    temp_.clear();
    open_pages_.clear();
    return ok;
}

void QvkWriter::abort() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
    unlink(temp_.c_str());
    temp_.clear();
    open_pages_.clear();
}

uint64_t QvkWriter::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return end_;
}
