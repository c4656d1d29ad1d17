// The channel to the web depictions' process: messages come whole and in
// order however the bytes are cut on the way, and a length no message can
// have shuts the channel instead of making it wait for (or allocate) it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QBuffer>
#include <QLocalSocket>
#include <QtEndian>

#include "Details/WebDepictionChannel.h"
#include "Support/Gui/GuiTestSupport.h"

namespace {

struct Pair {
    QLocalSocket reader, writer;
    Pair() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        reader.setSocketDescriptor(fds[0]);
        writer.setSocketDescriptor(fds[1]);
    }
};

TEST(WebDepictionChannel, MessagesArriveWholeHoweverTheBytesAreCut) {
    // What one side sends, as bytes.
    QBuffer nothing, out;
    nothing.open(QIODevice::ReadOnly);
    out.open(QIODevice::WriteOnly);
    WebDepictionChannel sender(&nothing, &out);
    sender.send(WebDepictionChannel::Type::TitleChanged, QStringLiteral("Ünïcode title"));
    sender.send(WebDepictionChannel::Type::Geometry, 420, 900, 1234);
    sender.send(WebDepictionChannel::Type::Frame, 7, 2, 2, qreal(2), QByteArray(16, '\x5a'));
    const QByteArray bytes = out.data();
    for (int chunk : {1, 3, 17, static_cast<int>(bytes.size())}) {
        Pair pair;
        WebDepictionChannel channel(&pair.reader, &pair.reader);
        std::vector<std::pair<WebDepictionChannel::Type, QByteArray>> got;
        QObject::connect(&channel, &WebDepictionChannel::received,
                         [&](WebDepictionChannel::Type t, const QByteArray& p) { got.emplace_back(t, p); });
        for (qsizetype at = 0; at < bytes.size(); at += chunk) {
            pair.writer.write(bytes.mid(at, chunk));
            pair.writer.flush();
            GuiTest::pump(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(GuiTest::waitUntil([&] { return got.size() == 3; })) << "chunks of " << chunk << ": " << got.size();
        QString title;
        int width = 0, height = 0, top = 0, frameTop = 0, fw = 0, fh = 0;
        qreal ratio = 0;
        QByteArray pixels;
        EXPECT_EQ(got[0].first, WebDepictionChannel::Type::TitleChanged);
        EXPECT_TRUE(WebDepictionChannel::read(got[0].second, title));
        EXPECT_EQ(title, QStringLiteral("Ünïcode title"));
        EXPECT_TRUE(WebDepictionChannel::read(got[1].second, width, height, top));
        EXPECT_EQ(std::tie(width, height, top), std::make_tuple(420, 900, 1234)) << chunk;
        EXPECT_TRUE(WebDepictionChannel::read(got[2].second, frameTop, fw, fh, ratio, pixels));
        EXPECT_EQ(pixels, QByteArray(16, '\x5a')) << chunk;
        EXPECT_FALSE(channel.isBroken());
    }
    // A payload cut short does not read as a message.
    int a = 0, b = 0, c = 0, d = 0;
    EXPECT_FALSE(WebDepictionChannel::read(QByteArray("\0\0\0\1", 4), a, b, c, d));
}

TEST(WebDepictionChannel, ALengthNoMessageCanHaveShutsTheChannel) {
    for (quint32 length : {0u, WebDepictionChannel::kLongestMessage + 1, 0xffffffffu}) {
        Pair pair;
        WebDepictionChannel channel(&pair.reader, &pair.reader);
        int received = 0, failed = 0;
        QObject::connect(&channel, &WebDepictionChannel::received, [&] { ++received; });
        QObject::connect(&channel, &WebDepictionChannel::failed, [&] { ++failed; });
        char head[5];
        qToBigEndian(length, head);
        head[4] = static_cast<char>(WebDepictionChannel::Type::TitleChanged);
        pair.writer.write(head, sizeof head);
        pair.writer.write(QByteArray(64, 'x'));
        pair.writer.flush();
        EXPECT_TRUE(GuiTest::waitUntil([&] { return failed == 1; })) << length;
        EXPECT_EQ(received, 0) << length;
        EXPECT_TRUE(channel.isBroken()) << length;
    }
}

}  // namespace
