// Images for the FPGA's programming engine (see fpgaimg.h).
#include "tools/lib/fpgaimg.h"

#include <cstdio>

namespace fpgaimg {

namespace {

// Configuration port commands of the FPGA.
constexpr uint8_t kReadId = 0x98, kErase = 0x0E, kStatus = 0x3C, kProgram = 0x70, kReadBack = 0x73,
                  kDone = 0x5E;

void command(Bytes &a, uint8_t op) {
    a.insert(a.end(), {0x12, 32, 0x22, op, 0, 0, 0});
}
// A transaction: the command alone.
void send(Bytes &a, uint8_t op) {
    a.push_back(0x10);
    command(a, op);
    a.push_back(0x1F);
}
// A transaction: the command, then four bytes read and compared under a mask.
void expect(Bytes &a, uint8_t op, uint32_t mask, uint32_t want, bool masked = true) {
    a.push_back(0x10);
    command(a, op);
    a.insert(a.end(), {0x13, 32});
    if (masked) {
        a.push_back(0x21);
        for (int i = 3; i >= 0; --i)
            a.push_back(uint8_t(mask >> (8 * i)));
    }
    a.push_back(0x22);
    for (int i = 3; i >= 0; --i)
        a.push_back(uint8_t(want >> (8 * i)));
    a.push_back(0x1F);
}
// A transaction: the command, then the data image's bits sent or compared.
void data(Bytes &a, uint8_t op, bool send_it) {
    a.push_back(0x10);
    command(a, op);
    a.push_back(send_it ? 0x12 : 0x13);
    put_number(a, 8 * (kStreamBytes + 1)); // the stream behind one byte of 1 bits
    a.insert(a.end(), {0x25, 0x1F});
}

} // namespace

void put_number(Bytes &out, uint32_t n) {
    do {
        uint8_t b = n & 0x7F;
        n >>= 7;
        out.push_back(uint8_t(b | (n ? 0x80 : 0)));
    } while (n);
}

uint16_t stream_crc(const uint8_t *p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc = uint16_t(crc ^ (p[i] << 8));
        for (int b = 0; b < 8; ++b)
            crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

Bytes algorithm(uint8_t compression, bool checksum) {
    Bytes a;
    const char *note = "Slave SPI Erase,Program,Verify,Refresh for the board FPGA model";
    a.push_back(0xA0);
    for (const char *c = note; *c; ++c)
        a.push_back(uint8_t(*c));
    a.push_back(0xA1);
    a.insert(a.end(), {0xA2, 0x10, 0x29, 0x38, 0x47, 0xA3, 1, 0, 0, 0xA4, 50, 0xA5, 3, 0xA6, 32,
                       0xA7, 1, 0xA9, compression});
    uint16_t sum = 0;
    for (uint8_t b : a)
        sum = uint16_t(sum + b);
    a.push_back(0xA8);
    a.push_back(checksum ? uint8_t(sum >> 8) : 0xFF);
    a.push_back(checksum ? uint8_t(sum) : 0xFF);
    a.push_back(0x60);

    // Identification (the bytes as the FPGA sends them, least significant first).
    expect(a, kReadId, 0, 0xC2099480, false);
    // Erase, then poll until the FPGA reports erased and not busy.
    send(a, kErase);
    a.push_back(0x40);
    put_number(a, 5);
    a.push_back(0x43);
    put_number(a, 10);
    expect(a, kStatus, 0x06, 0x04);
    a.push_back(0x40);
    put_number(a, 1);
    a.push_back(0x44);
    // Program, then verify from the start of the data image.
    data(a, kProgram, true);
    a.push_back(0x26);
    data(a, kReadBack, false);
    // Done: configured, no stream error.
    send(a, kDone);
    expect(a, kStatus, 0x09, 0x01);
    // Three clocks to start the device.
    a.push_back(0x41);
    put_number(a, 3);
    a.push_back(0x14);
    a.push_back(0x42);
    a.push_back(0x61);
    return a;
}

Bytes stream(const Bytes &body) {
    Bytes s{0xBD, 0xB3};
    s.insert(s.end(), body.begin(), body.end());
    uint16_t crc = stream_crc(body.data(), body.size());
    s.push_back(uint8_t(crc >> 8));
    s.push_back(uint8_t(crc));
    return s;
}

Bytes data_image(const Bytes &s, uint8_t compression, int frame_type) {
    Bytes raw = s;
    raw.push_back(0xFF); // the byte the shifted transfer reads last
    Bytes d{compression};
    if (!compression) {
        d.insert(d.end(), raw.begin(), raw.end());
        return d;
    }
    d.push_back(uint8_t(frame_type));
    if (frame_type == 0) {
        d.insert(d.end(), raw.begin(), raw.end());
        return d;
    }
    uint8_t run = frame_type == 1 ? 0xFF : 0x00;
    for (size_t i = 0; i < raw.size();) {
        if (raw[i] != run) {
            d.push_back(raw[i++]);
            continue;
        }
        size_t j = i;
        while (j < raw.size() && raw[j] == run)
            ++j;
        d.push_back(run);
        put_number(d, uint32_t(j - i));
        i = j;
    }
    return d;
}

Bytes image_file(const Bytes &data, int version) {
    char third[64];
    std::snprintf(third, sizeof third, "Version %03d", version % 1000);
    std::string h = "FPGA configuration image\r\nDevice: board FPGA\r\n";
    h += third;
    h += "\r\nBuilt by fpgaimg\r\nStream bytes: " + std::to_string(kStreamBytes) +
         "\r\n\r\nDATA\r\n";
    Bytes f(h.begin(), h.end());
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

} // namespace fpgaimg
