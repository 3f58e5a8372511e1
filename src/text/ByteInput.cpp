// The inputs of a text source: plain files, streams, a temporary copy for the ones that cannot
// seek, and gzip decompression.
#include "text/ByteInput.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <limits>
#include <vector>

#include "core/Errors.h"

namespace qel {

namespace {

constexpr const char* kReadError = "Cannot read file %s";
constexpr const char* kStreamReadError = "Stream read error";
constexpr const char* kSpoolError = "Cannot write a temporary copy of the source in %s";
constexpr const char* kNotGzip = "Not gzip data: %s";
constexpr const char* kDamagedGzip = "Damaged gzip data in %s";
constexpr const char* kTruncatedGzip = "Truncated gzip data in %s";
constexpr std::size_t kPiece = std::size_t{1} << 16;

// Calls `read` (a read(2) or pread(2) of the file `name`) again while a signal interrupts it;
// any other failure raises the file's read error.
template <typename F>
std::size_t ReadRetrying(F read, const std::string& name) {
    for (;;) {
        const ssize_t got = read();
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) throw EInOutError(Format(kReadError, name));
    }
}

class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);  // also drops the lock
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(FileHandle&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }

  private:
    int fd_ = -1;
};

// A part of an open file from an offset on, read with pread(2): it has a position of its own and
// leaves the file's alone.
class TFilePart final : public TByteInput {
  public:
    TFilePart(int fd, std::uint64_t offset, const std::string& name)
        : fd_(fd), start_(offset), offset_(offset), name_(name) {}

    std::size_t Read(char* buffer, std::size_t size) override {
        const std::size_t got = ReadRetrying(
            [&] { return ::pread(fd_, buffer, size, static_cast<off_t>(offset_)); }, name_);
        offset_ += got;
        return got;
    }
    void Skip(std::uint64_t count) override { offset_ += count; }
    void Rewind() override { offset_ = start_; }

  private:
    int fd_;
    std::uint64_t start_;  // the part's first byte
    std::uint64_t offset_;
    std::string name_;
};

class TFileInput final : public TByteInput {
  public:
    TFileInput(int fd, std::string name) : file_(fd), name_(std::move(name)) {}

    std::unique_ptr<TByteInput> ShareFrom(std::uint64_t offset) override {
        return std::make_unique<TFilePart>(file_.get(), offset, name_);
    }
    std::uint64_t KnownSize() const override {
        struct stat info {};
        if (::fstat(file_.get(), &info) != 0 || info.st_size < 0) return 0;
        return static_cast<std::uint64_t>(info.st_size);
    }

    std::size_t Read(char* buffer, std::size_t size) override {
        return ReadRetrying([&] { return ::read(file_.get(), buffer, size); }, name_);
    }
    void Skip(std::uint64_t count) override {
        const auto most = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
        const off_t here = ::lseek(file_.get(), 0, SEEK_CUR);
        if (here < 0) throw EInOutError(Format(kReadError, name_));
        const std::uint64_t to = std::min(most, static_cast<std::uint64_t>(here) + count);
        if (::lseek(file_.get(), static_cast<off_t>(to), SEEK_SET) < 0)
            throw EInOutError(Format(kReadError, name_));
    }
    void Rewind() override {
        if (::lseek(file_.get(), 0, SEEK_SET) < 0) throw EInOutError(Format(kReadError, name_));
    }

  private:
    FileHandle file_;
    std::string name_;
};

// An input that cannot go back, read through a copy of every byte read from it; after Rewind
// the copy is read first, then the input again where it was left. The first megabyte is
// copied to memory; beyond that the copy is a temporary file in TMPDIR (else /tmp), removed
// from the folder as soon as it is created.
class TSpooledInput final : public TByteInput {
  public:
    explicit TSpooledInput(std::unique_ptr<TByteInput> inner) : inner_(std::move(inner)) {}

    std::size_t Read(char* buffer, std::size_t size) override {
        if (pos_ < spooled_) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(size, spooled_ - pos_));
            if (copy_.get() < 0) {
                std::memcpy(buffer, memory_.data() + pos_, want);
                pos_ += want;
                return want;
            }
            for (;;) {
                const ssize_t got = ::pread(copy_.get(), buffer, want, static_cast<off_t>(pos_));
                if (got > 0) {
                    pos_ += static_cast<std::uint64_t>(got);
                    return static_cast<std::size_t>(got);
                }
                if (got < 0 && errno == EINTR) continue;
                throw EInOutError(Format(kSpoolError, Folder()));
            }
        }
        if (innerEnded_) return 0;
        const std::size_t got = inner_->Read(buffer, size);
        if (got == 0) {
            innerEnded_ = true;
            return 0;
        }
        Keep(buffer, got);
        pos_ += got;
        return got;
    }
    void Skip(std::uint64_t count) override {
        const std::uint64_t inCopy = std::min(count, spooled_ - std::min(spooled_, pos_));
        pos_ += inCopy;
        if (count > inCopy) TByteInput::Skip(count - inCopy);
    }
    void Rewind() override { pos_ = 0; }
    void Finish() override { inner_->Finish(); }

  private:
    static std::string Folder() {
        const char* dir = std::getenv("TMPDIR");
        return dir != nullptr && *dir != '\0' ? dir : "/tmp";
    }
    void Keep(const char* bytes, std::size_t size) {
        if (copy_.get() < 0 && spooled_ + size <= kMemoryCopy) {
            memory_.append(bytes, size);
            spooled_ += size;
            return;
        }
        if (copy_.get() < 0) {
            std::string path = Folder() + "/qel-source-XXXXXX";
            const int fd = ::mkostemp(path.data(), O_CLOEXEC);
            if (fd < 0) throw EInOutError(Format(kSpoolError, Folder()));
            ::unlink(path.c_str());
            copy_ = FileHandle(fd);
            const std::string held = std::move(memory_);
            memory_.clear();
            spooled_ = 0;
            Write(held.data(), held.size());
        }
        Write(bytes, size);
    }
    void Write(const char* bytes, std::size_t size) {
        while (size > 0) {
            const ssize_t put = ::pwrite(copy_.get(), bytes, size, static_cast<off_t>(spooled_));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) throw EInOutError(Format(kSpoolError, Folder()));
            bytes += put;
            size -= static_cast<std::size_t>(put);
            spooled_ += static_cast<std::uint64_t>(put);
        }
    }

    // Small inputs are copied to memory; a larger one moves to the temporary file.
    static constexpr std::uint64_t kMemoryCopy = std::uint64_t{1} << 20;
    std::unique_ptr<TByteInput> inner_;
    std::string memory_;
    FileHandle copy_;
    std::uint64_t spooled_ = 0;  // bytes in the copy
    std::uint64_t pos_ = 0;      // the next byte to hand out
    bool innerEnded_ = false;
};

class TStreamInput final : public TByteInput {
  public:
    TStreamInput(std::istream& stream, std::istream::pos_type start, std::istream::pos_type end)
        : stream_(stream), start_(start), end_(end) {}

    std::size_t Read(char* buffer, std::size_t size) override {
        if (stream_.eof()) return 0;
        stream_.read(buffer, static_cast<std::streamsize>(
                                 std::min<std::size_t>(size, std::numeric_limits<int>::max())));
        if (stream_.bad()) throw EInOutError(kStreamReadError);
        return static_cast<std::size_t>(stream_.gcount());
    }
    void Skip(std::uint64_t count) override {
        if (!Seekable()) {
            TByteInput::Skip(count);
            return;
        }
        stream_.clear();
        const std::istream::pos_type here = stream_.tellg();
        const auto left = static_cast<std::uint64_t>(end_ - std::min(here, end_));
        stream_.seekg(here + static_cast<std::streamoff>(std::min(count, left)));
        if (!stream_) throw EInOutError(kStreamReadError);
    }
    void Rewind() override {
        stream_.clear();
        stream_.seekg(start_);
        if (!stream_) throw EInOutError(kStreamReadError);
    }
    void Finish() override {
        if (Seekable()) {
            stream_.clear();
            stream_.seekg(0, std::ios::end);
            return;
        }
        std::vector<char> scratch(kPiece);
        while (Read(scratch.data(), scratch.size()) > 0) {
        }
    }
    bool Seekable() const { return start_ != std::istream::pos_type(-1); }

  private:
    std::istream& stream_;
    std::istream::pos_type start_;
    std::istream::pos_type end_;
};

// gzip data decompressed with zlib's inflate, member after member; in automatic mode, input
// that does not start with the gzip magic bytes is passed through as it is.
class TGzipInput final : public TByteInput {
  public:
    TGzipInput(std::unique_ptr<TByteInput> raw, bool automatic, std::string name)
        : raw_(std::move(raw)), automatic_(automatic), name_(std::move(name)), in_(kPiece) {
        if (inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
    }
    ~TGzipInput() override { inflateEnd(&z_); }
    TGzipInput(const TGzipInput&) = delete;
    TGzipInput& operator=(const TGzipInput&) = delete;

    std::size_t Read(char* buffer, std::size_t size) override {
        if (kind_ == kUnknown) Detect();
        if (kind_ == kPlain) {
            if (z_.avail_in == 0) return raw_->Read(buffer, size);
            const std::size_t n = std::min<std::size_t>(size, z_.avail_in);
            std::memcpy(buffer, z_.next_in, n);
            z_.next_in += n;
            z_.avail_in -= static_cast<uInt>(n);
            return n;
        }
        if (done_ || size == 0) return 0;
        z_.next_out = reinterpret_cast<Bytef*>(buffer);
        z_.avail_out = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        const uInt wanted = z_.avail_out;
        for (;;) {
            if (memberEnded_) {
                // Another member may follow; anything else after a member is damage.
                if (!Ensure(1)) {
                    done_ = true;
                    return wanted - z_.avail_out;
                }
                if (!Ensure(2) || !Magic()) throw EInOutError(Format(kDamagedGzip, name_));
                inflateReset(&z_);
                memberEnded_ = false;
            }
            if (z_.avail_in == 0) Ensure(1);
            const int rc = inflate(&z_, Z_NO_FLUSH);
            const uInt produced = wanted - z_.avail_out;
            if (rc == Z_STREAM_END) {
                memberEnded_ = true;
            } else if (rc == Z_BUF_ERROR) {
                if (z_.avail_in == 0 && rawEnded_) throw EInOutError(Format(kTruncatedGzip, name_));
            } else if (rc != Z_OK) {
                throw EInOutError(Format(kDamagedGzip, name_));
            }
            if (produced > 0) return produced;
        }
    }
    void Rewind() override {
        raw_->Rewind();
        inflateReset(&z_);
        z_.avail_in = 0;
        kind_ = kUnknown;
        rawEnded_ = memberEnded_ = done_ = false;
    }
    void Finish() override { raw_->Finish(); }
    // Passed through, the bytes are the raw input's at the same offsets.
    std::unique_ptr<TByteInput> ShareFrom(std::uint64_t offset) override {
        return kind_ == kPlain ? raw_->ShareFrom(offset) : nullptr;
    }
    std::uint64_t KnownSize() const override { return kind_ == kPlain ? raw_->KnownSize() : 0; }

  private:
    bool Magic() const { return z_.next_in[0] == 0x1F && z_.next_in[1] == 0x8B; }
    // At least `count` unread compressed bytes at hand, reading more as needed; false when the
    // input ends first.
    bool Ensure(std::size_t count) {
        while (z_.avail_in < count && !rawEnded_) {
            if (z_.avail_in > 0) std::memmove(in_.data(), z_.next_in, z_.avail_in);
            z_.next_in = reinterpret_cast<Bytef*>(in_.data());
            const std::size_t got = raw_->Read(in_.data() + z_.avail_in, in_.size() - z_.avail_in);
            if (got == 0) rawEnded_ = true;
            z_.avail_in += static_cast<uInt>(got);
        }
        return z_.avail_in >= count;
    }
    void Detect() {
        const bool two = Ensure(2);
        if (two && Magic()) {
            kind_ = kGzip;
        } else if (automatic_) {
            kind_ = kPlain;
        } else if (z_.avail_in == 0) {
            throw EInOutError(Format(kTruncatedGzip, name_));
        } else {
            throw EInOutError(Format(kNotGzip, name_));
        }
    }

    std::unique_ptr<TByteInput> raw_;
    bool automatic_;
    std::string name_;
    std::vector<char> in_;
    z_stream z_{};
    enum { kUnknown, kGzip, kPlain } kind_ = kUnknown;
    bool rawEnded_ = false;
    bool memberEnded_ = false;
    bool done_ = false;
};

}  // namespace

void TByteInput::Skip(std::uint64_t count) {
    std::vector<char> scratch(static_cast<std::size_t>(std::min<std::uint64_t>(count, kPiece)));
    while (count > 0) {
        const std::size_t got =
            Read(scratch.data(), static_cast<std::size_t>(std::min<std::uint64_t>(count, kPiece)));
        if (got == 0) return;
        count -= got;
    }
}

std::unique_ptr<TByteInput> OpenFileInput(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EFOpenError(Format(msg::kFOpenError, fileName));
    auto file = std::make_unique<TFileInput>(fd, fileName);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        throw EFOpenError(Format(msg::kFOpenError, fileName));
    }
    (void)::flock(fd, LOCK_SH | LOCK_NB);
    if (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) return file;
    return std::make_unique<TSpooledInput>(std::move(file));
}

std::unique_ptr<TByteInput> OpenStreamInput(std::istream& stream) {
    if (stream.bad()) throw EInOutError(kStreamReadError);
    // A stream read to its end before keeps its position; only the end-of-file state goes.
    stream.clear();
    const std::istream::pos_type start = stream.tellg();
    if (start != std::istream::pos_type(-1) && stream.seekg(0, std::ios::end)) {
        const std::istream::pos_type end = stream.tellg();
        stream.seekg(start);
        if (end != std::istream::pos_type(-1) && end >= start && stream) {
            return std::make_unique<TStreamInput>(stream, start, end);
        }
    }
    stream.clear();
    return std::make_unique<TSpooledInput>(std::make_unique<TStreamInput>(
        stream, std::istream::pos_type(-1), std::istream::pos_type(-1)));
}

std::unique_ptr<TByteInput> Decompressed(std::unique_ptr<TByteInput> input,
                                         TQelCompression compression, const std::string& name) {
    if (compression == cmNone) return input;
    return std::make_unique<TGzipInput>(std::move(input), compression == cmAuto, name);
}

}  // namespace qel
