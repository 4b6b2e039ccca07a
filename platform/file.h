// Files the workers read and write: firmware images, readouts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zl {

class File {
public:
    virtual ~File() = default;
    // Bytes read (0 at the end), or -1 on error.
    virtual long Read(uint8_t* buf, size_t n) = 0;
    // true when all n bytes were written.
    virtual bool Write(const uint8_t* buf, size_t n) = 0;
    virtual bool SeekToBegin() = 0;
    virtual int64_t Length() = 0;  // -1 on error
    virtual bool Close() = 0;      // false when buffered data could not be stored
    // The reason of the last failure, in the user's words (from the system).
    virtual std::u16string LastError() const = 0;
};

// Opens an existing file for reading. exclusive: no other opener may hold it for
// writing or exclusively meanwhile. On failure returns nullptr and the reason.
std::unique_ptr<File> OpenFileForRead(const std::u16string& path, bool exclusive, std::u16string& error);
// Creates a file, or truncates an existing one, for reading and writing.
std::unique_ptr<File> CreateFileForWrite(const std::u16string& path, std::u16string& error);

}  // namespace zl
