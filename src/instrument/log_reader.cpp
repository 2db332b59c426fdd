#include "log_reader.h"

#include <QByteArray>
#include <QLocale>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr qsizetype kBlock = 1 << 20;
constexpr qsizetype kLongestLine = kLongestLogLine;

}  // namespace

void forEachLine(QIODevice& device,
                 const std::function<bool(QByteArrayView line, qint64 number)>& line) {
    QByteArray buffer(kBlock + kLongestLine, Qt::Uninitialized);
    qsizetype held = 0;  // bytes of an unfinished line at the buffer's start
    qint64 number = 0;
    bool overlong = false;  // inside a line already passed on cut short
    for (;;) {
        const qint64 got = device.read(buffer.data() + held, kBlock);
        if (got <= 0) break;
        const char* data = buffer.constData();
        const qsizetype end = held + got;
        qsizetype start = 0;
        for (;;) {
            const void* nl = std::memchr(data + start, '\n', static_cast<size_t>(end - start));
            if (!nl) break;
            const qsizetype stop = static_cast<const char*>(nl) - data;
            const QByteArrayView text(data + start, std::min(stop - start, kLongestLine));
            if (!overlong && !line(text, ++number)) return;
            overlong = false;
            start = stop + 1;
        }
        held = end - start;
        if (held > kLongestLine) {
            if (!overlong && !line(QByteArrayView(data + start, kLongestLine), ++number)) return;
            overlong = true;
            held = 0;
        } else {
            std::memmove(buffer.data(), data + start, static_cast<size_t>(held));
        }
    }
    if (held > 0 && !overlong) line(QByteArrayView(buffer.constData(), held), ++number);
}

DateOrder detectDateOrder(QIODevice& device, DateOrder fallback) {
    LogLineParser parser(DateOrder::Unknown);
    DateEvidence evidence;
    LogRecord record;
    forEachLine(device, [&](QByteArrayView line, qint64) {
        parser.parse(line, record);
        evidence.follow(parser.takeEvidence());
        return evidence.firstHint == DateOrder::Unknown;
    });
    return evidence.order(fallback);
}

DateOrder systemDateOrder() {
    const QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    const qsizetype day = format.indexOf(QLatin1Char('d'));
    const qsizetype month = format.indexOf(QLatin1Char('M'));
    return month >= 0 && day > month ? DateOrder::MonthFirst : DateOrder::DayFirst;
}

QString skippedLinesNote(const QString& path, qint64 count, qint64 first) {
    return QStringLiteral("%1: %2 líneas ilegibles omitidas (la primera, línea %3)")
        .arg(path)
        .arg(count)
        .arg(first);
}

QString noReadingNote(const QString& path) {
    return QStringLiteral(
               "%1 no tiene ninguna lectura legible (se espera "
               "fecha;hora;bruto;tara;neto por línea)")
        .arg(path);
}

namespace {

// A few blocks in turn: each is parsed by whichever thread is free, and taken in the
// file's order by whichever thread finds the next one ready, so the fold sees the lines
// as they are written while both cores parse. A block waits for its slot until the one
// that held it before was taken, which bounds the memory.
class BlockReader {
public:
    using Take = std::function<bool(const LogBlock&)>;

    BlockReader(QFile& file, DateOrder order, const Take& take, qsizetype blockBytes, int threads)
        : file_(file),
          order_(order),
          take_(take),
          size_(file.size()),
          blockBytes_(std::max<qsizetype>(1, blockBytes)),
          blocks_((size_ + blockBytes_ - 1) / blockBytes_),
          threads_(static_cast<int>(std::clamp<qint64>(threads, 1, std::max<qint64>(1, blocks_)))),
          slots_(static_cast<size_t>(2 * threads_)) {}

    bool run() {
        std::vector<std::thread> helpers;
        for (int i = 1; i < threads_; ++i) helpers.emplace_back([this] { work(); });
        work();
        for (std::thread& helper : helpers) helper.join();
        return !failed_;
    }

private:
    struct Slot {
        LogBlock block;
        bool ready = false;
        bool read = false;  // false when the block could not be read
    };

    Slot& slotOf(qint64 index) { return slots_[static_cast<size_t>(index % std::ssize(slots_))]; }

    void work() {
        LogLineParser parser(order_);
        QByteArray copy;
        for (;;) {
            qint64 index = 0;
            {
                std::unique_lock lock(mutex_);
                if (next_ >= blocks_ || stopped_) return;
                index = next_++;
                free_.wait(lock, [&] { return index - taken_ < std::ssize(slots_) || stopped_; });
                if (stopped_) return;
            }
            Slot& slot = slotOf(index);
            slot.read = parse(index, parser, copy, slot.block);
            {
                std::lock_guard lock(mutex_);
                slot.ready = true;
                if (taking_) continue;  // whoever takes will find it
                taking_ = true;
            }
            takeReady();
        }
    }

    // Takes the blocks that are ready, in order, until the next one is not.
    void takeReady() {
        for (;;) {
            Slot* slot = nullptr;
            {
                std::lock_guard lock(mutex_);
                slot = &slotOf(taken_);
                if (!slot->ready || stopped_) {
                    taking_ = false;
                    return;
                }
            }
            const bool more = slot->read && take_(slot->block);
            std::lock_guard lock(mutex_);
            failed_ = failed_ || !slot->read;
            stopped_ = stopped_ || !more;
            slot->ready = false;
            ++taken_;
            free_.notify_all();
        }
    }

    // The lines that begin in block `index`: the byte before it says whether one begins
    // at its first byte, and the last one runs on past its end.
    bool parse(qint64 index, LogLineParser& parser, QByteArray& copy, LogBlock& block) {
        const qint64 begin = index * blockBytes_;
        const qint64 end = std::min(size_, begin + blockBytes_);
        const qint64 from = begin > 0 ? begin - 1 : 0;
        const qint64 to = std::min(size_, end + kLongestLine);
        const Bytes bytes = fetch(from, to - from, copy);
        if (!bytes.data) return false;
        const char* data = bytes.data;
        parser.takeEvidence();  // of the block before
        block.records.clear();
        block.lines = 0;
        block.unreadable = 0;
        block.firstUnreadable = 0;
        const char* last = data + (to - from);
        const char* blockEnd = data + (end - from);
        const char* p = data + (begin - from);
        LogRecord record;
        if (begin > 0 && data[0] != '\n') {
            p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(blockEnd - p)));
            p = p ? p + 1 : blockEnd;
        }
        while (p < blockEnd) {
            const auto* nl =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(last - p)));
            const char* stop = nl ? nl : last;
            const QByteArrayView line(p, std::min<qsizetype>(stop - p, kLongestLine));
            ++block.lines;
            if (parser.parse(line, record)) {
                block.records.push_back(record);
            } else if (!line.trimmed().isEmpty()) {
                // A blank line (an editor's last line, a CR LF read twice) is no reading lost.
                if (block.unreadable++ == 0) block.firstUnreadable = block.lines;
            }
            if (!nl) break;
            p = nl + 1;
        }
        block.evidence = parser.takeEvidence();
        release(bytes);
        return true;
    }

    struct Bytes {
        const char* data = nullptr;  // none when they could not be read
        bool mapped = false;
    };

    // The file's bytes [offset, offset + length): mapped, not copied, except at the end.
    // The station appends there and may cut back a line it could not finish, and a mapped
    // page the file no longer has is a crash (SIGBUS), where a read just comes up short.
    Bytes fetch(qint64 offset, qint64 length, QByteArray& copy) {
        std::lock_guard lock(fileMutex_);
        if (offset + length < size_) {
            if (uchar* mapped = file_.map(offset, length))
                return {reinterpret_cast<const char*>(mapped), true};
        }
        copy.resize(length);
        if (!file_.seek(offset) || file_.read(copy.data(), length) != length) return {};
        return {copy.constData(), false};
    }

    void release(const Bytes& bytes) {
        if (!bytes.mapped) return;
        std::lock_guard lock(fileMutex_);
        file_.unmap(reinterpret_cast<uchar*>(const_cast<char*>(bytes.data)));
    }

    QFile& file_;
    const DateOrder order_;
    const Take& take_;
    const qint64 size_;
    const qint64 blockBytes_;
    const qint64 blocks_;
    const int threads_;
    std::mutex fileMutex_;  // a QFile's maps and reads, one thread at a time

    std::mutex mutex_;  // what follows, and the slots' ready flags
    std::condition_variable free_;
    std::vector<Slot> slots_;
    qint64 next_ = 0;   // the next block to parse
    qint64 taken_ = 0;  // the next block to take
    bool taking_ = false;
    bool failed_ = false;   // a block could not be read
    bool stopped_ = false;  // by that or by `take`
};

}  // namespace

bool readLogBlocks(QFile& file, DateOrder order, const std::function<bool(const LogBlock&)>& take,
                   qsizetype blockBytes, int threads) {
    constexpr int kMostThreads = 4;  // beyond that the one fold in order keeps them waiting
    if (threads <= 0) threads = std::min(QThread::idealThreadCount(), kMostThreads);
    return BlockReader(file, order, take, blockBytes, threads).run();
}
