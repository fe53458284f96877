#include <stdexcept>

#include "tools/sample_game/sound_encoder.hpp"

namespace quorvel::sample {

bool LibsndfileBuiltIn()
{
    return false;
}

std::vector<std::byte> EncodeWithLibsndfile(const WavFormat& /*format*/, std::uint32_t /*frames*/,
                                            const RenderFrames& /*render*/)
{
    throw std::runtime_error("this generator is built without libsndfile: only integer PCM sounds can be made");
}

}  // namespace quorvel::sample
