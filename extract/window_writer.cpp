#include "extract/window_writer.hpp"

#include <utility>

namespace quorvel {

WindowWriter::WindowWriter(ArchiveReader* archive) : archive_(archive)
{
    if (archive_ != nullptr) {
        archive_->Listen(this);
    }
}

WindowWriter::~WindowWriter()
{
    if (archive_ != nullptr) {
        archive_->Listen(nullptr);
    }
}

void WindowWriter::Write(OutputFile& output, std::span<const std::byte> bytes)
{
    if (bytes.empty()) {
        return;
    }
    if (held_output_ == &output && held_.data() + held_.size() == bytes.data()) {
        held_ = {held_.data(), held_.size() + bytes.size()};
        return;
    }
    WriteHeldBack();
    if (archive_ != nullptr && archive_->InWindow(bytes)) {
        held_output_ = &output;
        held_ = bytes;
    } else {
        WriteNow(output, bytes);
    }
}

void WindowWriter::Copy(OutputFile& output, std::uint64_t length)
{
    while (length != 0) {
        if (archive_->Available().empty()) {
            if (!output.KeepsBytes()) {
                archive_->Skip(length);
                return;
            }
            if (InputFile* direct = archive_->DirectSource()) {
                WriteHeldBack();
                const std::uint64_t moved = output.CopyFrom(*direct, archive_->Position(), length);
                archive_->MovedOn(moved);
                length -= moved;
                if (length == 0) {
                    return;
                }
            }
        }
        const auto bytes = archive_->Next(length);
        Write(output, bytes);
        archive_->Consume(bytes.size());
        length -= bytes.size();
    }
}

void WindowWriter::Finish()
{
    WriteHeldBack();
    if (archive_ != nullptr) {
        archive_->RequireIntact();
    }
}

void WindowWriter::Drop(const OutputFile& output)
{
    if (held_output_ == &output) {
        held_output_ = nullptr;
        held_ = {};
    }
}

void WindowWriter::WriteHeldBack()
{
    if (held_output_ != nullptr) {
        OutputFile& output = *std::exchange(held_output_, nullptr);
        WriteNow(output, std::exchange(held_, {}));
    }
}

void WindowWriter::WriteNow(OutputFile& output, std::span<const std::byte> bytes)
{
    if (archive_ == nullptr || !archive_->InWindow(bytes)) {
        output.Write(bytes);
        return;
    }
    // Bytes of a view that the file has lost fail a write with "bad
    // address" where the kernel touches them; touched here first, they
    // read as zeros and the loss is seen for what it is.
    try {
        archive_->RequireIntact(bytes);
        output.Write(bytes);
    } catch (const ExtractError&) {
        archive_->RequireIntact(bytes);
        throw;
    }
}

}  // namespace quorvel
