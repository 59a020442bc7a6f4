// Arbitrary stored bytes read whole through StoredInput: a corrupt or
// truncated input may only be refused with an IoError, never crash, read
// out of bounds or hang. The first byte picks the read size; the rest is
// the file, held in memory (a memfd opened by its /proc path). Plain bytes
// must come back unchanged, and every read fills its buffer unless the
// data has ended.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "input/stored_input.h"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

// Output beyond this is not read: a few bytes of zstd or bzip2 can stand
// for gigabytes.
constexpr std::int64_t MostData = std::int64_t{32} << 20;
constexpr std::int64_t DecoderMemory = std::int64_t{64} << 20;

int memoryFile() {
    static const int descriptor = memfd_create("stored_input_fuzz", MFD_CLOEXEC);
    require(descriptor >= 0);
    return descriptor;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 1) return 0;
    static constexpr std::size_t readSizes[] = {1, 7, 4095, 65536, 1 << 17};
    std::size_t readSize = readSizes[bytes[0] % 5];
    std::string_view stored(reinterpret_cast<const char*>(bytes) + 1, size - 1);

    int descriptor = memoryFile();
    require(ftruncate(descriptor, 0) == 0);
    require(pwrite(descriptor, stored.data(), stored.size(), 0) == static_cast<ssize_t>(stored.size()));

    // The buffer ends where its allocation ends, so AddressSanitizer sees
    // a write past it.
    std::unique_ptr<char[]> buffer(new char[readSize]);
    std::string plain;
    try {
        StoredInput input("/proc/self/fd/" + std::to_string(descriptor), DecoderMemory);
        require(input.compression() == compressionOf(stored.substr(0, MagicBytes)));
        std::int64_t total = 0;
        while (total < MostData) {
            std::size_t got = input.read(buffer.get(), readSize);
            require(got <= readSize);
            total += static_cast<std::int64_t>(got);
            if (input.compression() == Compression::None) plain.append(buffer.get(), got);
            if (got < readSize) {
                require(input.read(buffer.get(), readSize) == 0);
                require(input.storedBytesRead() == static_cast<std::int64_t>(stored.size()));
                if (input.compression() == Compression::None) require(plain == stored);
                break;
            }
        }
    } catch (const IoError&) {
        // refused: a corrupt or truncated input, or one beyond the memory
        require(!stored.empty());
    }
    return 0;
}
