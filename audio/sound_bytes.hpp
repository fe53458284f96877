#pragma once

// A sound file held in memory for libsndfile, through its virtual I/O: to
// write one (libsndfile seeks back to finish a header) or to read one back.
// Header-only, so that the sample generator, which links libsndfile but not
// the sound library, can use it too.
//
//     SoundBytes sound;
//     SNDFILE* file = sf_open_virtual(SoundBytes::Io(), SFM_WRITE, &info, &sound);

#include <sndfile.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace quorvel::audio {

struct SoundBytes {
    std::vector<std::byte> bytes;
    sf_count_t position = 0;

    static SF_VIRTUAL_IO* Io()
    {
        static SF_VIRTUAL_IO io{Length, SeekTo, ReadFrom, WriteTo, Tell};
        return &io;
    }

private:
    static SoundBytes& Of(void* user) { return *static_cast<SoundBytes*>(user); }
    static sf_count_t Length(void* user) { return static_cast<sf_count_t>(Of(user).bytes.size()); }
    static sf_count_t SeekTo(sf_count_t offset, int whence, void* user)
    {
        SoundBytes& sound = Of(user);
        const sf_count_t base = whence == SEEK_CUR   ? sound.position
                                : whence == SEEK_END ? static_cast<sf_count_t>(sound.bytes.size())
                                                     : 0;
        sound.position = std::max<sf_count_t>(base + offset, 0);
        return sound.position;
    }
    static sf_count_t ReadFrom(void* buffer, sf_count_t count, void* user)
    {
        SoundBytes& sound = Of(user);
        const sf_count_t got =
            std::clamp<sf_count_t>(static_cast<sf_count_t>(sound.bytes.size()) - sound.position, 0, count);
        std::memcpy(buffer, sound.bytes.data() + sound.position, static_cast<std::size_t>(got));
        sound.position += got;
        return got;
    }
    static sf_count_t WriteTo(const void* buffer, sf_count_t count, void* user)
    {
        SoundBytes& sound = Of(user);
        const auto end = static_cast<std::size_t>(sound.position + count);
        if (end > sound.bytes.size()) {
            sound.bytes.resize(end);
        }
        std::memcpy(sound.bytes.data() + sound.position, buffer, static_cast<std::size_t>(count));
        sound.position += count;
        return count;
    }
    static sf_count_t Tell(void* user) { return Of(user).position; }
};

}  // namespace quorvel::audio
