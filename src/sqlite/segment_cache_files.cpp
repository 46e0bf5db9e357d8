// The segment cache on disk: "<db path>.segments/" with segment-v1.bin and manifest.txt.
// Saving reports failures with the operating system's own error text; loading never fails,
// it only declines, and the caller rebuilds from the loaded edges.
#include <cerrno>
#include <charconv>
#include <optional>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "core/messages.hpp"
#include "sqlite/segment_cache.hpp"

namespace qm {

namespace {

constexpr std::string_view kDirSuffix = ".segments";
constexpr std::string_view kManifestName = "manifest.txt";
constexpr std::string_view kDataName = "segment-v1.bin";
constexpr std::string_view kVersion = "quillmere-segment-v1";
// A real manifest is four short lines; anything far larger is not one, and reading it
// whole would let a planted file claim arbitrary memory.
constexpr std::uint64_t kMaxManifestBytes = std::uint64_t{1} << 20;

std::string os_error_text(int err) { return std::generic_category().message(err); }

// Closes on every path.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now so a deferred write error is seen; returns the errno or 0.
    int close_now() {
        int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// Replaces each maximal ill-formed subsequence with U+FFFD, so the directory name is
// always valid text whatever bytes the database path held.
std::string lossy_utf8(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::size_t i = 0;
    while (i < in.size()) {
        auto b = static_cast<unsigned char>(in[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) len = 2;
        else if (b == 0xE0) len = 3, lo = 0xA0;
        else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) len = 3;
        else if (b == 0xED) len = 3, hi = 0x9F;
        else if (b == 0xF0) len = 4, lo = 0x90;
        else if (b >= 0xF1 && b <= 0xF3) len = 4;
        else if (b == 0xF4) len = 4, hi = 0x8F;
        if (len == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < len && i + k < in.size(); ++k) {
            auto c = static_cast<unsigned char>(in[i + k]);
            unsigned char min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
            if (c < min || c > max) break;
        }
        if (k == len) out.append(in.substr(i, len));
        else out += kReplacement;
        i += k;
    }
    return out;
}

bool valid_utf8(std::string_view text) { return lossy_utf8(text) == text; }

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates path and any missing parents; an existing directory is success. Returns 0 or
// the errno of the step that failed.
int create_directories(const std::string& path) {
    if (path.empty() || is_directory(path)) return 0;
    if (::mkdir(path.c_str(), 0777) == 0) return 0;
    int err = errno;
    if (err == ENOENT) {
        std::size_t end = path.find_last_not_of('/');
        std::size_t slash = end == std::string::npos ? std::string::npos : path.rfind('/', end);
        if (slash != std::string::npos && slash != 0) {
            if (int perr = create_directories(path.substr(0, slash))) return perr;
            if (::mkdir(path.c_str(), 0777) == 0) return 0;
            err = errno;
        }
    }
    // Another writer may have created it meanwhile.
    if (err == EEXIST && is_directory(path)) return 0;
    return err;
}

int write_all(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Creates or truncates path and writes what produce hands its sink, in order. Returns 0
// or an errno.
template <class Produce>
int write_file(const std::string& path, Produce&& produce) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666));
    if (!fd.valid()) return errno;
    int err = 0;
    produce([&](std::span<const std::uint8_t> bytes) {
        err = write_all(fd.get(), bytes);
        return err == 0;
    });
    if (err) return err;
    return fd.close_now();
}

// Reads a whole regular file of at most limit bytes; none when it cannot be read or is
// larger, so a file larger than anything acceptable is never pulled into memory.
std::optional<std::vector<std::uint8_t>> read_file(const std::string& path, std::uint64_t limit) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return std::nullopt;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    if (static_cast<std::uint64_t>(st.st_size) > limit) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;  // shrank or failed while being read
        done += static_cast<std::size_t>(n);
    }
    // A file that grew while being read is in the middle of a rewrite: decline it.
    while (true) {
        std::uint8_t probe;
        ssize_t n = ::read(fd.get(), &probe, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n != 0) return std::nullopt;
        return bytes;
    }
}

// Unsigned decimal with an optional leading "+"; nothing else, and no overflow.
std::optional<std::uint64_t> parse_count(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

struct Manifest {
    std::optional<std::string> version;
    std::optional<std::uint64_t> node_count;
    std::optional<std::uint64_t> edge_count;
    std::optional<std::string> file;
};

// Lines end with "\n" or "\r\n"; the last may lack its terminator. None when a line has
// no "=" or a count does not parse.
std::optional<Manifest> parse_manifest(std::string_view text) {
    Manifest m;
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (nl != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "version") {
            m.version = std::string(value);
        } else if (key == "node_count") {
            m.node_count = parse_count(value);
            if (!m.node_count) return std::nullopt;
        } else if (key == "edge_count") {
            m.edge_count = parse_count(value);
            if (!m.edge_count) return std::nullopt;
        } else if (key == "file") {
            m.file = std::string(value);
        }
    }
    return m;
}

// The exact size of a file holding a segment with these counts, or none if it cannot exist.
std::optional<std::uint64_t> expected_file_size(std::uint64_t node_count, std::uint64_t edge_count) {
    std::uint64_t offsets = 0, words = 0, bytes = 0;
    if (__builtin_add_overflow(node_count, 1, &offsets)) return std::nullopt;
    if (__builtin_add_overflow(offsets, edge_count, &words)) return std::nullopt;
    if (__builtin_mul_overflow(words, 16, &bytes)) return std::nullopt;
    if (__builtin_add_overflow(bytes, 48, &bytes)) return std::nullopt;
    return bytes;
}

}  // namespace

std::string segment_directory(std::string_view db_path) {
    return lossy_utf8(db_path) + std::string(kDirSuffix);
}

std::string segment_manifest_path(std::string_view db_path) {
    return segment_directory(db_path) + "/" + std::string(kManifestName);
}

Status save_segment_files(std::string_view db_path, const ComputeSegment& segment,
                          std::uint64_t node_count, std::uint64_t edge_count) {
    std::string dir = segment_directory(db_path);
    if (int err = create_directories(dir))
        return fail(msg::segment_save_failed("create segment directory", dir, os_error_text(err)));

    std::string data_path = dir + "/" + std::string(kDataName);
    auto encode = [&](const std::function<bool(std::span<const std::uint8_t>)>& sink) {
        write_segment_bytes(segment, sink);
    };
    if (int err = write_file(data_path, encode))
        return fail(msg::segment_save_failed("write segment file", data_path, os_error_text(err)));

    std::string manifest_path = dir + "/" + std::string(kManifestName);
    std::string manifest = "version=" + std::string(kVersion) +
                           "\nnode_count=" + std::to_string(node_count) +
                           "\nedge_count=" + std::to_string(edge_count) +
                           "\nfile=" + std::string(kDataName) + "\n";
    auto text = std::span(reinterpret_cast<const std::uint8_t*>(manifest.data()), manifest.size());
    if (int err = write_file(manifest_path, [&](auto&& sink) { sink(text); }))
        return fail(msg::segment_save_failed("write segment manifest", manifest_path, os_error_text(err)));
    return ok();
}

std::optional<ComputeSegment> load_segment_files(std::string_view db_path, std::uint64_t node_count,
                                                 std::uint64_t edge_count) {
    std::string dir = segment_directory(db_path);
    auto raw = read_file(dir + "/" + std::string(kManifestName), kMaxManifestBytes);
    if (!raw) return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(raw->data()), raw->size());
    if (!valid_utf8(text)) return std::nullopt;

    auto manifest = parse_manifest(text);
    if (!manifest) return std::nullopt;
    if (manifest->version != kVersion || manifest->node_count != node_count ||
        manifest->edge_count != edge_count)
        return std::nullopt;
    const auto& file = manifest->file;
    if (!file || file->empty() || file->find_first_of("/\\") != std::string::npos)
        return std::nullopt;

    // Only a file of exactly the size these counts imply can be accepted, so nothing
    // larger is ever read.
    auto size = expected_file_size(node_count, edge_count);
    if (!size) return std::nullopt;
    auto bytes = read_file(dir + "/" + *file, *size);
    if (!bytes) return std::nullopt;
    return segment_from_bytes(*bytes, node_count, edge_count);
}

}  // namespace qm
