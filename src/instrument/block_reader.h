#pragma once

// A record file read in large blocks on several threads at once, its lines handed on in
// the file's order: Peso.csv for the log's picture, Dosificaciones.csv for the report.

#include <QByteArrayView>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "log_reader.h"

// What a reader does with the lines of one block, one parser a thread:
//   using Block = ...;             what a block's lines become, reused block after block
//   void begin(Block&);            before its first line
//   void line(QByteArrayView, Block&);  each line, without its '\n', cut to kLongestLogLine
//   void end(Block&);              after its last
template <class Parser>
class BlockReader {
public:
    using Block = typename Parser::Block;
    using Take = std::function<bool(const Block&)>;
    using MakeParser = std::function<Parser()>;

    // A few blocks in turn: each is parsed by whichever thread is free, and taken in the
    // file's order by whichever thread finds the next one ready, so `take` sees the lines
    // as they are written while every core parses. A block waits for its slot until the
    // one that held it before was taken, which bounds the memory.
    BlockReader(QFile& file, const MakeParser& makeParser, const Take& take, qsizetype blockBytes,
                int threads)
        : file_(file),
          makeParser_(makeParser),
          take_(take),
          size_(file.size()),
          blockBytes_(std::max<qsizetype>(1, blockBytes)),
          blocks_((size_ + blockBytes_ - 1) / blockBytes_),
          threads_(static_cast<int>(std::clamp<qint64>(threads, 1, std::max<qint64>(1, blocks_)))),
          slots_(static_cast<size_t>(2 * threads_)) {}

    // False when part of the file could not be read.
    bool run() {
        std::vector<std::thread> helpers;
        for (int i = 1; i < threads_; ++i) helpers.emplace_back([this] { work(); });
        work();
        for (std::thread& helper : helpers) helper.join();
        return !failed_;
    }

private:
    struct Slot {
        Block block;
        bool ready = false;
        bool read = false;  // false when the block could not be read
    };

    Slot& slotOf(qint64 index) { return slots_[static_cast<size_t>(index % std::ssize(slots_))]; }

    void work() {
        Parser parser = makeParser_();
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
    bool parse(qint64 index, Parser& parser, QByteArray& copy, Block& block) {
        const qint64 begin = index * blockBytes_;
        const qint64 end = std::min(size_, begin + blockBytes_);
        const qint64 from = begin > 0 ? begin - 1 : 0;
        const qint64 to = std::min(size_, end + kLongestLogLine);
        const Bytes bytes = fetch(from, to - from, copy);
        if (!bytes.data) return false;
        const char* data = bytes.data;
        const char* last = data + (to - from);
        const char* blockEnd = data + (end - from);
        const char* p = data + (begin - from);
        if (begin > 0 && data[0] != '\n') {
            p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(blockEnd - p)));
            p = p ? p + 1 : blockEnd;
        }
        parser.begin(block);
        while (p < blockEnd) {
            const auto* nl =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(last - p)));
            const char* stop = nl ? nl : last;
            parser.line(QByteArrayView(p, std::min<qsizetype>(stop - p, kLongestLogLine)), block);
            if (!nl) break;
            p = nl + 1;
        }
        parser.end(block);
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
    const MakeParser& makeParser_;
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

// The threads a record is read on: one a core, up to a few (beyond that the one fold in
// order keeps them waiting); `threads` when it asks for some.
inline int readerThreads(int threads) {
    constexpr int kMostThreads = 4;
    return threads > 0 ? threads : std::min(QThread::idealThreadCount(), kMostThreads);
}

// Reads the whole of `file` (open, not sequential) with one Parser from `makeParser` a
// thread, handing each block to `take` in the file's order until it returns false. `take`
// runs on any of those threads, never on two at once. False when part of the file could
// not be read.
template <class Parser>
bool readBlocks(QFile& file, const std::function<Parser()>& makeParser,
                const std::function<bool(const typename Parser::Block&)>& take,
                qsizetype blockBytes = kLogBlockBytes, int threads = 0) {
    return BlockReader<Parser>(file, makeParser, take, blockBytes, readerThreads(threads)).run();
}
