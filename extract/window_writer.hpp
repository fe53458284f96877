#pragma once

#include <cstdint>
#include <span>

#include "extract/archive_reader.hpp"
#include "extract/file_system.hpp"

namespace quorvel {

// Writes bytes taken from an archive into output files: the writing half of
// the archive's window, so that the reader only reads and bytes flow one
// way, from the archive through the carver to the files.
//
// A window's run of bytes for one output is held back and written in one
// write when the window moves, another output is written or Finish is
// called: a sound cut into many routed pieces still costs one write per
// window. Bytes written from a view are looked at first, so that bytes the
// file lost under the view are reported as an archive that ended early
// rather than written as zeros.
class WindowWriter final : private ArchiveReader::WindowListener {
public:
    // `archive`: where the bytes come from, or nullptr when they come from
    // elsewhere and are written at once.
    explicit WindowWriter(ArchiveReader* archive);
    ~WindowWriter() override;
    WindowWriter(const WindowWriter&) = delete;
    WindowWriter& operator=(const WindowWriter&) = delete;

    void Write(OutputFile& output, std::span<const std::byte> bytes);
    // Moves `length` bytes of the archive (which must remain), from its
    // position on, into `output`: passed over unread if the output keeps
    // nothing, copied by the platform where the archive is read rather than
    // viewed and the platform can, written from the window otherwise.
    void Copy(OutputFile& output, std::uint64_t length);
    // Writes what is held back, then checks that the archive lost no bytes
    // under a view. Called before an output is closed, so that no file made
    // from lost bytes is kept.
    void Finish();
    // Forgets what is held back for `output`, which is being thrown away.
    void Drop(const OutputFile& output);

private:
    void WindowMoving() override { WriteHeldBack(); }
    void WriteHeldBack();
    void WriteNow(OutputFile& output, std::span<const std::byte> bytes);

    ArchiveReader* archive_;
    OutputFile* held_output_ = nullptr;
    std::span<const std::byte> held_;
};

}  // namespace quorvel
