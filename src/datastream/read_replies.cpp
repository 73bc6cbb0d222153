// Read Buffer and Read Modified: the print buffer sent back to the host.
#include <vector>

#include "datastream/host_link.h"
#include "datastream/stream_impl.h"

namespace datastream {

namespace {
// The whole buffer goes back, whatever its size: a read is answered, never refused.
struct Reply {
    std::vector<uint8_t> buf;
    void put(uint8_t b) { buf.push_back(b); }
    void addr(int a) {
        put(AddressCode(a >> 6));
        put(AddressCode(a));
    }
    int16_t send(HostLink& host) { return static_cast<int16_t>(host.SendRecord(buf)); }
};
} // namespace

int16_t DataStream::Impl::ReadBufferReply() {
    const PrintBuffer& pb = buffer;
    Reply r;
    r.put(pb.aid);
    r.addr(pb.cursorAddress);
    for (int i = 0; i < pb.size; ++i) {
        const Cell& c = pb.cells[i];
        if (c.flags & 0x01) {
            uint8_t hl = c.ext >> 6, col = (c.ext >> 3) & 7;
            if (pb.replyMode == 1) {
                r.put(0x29);
                r.put(static_cast<uint8_t>(1 + (hl != 0) + (col != 0)));
                r.put(0xC0);
                r.put(AddressCode(c.ch));
                if (hl) {
                    r.put(0x41);
                    r.put(hl);
                }
                if (col) {
                    r.put(0x42);
                    r.put(col);
                }
            } else {
                r.put(0x1D);
                r.put(AddressCode(c.ch));
            }
        } else {
            r.put(c.ch);
        }
    }
    return r.send(host);
}

int16_t DataStream::Impl::ReadModifiedReply(uint8_t which) {
    const PrintBuffer& pb = buffer;
    Reply r;
    auto shortRead = [&] {
        r.put(0x01);
        r.put(0x6C);
        r.put(0x61);
        r.put(0x02);
    };
    int first = -1;
    for (int i = 0; i < pb.size; ++i)
        if (pb.cells[i].flags & 0x01) {
            first = i;
            break;
        }
    if (first < 0 && state.owner == OWNER_SYSOP) {
        if (pb.aid == 0xF0)
            shortRead();
        else
            for (int i = pb.currentAddress, k = 0; i < pb.size && k < 256; ++i, ++k)
                if (pb.cells[i].ch) r.put(pb.cells[i].ch);
        return r.send(host);
    }
    if (pb.aid == 0xF0) {
        shortRead();
    } else {
        r.put(pb.aid);
        if (which == 0xF6 && pb.aid >= 0x6A && pb.aid <= 0x6E) return r.send(host);
        r.addr(pb.cursorAddress);
    }
    bool noData = pb.aid == 0x7E;
    if (first >= 0) {
        for (int k = 0; k < pb.size; ++k) {
            int i = (first + k) % pb.size;
            const Cell& c = pb.cells[i];
            if (!(c.flags & 0x01) || !(c.ch & 0x01)) continue;
            r.put(0x11);
            r.addr((i + 1) % pb.size);
            if (noData) continue;
            for (int j = (i + 1) % pb.size; !(pb.cells[j].flags & 0x01) && j != i;
                 j = (j + 1) % pb.size)
                if (pb.cells[j].ch) r.put(pb.cells[j].ch);
        }
    } else {
        for (int i = 0; i < pb.size; ++i)
            if (pb.cells[i].ch) r.put(pb.cells[i].ch);
    }
    return r.send(host);
}

} // namespace datastream
