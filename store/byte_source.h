#pragma once
// Where a one-file picture's bytes come from: a local file now, a web server or an object store
// by range requests later. A reader asks for each part (header, index page, tile) as one range.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // The source's length in bytes.
    virtual uint64_t size() const = 0;
    // Reads exactly n bytes at `offset` into `out`; false (with `why` set) when they cannot all
    // be read. Safe to call from several threads at once.
    virtual bool read(uint64_t offset, size_t n, void* out, std::string& why) const = 0;
    // What to call the source in messages (the path as given).
    virtual const std::string& name() const = 0;
};

// A local file, read with pread. Null, with `why` set ("No such file or directory", ...), when it
// cannot be opened.
std::unique_ptr<ByteSource> open_file_source(const std::string& path, std::string& why);
// Bytes held in memory (tests, fuzzing).
std::unique_ptr<ByteSource> memory_source(std::string name, const uint8_t* data, size_t n);
