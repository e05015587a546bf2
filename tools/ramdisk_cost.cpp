#include "tools/ramdisk_cost.h"

#include <lz4hc.h>
#include <zlib.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "check/media_check.h"
#include "player/assets.h"

namespace {

// lz4's legacy format, which the kernel reads: a 4-byte magic number, then blocks of at most
// 8 MiB of input, each compressed on its own and led by its 4-byte compressed size. The lz4
// tool compresses legacy blocks with LZ4_compress_HC at the level asked for (--favor-decSpeed
// applies to its frame format only).
constexpr size_t kLz4LegacyBlock = 8 << 20;
constexpr int kLz4Level = 12;
constexpr uint64_t kLz4MagicBytes = 4;
constexpr uint64_t kLz4BlockSizeBytes = 4;

struct compressors {
    z_stream gzip{};
    std::vector<unsigned char> gzip_out = std::vector<unsigned char>(1 << 16);
    std::vector<char> lz4_block;  // input not compressed yet, less than one block
    std::vector<char> lz4_out = std::vector<char>(LZ4_compressBound(kLz4LegacyBlock));
};

// Runs deflate over what is in `z->next_in` (all of it, or to the end with Z_FINISH), counting
// the bytes it writes.
bool gzip_feed(compressors* c, int flush, ramdisk_cost* cost) {
    int status = Z_OK;
    do {
        c->gzip.next_out = c->gzip_out.data();
        c->gzip.avail_out = static_cast<uInt>(c->gzip_out.size());
        status = deflate(&c->gzip, flush);
        if (status == Z_STREAM_ERROR) {
            return false;
        }
        cost->gzip += c->gzip_out.size() - c->gzip.avail_out;
    } while (c->gzip.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    return true;
}

bool lz4_flush_block(compressors* c, ramdisk_cost* cost) {
    if (c->lz4_block.empty()) {
        return true;
    }
    int size = LZ4_compress_HC(c->lz4_block.data(), c->lz4_out.data(),
                               static_cast<int>(c->lz4_block.size()),
                               static_cast<int>(c->lz4_out.size()), kLz4Level);
    if (size <= 0) {
        return false;
    }
    cost->lz4 += kLz4BlockSizeBytes + uint64_t(size);
    c->lz4_block.clear();
    return true;
}

bool feed(compressors* c, const char* data, size_t size, ramdisk_cost* cost) {
    cost->bytes += size;
    c->gzip.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    c->gzip.avail_in = static_cast<uInt>(size);
    if (!gzip_feed(c, Z_NO_FLUSH, cost)) {
        return false;
    }
    while (size > 0) {
        size_t room = kLz4LegacyBlock - c->lz4_block.size();
        size_t take = size < room ? size : room;
        c->lz4_block.insert(c->lz4_block.end(), data, data + take);
        data += take;
        size -= take;
        if (c->lz4_block.size() == kLz4LegacyBlock && !lz4_flush_block(c, cost)) {
            return false;
        }
    }
    return true;
}

bool feed_file(compressors* c, const std::string& path, ramdisk_cost* cost) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::vector<char> chunk(1 << 16);
    bool fed = true;
    size_t got = 0;
    while (fed && (got = fread(chunk.data(), 1, chunk.size(), file)) > 0) {
        fed = feed(c, chunk.data(), got, cost);
    }
    fed = fed && ferror(file) == 0;
    int saved = errno;
    fclose(file);
    errno = saved;
    return fed;
}

}  // namespace

bool measure_ramdisk_cost(const std::string& dir, ramdisk_cost* cost) {
    *cost = ramdisk_cost{};
    compressors c;
    c.lz4_block.reserve(kLz4LegacyBlock);
    // 15 + 16: a deflate window of 32 KiB inside gzip's own header and trailer.
    if (deflateInit2(&c.gzip, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        errno = ENOMEM;
        return false;
    }
    bool measured = true;
    for (int i = 0; measured && i < kAssetCount; ++i) {
        std::string path = folder_path(dir, asset_file_name(i));
        std::string kind;
        if (entry_at(path, &kind) != entry_kind::regular) {
            continue;
        }
        ++cost->pictures;
        measured = feed_file(&c, path, cost);
    }
    c.gzip.next_in = nullptr;
    c.gzip.avail_in = 0;
    measured = measured && gzip_feed(&c, Z_FINISH, cost) && lz4_flush_block(&c, cost);
    deflateEnd(&c.gzip);
    cost->lz4 += kLz4MagicBytes;
    return measured;
}

void print_ramdisk_cost(const std::string& dir) {
    ramdisk_cost cost;
    if (!measure_ramdisk_cost(dir, &cost)) {
        printf("ramdisk: the pictures cannot be measured: %s\n", strerror(errno));
        return;
    }
    if (cost.pictures == 0) {
        return;
    }
    printf("ramdisk: the %d pictures add %" PRIu64
           " bytes to the recovery image's ramdisk; compressed as the image build compresses "
           "it, about %" PRIu64 " with gzip -6 (its default) or %" PRIu64
           " with lz4 -l -12 (BOARD_RAMDISK_USE_LZ4)\n",
           cost.pictures, cost.bytes, cost.gzip, cost.lz4);
}
