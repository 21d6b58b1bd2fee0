// Locked JSON documents in the device's run/ folder.  The lock is a separate
// file so that the document itself can be replaced atomically by rename and
// readers never see a half-written file.
#include "run_state.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "device/device.h"
#include "device/files.h"

namespace wince::run_state {
namespace {

class FileLock {
public:
    explicit FileLock(const std::filesystem::path& path) : fd_(device::open_private(path, O_RDWR | O_CREAT))
    {
        if (fd_ >= 0)
            ::flock(fd_, LOCK_EX);
    }
    ~FileLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
};

thread_local int failed_errno = 0;
thread_local std::string failed_file;

std::filesystem::path document(const std::string& name) { return device::run_dir() / (name + ".json"); }

// The documents hold a few calls and settings; anything much larger is not one.
constexpr size_t max_document_bytes = 1 << 20;

nlohmann::json load(const std::filesystem::path& file)
{
    const auto text = device::read_file(file, max_document_bytes);
    if (!text)
        return nlohmann::json::object();
    nlohmann::json doc = nlohmann::json::parse(*text, nullptr, false);
    return doc.is_object() ? doc : nlohmann::json::object();
}

} // namespace

nlohmann::json read(const std::string& name) { return load(document(name)); }

bool update(const std::string& name, const std::function<void(nlohmann::json&)>& change)
{
    device::make_private_dirs(device::run_dir());
    const auto file = document(name);
    FileLock held(device::run_dir() / (name + ".lock"));
    nlohmann::json doc = load(file);
    change(doc);
    if (device::replace_file(file, doc.dump() + "\n"))
        return true;
    failed_errno = errno;
    failed_file = file.string();
    return false;
}

DWORD write_error() { return failed_errno == ENOSPC || failed_errno == EDQUOT ? ERROR_DISK_FULL : ERROR_GEN_FAILURE; }

std::string write_failure() { return "cannot write " + device::refusal(failed_file, failed_errno); }

} // namespace wince::run_state
