#include "platform/system/SafeRewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <random>
#include <vector>

namespace lumora {

namespace {

std::mutex hookMutex;
TRewriteFaultHook faultHook;

bool Injected(TRewriteStep step, int64_t index) {
    std::lock_guard lock(hookMutex);
    return faultHook && faultHook(step, index);
}

bool WriteAll(int fd, const void* data, int64_t size, int64_t offset) {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = offset >= 0 ? ::pwrite(fd, p, static_cast<size_t>(size), offset)
                                : ::write(fd, p, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= n;
        if (offset >= 0) offset += n;
    }
    return true;
}

class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    bool Close() {
        if (fd_ < 0) return true;
        int r = ::close(fd_);
        fd_ = -1;
        return r == 0;
    }

private:
    int fd_;
};

class TTempOutput : public TRewriteOutput {
public:
    TTempOutput(int out, int source, int64_t sourceSize) : out_(out), source_(source), sourceSize_(sourceSize) {}

    bool Write(const void* data, int64_t size) override {
        if (size <= 0) return true;
        if (Injected(TRewriteStep::Write, writes_++)) return false;
        return WriteAll(out_, data, size, -1);
    }

    bool CopySource(int64_t offset, int64_t count) override {
        if (offset < 0 || offset > sourceSize_) return false;
        if (count < 0) count = sourceSize_ - offset;
        if (count > sourceSize_ - offset) return false;
        std::vector<char> buffer(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
        while (count > 0) {
            int64_t want = std::min<int64_t>(count, static_cast<int64_t>(buffer.size()));
            ssize_t n = ::pread(source_, buffer.data(), static_cast<size_t>(want), offset);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            if (!Write(buffer.data(), n)) return false;
            offset += n;
            count -= n;
        }
        return true;
    }

private:
    int out_;
    int source_;
    int64_t sourceSize_;
    int64_t writes_ = 0;
};

std::string DirectoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Links the anonymous file under a name nobody else has: "name~" first, else "name~" plus a
// random suffix. Returns the name, or empty on failure.
std::string LinkUnique(int fd, const std::string& target) {
    std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    std::random_device seed;
    std::mt19937 rng(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = target + "~";
        if (attempt > 0) name += '.' + std::to_string(rng() % 1000000);
        if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return name;
        if (errno != EEXIST) return {};
    }
    return {};
}

// Creates a named temporary file exclusively, for file systems without anonymous files.
int CreateNamedTemp(const std::string& target, std::string& name) {
    std::random_device seed;
    std::mt19937 rng(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + "~";
        if (attempt > 0) name += '.' + std::to_string(rng() % 1000000);
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    name.clear();
    return -1;
}

} // namespace

void SetRewriteFaultHook(TRewriteFaultHook hook) {
    std::lock_guard lock(hookMutex);
    faultHook = std::move(hook);
}

std::string ResolveFileTarget(const std::string& path) {
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return {};
    return resolved;
}

bool RewriteFile(const std::string& path,
                 const std::function<bool(int64_t sourceSize, TRewriteOutput& out)>& produce) {
    std::string target = ResolveFileTarget(path);
    if (target.empty()) return false;
    TFd source(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
    if (source.Get() < 0) return false;
    struct stat st;
    if (::fstat(source.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

    if (Injected(TRewriteStep::Create, 0)) return false;
    std::string namedTemp; // set while a name of ours exists for the temporary file
    int outFd = ::open(DirectoryOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    bool anonymous = outFd >= 0;
    if (!anonymous) outFd = CreateNamedTemp(target, namedTemp);
    if (outFd < 0) return false;
    TFd out(outFd);
    auto fail = [&] {
        out.Close();
        if (!namedTemp.empty()) ::unlink(namedTemp.c_str());
        return false;
    };

    TTempOutput output(out.Get(), source.Get(), st.st_size);
    if (!produce(st.st_size, output)) return fail();
    if (::fchmod(out.Get(), st.st_mode & 07777) != 0) return fail();
    // Keeping the owner needs privileges we usually lack; the mode is what matters to the user.
    if (::fchown(out.Get(), st.st_uid, st.st_gid) != 0) errno = 0;
    if (Injected(TRewriteStep::Sync, 0) || ::fsync(out.Get()) != 0) return fail();
    if (anonymous) {
        namedTemp = LinkUnique(out.Get(), target);
        if (namedTemp.empty()) return fail();
    }
    if (!out.Close()) return fail();
    if (Injected(TRewriteStep::Rename, 0) || ::rename(namedTemp.c_str(), target.c_str()) != 0) return fail();
    namedTemp.clear();
    TFd dir(::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) ::fsync(dir.Get());
    return true;
}

bool WriteFileRegion(const std::string& path, int64_t offset, const void* data, int64_t size, bool mayAppend) {
    if (offset < 0 || size < 0) return false;
    TFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.Get() < 0) return false;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    int64_t end = offset + size;
    bool appending = end > st.st_size;
    if (appending && !(mayAppend && offset == st.st_size)) return false;
    bool ok = !Injected(TRewriteStep::Write, 0) && WriteAll(fd.Get(), data, size, offset) &&
              !Injected(TRewriteStep::Sync, 0) && ::fsync(fd.Get()) == 0;
    if (!ok && appending) {
        // A partial append must not leave half a tag behind.
        if (::ftruncate(fd.Get(), st.st_size) == 0) ::fsync(fd.Get());
    }
    return fd.Close() && ok;
}

bool TruncateFileTo(const std::string& path, int64_t newSize) {
    TFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.Get() < 0) return false;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || newSize < 0 || newSize > st.st_size) return false;
    if (Injected(TRewriteStep::Write, 0)) return false;
    if (::ftruncate(fd.Get(), newSize) != 0 || ::fsync(fd.Get()) != 0) return false;
    return fd.Close();
}

} // namespace lumora
