// Loading a source into one buffer.
//
// A file is read with read(2) rather than mapped: a mapping of a file that another process
// truncates meanwhile faults (SIGBUS) on access, while a read simply returns fewer bytes.
// While reading, a shared advisory lock (flock) is taken where the file system supports it, so
// writers that lock the file wait for us; Linux has no mandatory lock that denies writes to
// processes that do not ask for one.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <new>

#include "core/Errors.h"
#include "text/TextReader.h"

namespace qel {

namespace {

constexpr const char* kReadError = "Cannot read file %s";
constexpr const char* kStreamReadError = "Stream read error";
constexpr std::size_t kChunk = 1 << 16;
constexpr std::size_t kMapThreshold = std::size_t{4} << 20;

class FileHandle {
  public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);  // also drops the lock
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

void TextBufferRelease::operator()(char* p) const {
    if (mapped != 0) {
        ::munmap(p, mapped);
    } else {
        std::free(p);
    }
}

void TTextBuffer::Clear() {
    data_.reset();
    size_ = 0;
    capacity_ = 0;
}

void TTextBuffer::Reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    std::unique_ptr<char, TextBufferRelease> grown;
    if (capacity >= kMapThreshold) {
        void* p =
            ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        (void)::madvise(p, capacity, MADV_HUGEPAGE);  // a hint; without it, small pages serve
        grown = std::unique_ptr<char, TextBufferRelease>(static_cast<char*>(p),
                                                         TextBufferRelease{capacity});
    } else {
        void* p = std::malloc(capacity > 0 ? capacity : 1);
        if (p == nullptr) throw std::bad_alloc();
        grown =
            std::unique_ptr<char, TextBufferRelease>(static_cast<char*>(p), TextBufferRelease{0});
    }
    if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
}

void TTextBuffer::Assign(std::string_view text) {
    Clear();
    Reserve(text.size());
    if (!text.empty()) std::memcpy(data_.get(), text.data(), text.size());
    size_ = text.size();
}

void TTextBuffer::LoadFile(const std::string& fileName) {
    Clear();
    FileHandle file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) throw EFOpenError(Format(msg::kFOpenError, fileName));
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || S_ISDIR(info.st_mode)) {
        throw EFOpenError(Format(msg::kFOpenError, fileName));
    }
    (void)::flock(file.get(), LOCK_SH | LOCK_NB);

    // One byte more than the size: the read that fills the file's length is followed by one
    // that finds the end. A file that grows meanwhile is read on; one that shrinks gives less.
    Reserve(info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : kChunk);
    for (;;) {
        if (size_ == capacity_) Reserve(capacity_ * 2);
        ssize_t got = ::read(file.get(), data_.get() + size_, capacity_ - size_);
        if (got < 0) {
            if (errno == EINTR) continue;
            Clear();
            throw EInOutError(Format(kReadError, fileName));
        }
        if (got == 0) break;
        size_ += static_cast<std::size_t>(got);
    }
}

void TTextBuffer::LoadStream(std::istream& stream) {
    Clear();
    if (stream.bad()) throw EInOutError(kStreamReadError);
    // A stream read to its end before keeps its position; only the end-of-file state goes.
    stream.clear();
    const std::istream::pos_type start = stream.tellg();
    if (start != std::istream::pos_type(-1) && stream.seekg(0, std::ios::end)) {
        const std::istream::pos_type stop = stream.tellg();
        stream.seekg(start);
        if (stop != std::istream::pos_type(-1) && stop >= start && stream) {
            const auto count = static_cast<std::size_t>(stop - start);
            Reserve(count);
            stream.read(data_.get(), static_cast<std::streamsize>(count));
            size_ = static_cast<std::size_t>(stream.gcount());
            if (stream.bad()) {
                Clear();
                throw EInOutError(kStreamReadError);
            }
            return;
        }
    }
    // A stream that cannot tell its size (a pipe): read it in chunks to its end.
    stream.clear();
    Reserve(kChunk);
    for (;;) {
        if (size_ == capacity_) Reserve(capacity_ * 2);
        stream.read(data_.get() + size_, static_cast<std::streamsize>(capacity_ - size_));
        const auto got = static_cast<std::size_t>(stream.gcount());
        size_ += got;
        if (stream.bad()) {
            Clear();
            throw EInOutError(kStreamReadError);
        }
        if (!stream) break;
    }
}

}  // namespace qel
