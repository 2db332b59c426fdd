#include "kill_ledger.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "journal.h"

struct KillLedger::Page {
    char magic[8];
    std::atomic<std::uint32_t> generation;
    std::uint32_t length[2];
    char slot[2][kSlotSize];
};

namespace {

constexpr char kMagic[8] = {'v', 'q', 'l', 'e', 'd', 'g', '1', '\0'};

// The key is the outbox's folder as the station makes it, absolute and with no final "/":
// its digest is the one earlier versions named the ledger with, so a ledger a kill left
// before an update is still found.
QByteArray ledgerPath(const QString& key) {
    return "/dev/shm/vormelq." + QByteArray::number(::getuid()) + '.' +
           folderDigest(key).toLatin1();
}

}  // namespace

KillLedger::KillLedger(const QString& key) : path_(ledgerPath(key)) {
    // Made only when there is something to tell: a station that never loses a line
    // leaves nothing behind, killed or not.
    if (!map(::open(path_.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC))) return;
    const std::uint32_t slot = page_->generation.load() % 2;
    left_ = QByteArray(page_->slot[slot], std::min<qsizetype>(page_->length[slot], kSlotSize));
}

bool KillLedger::map(int fd) {
    if (fd < 0) return false;
    // The user's own file only: a name another user made in the shared folder is not
    // followed nor used.
    struct stat st = {};
    void* mapped = MAP_FAILED;
    if (::fstat(fd, &st) == 0 && st.st_uid == ::getuid() && ::ftruncate(fd, sizeof(Page)) == 0)
        mapped = ::mmap(nullptr, sizeof(Page), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED) return false;
    page_ = static_cast<Page*>(mapped);
    if (std::memcmp(page_->magic, kMagic, sizeof kMagic) == 0) return true;
    std::memset(static_cast<void*>(page_), 0, sizeof(Page));
    std::memcpy(page_->magic, kMagic, sizeof kMagic);
    return false;
}

KillLedger::~KillLedger() {
    if (page_) ::munmap(page_, sizeof(Page));
}

void KillLedger::write(const QByteArray& text) {
    if (!page_) map(::open(path_.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!page_) return;
    const std::uint32_t next = page_->generation.load(std::memory_order_relaxed) + 1;
    const qsizetype size = std::min(text.size(), kSlotSize);
    std::memcpy(page_->slot[next % 2], text.constData(), size);
    page_->length[next % 2] = static_cast<std::uint32_t>(size);
    page_->generation.store(next, std::memory_order_release);
}

void KillLedger::clear() {
    if (!page_) return;
    write({});
    ::unlink(path_.constData());
}
