// The bytes of a text source, read front to back in pieces: a plain file, a stream, or gzip data
// decompressed on the fly. The reader makes two passes over a source (one that counts the
// records, one that hands them to the run), so every input can go back to its first byte:
// a file or a stream that cannot seek (a pipe) keeps a temporary copy of what it has read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace qel {

// How the bytes of a source are stored.
enum TQelCompression : std::uint8_t {
    cmNone,  // plain bytes
    cmGzip,  // gzip data (one member or several in a row); anything else is an error
    cmAuto,  // gzip when the input starts with the gzip magic bytes (1F 8B), else plain
};

class TByteInput {
  public:
    virtual ~TByteInput() = default;
    // Up to `size` bytes into `buffer`; 0 only at the end of the input. Raises EInOutError
    // when reading fails.
    virtual std::size_t Read(char* buffer, std::size_t size) = 0;
    // Passes over `count` bytes, or to the end when fewer are left.
    virtual void Skip(std::uint64_t count);
    // Back to the first byte, for another pass over the same bytes.
    virtual void Rewind() = 0;
    // Reading is over. A stream is left at its end, as reading it whole leaves it.
    virtual void Finish() {}
    // A second input over the same bytes that reads from `offset` (counted as this input
    // counts its bytes) on its own, so that another thread can read a later part while this
    // one reads on; it must not outlive this input. nullptr where there is none (a stream, a
    // pipe, gzip data).
    virtual std::unique_ptr<TByteInput> ShareFrom(std::uint64_t /*offset*/) { return nullptr; }
    // The input's size in bytes as it is now, where that is known without reading; else 0.
    virtual std::uint64_t KnownSize() const { return 0; }
};

// A plain file, read with read(2) (a file truncated meanwhile gives fewer bytes, never a
// fault). A shared advisory lock (flock) is held while it is open, where the file system has
// them, so writers that lock the file wait. A file that cannot seek (a named pipe, a terminal)
// is read through a temporary copy. Raises EFOpenError "Cannot open file %s" when it cannot
// be opened or is a directory, EInOutError "Cannot read file %s" when a read fails.
std::unique_ptr<TByteInput> OpenFileInput(const std::string& fileName);

// A stream from its current position on; the input's first byte is the byte there. A stream
// that cannot seek is read through a temporary copy. Raises EInOutError "Stream read error"
// when the stream is broken or a read fails.
std::unique_ptr<TByteInput> OpenStreamInput(std::istream& stream);

// The input as stored: cmNone returns it as it is; cmGzip and cmAuto decompress it with zlib
// (cmAuto only when it starts with the gzip magic bytes). `name` names the source in the
// errors: EInOutError "Not gzip data: %s", "Damaged gzip data in %s" and "Truncated gzip data
// in %s" (the input ends within a member).
std::unique_ptr<TByteInput> Decompressed(std::unique_ptr<TByteInput> input,
                                         TQelCompression compression, const std::string& name);

}  // namespace qel
