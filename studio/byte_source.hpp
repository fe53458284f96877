#pragma once

#include <cstddef>
#include <span>

namespace quorvel::studio {

// Bytes read in order, a buffer at a time: a file of an archive, an
// extracted file, or a test's memory. Read returns 0 only at the end and
// throws when the bytes cannot be read.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::size_t Read(std::span<std::byte> buffer) = 0;
};

}  // namespace quorvel::studio
