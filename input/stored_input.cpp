#include "input/stored_input.h"

#include "common/io_error.h"

namespace {

std::unique_ptr<Decoder> decoderFor(Compression compression, StoredBytes& stored,
                                    std::int64_t decoderMemory) {
    switch (compression) {
        case Compression::Gzip:
            return gzipDecoder(stored);
        case Compression::Zstd:
            return zstdDecoder(stored, decoderMemory);
        case Compression::Xz:
            return xzDecoder(stored, decoderMemory);
        case Compression::Bzip2:
            return bzip2Decoder(stored);
        case Compression::None:
            break;
    }
    return plainDecoder(stored);
}

}  // namespace

StoredInput::StoredInput(const std::string& path, std::int64_t decoderMemory) : path_(path), stored_(path) {
    // The first bytes stay in the buffer: they are the start of the data
    // (a stream cannot be read twice).
    stored_.fill(MagicBytes);
    compression_ = compressionOf(stored_.view());
    std::optional<Compression> named = path == "-" ? std::nullopt : compressionNamedBy(path);
    if (named && *named != compression_)
        throw IoError(stored_.name(),
                      std::string("its name says ") + compressionName(*named) + ", but its bytes are " +
                          (compression_ == Compression::None ? std::string("not ") + compressionName(*named)
                                                             : std::string(compressionName(compression_))));
    decoder_ = decoderFor(compression_, stored_, decoderMemory);
}

StoredInput::~StoredInput() = default;
