#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <functional>

#include "journal.h"
#include "kill_ledger.h"
#include "mqtt_config.h"
#include "outbox.h"
#include "payloads.h"

TEST(Payloads, ReadingAndDoseAsTheirReceiversReadThem) {
    const QDateTime when(QDate(2026, 12, 7), QTime(16, 4, 5, 123), Qt::OffsetFromUTC, 3600);
    EXPECT_EQ(withSeq(7, lecturaBody(when, {72.1, 0, 72.1, 1, 1}, 1)),
              R"({"seq":7,"ts":"2026-12-07T15:04:05.123Z","bruto":72.1,"tara":0.0,)"
              R"("neto":72.1,"estado":1,"tarea":1})");
    DoseValues dose{when, when.addSecs(30), 100.0, 80.0, 98.0, {}, {}, "Incompleta", {}};
    EXPECT_EQ(dosificacionBody(dose, 2),
              R"({"inicio":"2026-12-07T15:04:05.123Z","fin":"2026-12-07T15:04:35.123Z",)"
              R"("teorico":100.00,"grueso":80.00,"fino":98.00,"final":null,)"
              R"("desviacion":null,"resultado":"Incompleta"})");
    // A text the operator typed stays one line and valid JSON.
    EXPECT_EQ(jsonObject({{"valor", jsonString("a\"b\\c\r\n")}}),
              R"({"valor":"a\"b\\c\u000d\u000a"})");
    EXPECT_EQ(seqOf(withSeq(12, "{}")), 12);
}

namespace {

QList<qint64> seqs(const QList<Outbox::Message>& messages) {
    QList<qint64> found;
    for (const Outbox::Message& m : messages) found.append(seqOf(m.payload).value_or(-1));
    return found;
}

}  // namespace

// What the publishing thread relies on: oldest first, only the acknowledged leave, each
// stream's seq goes on from the last across a reopening even with nothing left on disk,
// and past the limit the oldest go, counted.
TEST(Outbox, KeepsOrderSeqAndLimitAcrossReopening) {
    QTemporaryDir dir;
    {
        Outbox outbox(dir.path(), 3);
        outbox.open();
        for (int i = 0; i < 5; ++i) outbox.add("lectura", "{}");
        outbox.add("cambio", "{}");
        EXPECT_EQ(outbox.pending(), 3);
        EXPECT_EQ(outbox.dropped(), 3);
        const QList<Outbox::Message> first = outbox.take(2);
        EXPECT_EQ(seqs(first), (QList<qint64>{4, 5}));
        outbox.acknowledged(first[1].index);  // out of order: nothing leaves yet
        EXPECT_EQ(outbox.pending(), 3);
        outbox.acknowledged(first[0].index);
        EXPECT_EQ(outbox.pending(), 1);
    }
    {
        Outbox outbox(dir.path(), 3);
        outbox.open();
        const QList<Outbox::Message> left = outbox.take(10);
        ASSERT_EQ(left.size(), 1);
        EXPECT_EQ(left[0].stream, "cambio");
        outbox.acknowledged(left[0].index);
        EXPECT_TRUE(outbox.saveProgress());
        EXPECT_EQ(QDir(dir.path()).entryList({"*.msg"}, QDir::Files), QStringList());
    }
    Outbox outbox(dir.path(), 3);
    outbox.open();
    outbox.add("lectura", "{}");
    outbox.add("cambio", "{}");
    EXPECT_EQ(seqs(outbox.take(10)), (QList<qint64>{6, 2}));
    EXPECT_EQ(outbox.dropped(), 3);
}

namespace {

// Opens the outbox of `dir` in a child process, lets `work` use it and kills the child
// (SIGKILL), as a station can be killed: no close, no destructor.
void killedAfter(const QString& dir, const std::function<void(Outbox&)>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        Outbox outbox(dir, 100);
        outbox.open();
        work(outbox);
        ::raise(SIGKILL);
    }
    ::waitpid(child, nullptr, 0);
}

}  // namespace

// A reading announced and then lost to a kill before it was kept: the next start counts it
// as given up and skips its seq, once, however often the station is killed again before
// it saves its state, or after a clean close.
TEST(Outbox, AReadingLostToAKillIsCountedAndItsSeqSkippedOnce) {
    QTemporaryDir dir;
    killedAfter(dir.path(), [](Outbox& outbox) {
        outbox.add("lectura", "{}");
        outbox.add("lectura", "{}");
        outbox.expect("lectura");
    });
    killedAfter(dir.path(), [](Outbox&) {});
    Outbox outbox(dir.path(), 100);
    outbox.open();
    EXPECT_EQ(outbox.dropped(), 1);
    outbox.add("lectura", "{}");
    EXPECT_EQ(seqs(outbox.take(10)), (QList<qint64>{1, 2, 4}));
    outbox.close();
    killedAfter(dir.path(), [](Outbox&) {});
    Outbox again(dir.path(), 100);
    again.open();
    again.add("lectura", "{}");
    EXPECT_EQ(again.dropped(), 1);
    EXPECT_EQ(seqs(again.take(10)), (QList<qint64>{1, 2, 4, 5}));
}

// What the station keeps outside its folder is named by the folder's digest, the one
// earlier versions used: held lines and a ledger a kill left are found after an update,
// however the folder is written.
TEST(FolderDigest, NamesTheHeldLinesAndTheLedgerAsBeforeAndTheBrokerClient) {
    // printf '%s' '/srv/vormelq/línea 1' | sha256sum
    const QString digest = QStringLiteral("e4b8a0c52451330b");
    for (const char* written :
         {"/srv/vormelq/línea 1", "/srv/vormelq/línea 1/", "/srv//vormelq/x/../línea 1"}) {
        SCOPED_TRACE(written);
        EXPECT_EQ(folderDigest(QString::fromUtf8(written)), digest);
        EXPECT_EQ(QFileInfo(heldDirectory(QString::fromUtf8(written))).fileName(),
                  QStringLiteral("línea 1-") + digest);
    }
    EXPECT_EQ(folderDigest(QStringLiteral("MQTT.pendiente")),
              folderDigest(QDir::current().filePath(QStringLiteral("MQTT.pendiente"))));

    QTemporaryDir dir;
    const QString outbox = QDir(dir.path()).filePath(QStringLiteral("MQTT.pendiente"));
    const QString ledger =
        QStringLiteral("/dev/shm/vormelq.%1.%2").arg(::getuid()).arg(folderDigest(outbox));
    KillLedger written(outbox);
    written.write("perdidos 1");
    EXPECT_TRUE(QFile::exists(ledger));
    EXPECT_EQ(KillLedger(outbox).left(), "perdidos 1");
    written.clear();
    EXPECT_FALSE(QFile::exists(ledger));
    EXPECT_TRUE(stationClientId(outbox).endsWith(u':' + folderDigest(outbox)));
}
