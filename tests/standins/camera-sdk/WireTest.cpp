// The protocol's byte reader, message header and socket waits facing input
// that lies about its lengths, and descriptors that are gone.

#include "Net.h"
#include "Protocol.h"
#include "Wire.h"
#include "TestPatience.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

TEST(Wire, ReadsPastTheEndYieldZeroAndFail)
{
    // A string that claims 300 bytes where 3 follow.
    const std::vector<uint8_t> bytes = { 0x2c, 0x01, 'a', 'b', 'c' };
    kvwire::ByteReader r(bytes);
    EXPECT_EQ(r.str(), "");
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.u32(), 0u);
    EXPECT_TRUE(r.rest().empty());
    EXPECT_EQ(r.remaining(), 0u);

    kvwire::ByteWriter w;
    w.str("name");
    w.i64(-2);
    kvwire::ByteReader back(w.data());
    EXPECT_EQ(back.str(), "name");
    EXPECT_EQ(back.i64(), -2);
    EXPECT_TRUE(back.ok());
    EXPECT_EQ(back.remaining(), 0u);
}

TEST(Wire, HeadersThatAreNotOursOrTooLongAreRefused)
{
    uint16_t type = 0;
    uint32_t length = 0;
    uint32_t seq = 0;
    std::vector<uint8_t> h = kvproto::encodeHeader(kvproto::PreviewFrame, kvproto::MaxPayload, 7);
    EXPECT_TRUE(kvproto::decodeHeader(h.data(), type, length, seq));
    EXPECT_EQ(length, kvproto::MaxPayload);
    h = kvproto::encodeHeader(kvproto::PreviewFrame, kvproto::MaxPayload + 1, 7);
    EXPECT_FALSE(kvproto::decodeHeader(h.data(), type, length, seq));
    h = kvproto::encodeHeader(kvproto::PreviewFrame, 0xffffffffu, 7);
    EXPECT_FALSE(kvproto::decodeHeader(h.data(), type, length, seq));
    h[0] ^= 1;
    EXPECT_FALSE(kvproto::decodeHeader(h.data(), type, length, seq));
}

TEST(Net, WaitsEndOnAClosedDescriptorAndOnCancel)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    ::close(fds[1]);
    kvnet::Socket peerGone(fds[0]);
    uint8_t b = 0;
    EXPECT_EQ(peerGone.recvAll(&b, 1, 5000), kvnet::IoResult::Closed);

    // A descriptor number that no longer names anything must not make the
    // wait spin: it fails at once.
    const int stale = peerGone.release();
    ::close(stale);
    kvnet::Socket gone(stale);
    const int64_t start = kvnet::monotonicMs();
    // The wait itself would last three times the bound.
    EXPECT_EQ(gone.waitReadable(patient(6000)), kvnet::IoResult::Error);
    EXPECT_LT(kvnet::monotonicMs() - start, patient(2000));
    gone.release();

    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    kvnet::Socket quiet(fds[0]);
    kvnet::Socket other(fds[1]);
    kvnet::CancelPipe cancel;
    cancel.cancel();
    EXPECT_EQ(quiet.waitReadable(5000, &cancel), kvnet::IoResult::Cancelled);
    EXPECT_EQ(quiet.waitReadable(0), kvnet::IoResult::Timeout);
}
