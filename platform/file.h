// Files the workers read and write: firmware images, readouts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zl {

// Why a file operation failed, in classes the dialog can name in either language.
enum class FileProblem {
    None,
    NotFound,        // no such file or directory
    NoSpace,         // the disk is full
    Permission,      // permission denied
    ReadOnly,        // read-only file system
    IsDirectory,     // a folder where a file was expected
    NotRegular,      // a device, a pipe or a socket: only regular files are read and written
    Busy,            // another program holds it (locked)
    Changed,         // the file changed while it was being read
    NotWholeBlocks,  // a firmware image that is empty or not a whole number of 512-byte blocks
    Other,           // anything else: the system's own words are in the detail
};

struct FileError {
    FileProblem problem = FileProblem::None;
    std::u16string detail;  // the system's own words (may be English), for FileProblem::Other
};

class File {
public:
    virtual ~File() = default;
    // Bytes read (0 at the end), or -1 on error.
    virtual long Read(uint8_t* buf, size_t n) = 0;
    // true when all n bytes were written.
    virtual bool Write(const uint8_t* buf, size_t n) = 0;
    virtual bool SeekToBegin() = 0;
    virtual int64_t Length() = 0;  // -1 on error
    // For a file opened for reading: false when its size or modification time is no
    // longer what it was at the open (someone wrote it meanwhile).
    virtual bool Unchanged() = 0;
    virtual bool Close() = 0;  // false when buffered data could not be stored
    virtual FileError LastError() const = 0;
};

// Opens an existing regular file for reading, without waiting: a pipe, a device or a
// folder is refused. Readers share the file (a shared lock: several programs may read
// the same firmware file at once; one holding it exclusively makes the open fail).
// On failure returns nullptr and the reason.
std::unique_ptr<File> OpenFileForRead(const std::u16string& path, FileError& error);

// A new file for a readout, beside its target: created empty in the target's folder
// under a name of its own; nothing is written at the target itself. Fails when the
// target exists and is not a regular file. tempPath receives the file's name.
std::unique_ptr<File> CreateFileBeside(const std::u16string& target, std::u16string& tempPath, FileError& error);
// Puts a closed file in place of target in one step (the old target, if any, is
// replaced atomically).
bool ReplaceFile(const std::u16string& from, const std::u16string& target, FileError& error);
// Removes a file; true when it is gone.
bool RemoveFile(const std::u16string& path);

}  // namespace zl
