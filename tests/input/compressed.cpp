#include "tests/input/compressed.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <stdexcept>

namespace {

std::string gzipOf(std::string_view data) {
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

std::string zstdOf(std::string_view data) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    std::string out(ZSTD_compressBound(data.size()), '\0');
    std::size_t size = ZSTD_compress2(context, out.data(), out.size(), data.data(), data.size());
    ZSTD_freeCCtx(context);
    if (ZSTD_isError(size)) throw std::runtime_error(ZSTD_getErrorName(size));
    out.resize(size);
    return out;
}

std::string xzOf(std::string_view data) {
    std::string out(lzma_stream_buffer_bound(data.size()), '\0');
    std::size_t size = 0;
    if (lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr,
                                reinterpret_cast<const std::uint8_t*>(data.data()), data.size(),
                                reinterpret_cast<std::uint8_t*>(out.data()), &size, out.size()) != LZMA_OK)
        throw std::runtime_error("lzma_easy_buffer_encode");
    out.resize(size);
    return out;
}

std::string bzip2Of(std::string_view data) {
    std::string out(data.size() + data.size() / 100 + 600, '\0');
    auto size = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()),
                                 static_cast<unsigned>(data.size()), 9, 0, 0) != BZ_OK)
        throw std::runtime_error("BZ2_bzBuffToBuffCompress");
    out.resize(size);
    return out;
}

}  // namespace

std::string compressed(Compression compression, std::string_view data) {
    switch (compression) {
        case Compression::Gzip:
            return gzipOf(data);
        case Compression::Zstd:
            return zstdOf(data);
        case Compression::Xz:
            return xzOf(data);
        case Compression::Bzip2:
            return bzip2Of(data);
        case Compression::None:
            break;
    }
    return std::string(data);
}

std::string zstdSkippableFrame(std::string_view content) {
    std::string frame = "\x5A\x2A\x4D\x18";
    for (int shift = 0; shift < 32; shift += 8) frame += static_cast<char>(content.size() >> shift & 0xFF);
    return frame + std::string(content);
}

std::string zstdFrameWithWindow(int windowLog, std::string_view data) {
    // Magic, a descriptor for no content size, checksum or dictionary, the
    // window's exponent above 2^10, and the last block, stored.
    std::string frame = "\x28\xB5\x2F\xFD";
    frame += '\0';
    frame += static_cast<char>((windowLog - 10) << 3);
    std::uint32_t block = static_cast<std::uint32_t>(data.size()) << 3 | 1;
    for (int shift = 0; shift < 24; shift += 8) frame += static_cast<char>(block >> shift & 0xFF);
    return frame + std::string(data);
}
