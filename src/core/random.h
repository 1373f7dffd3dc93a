// The deterministic generator that fills the Zobrist feature tables: a 64-bit
// linear congruential state with a permuted output whose xorshift and rotation
// are done in 64 bits (the values differ from the common 32-bit output).
#pragma once

#include <cstdint>

namespace mirelo {

class Rng {
public:
    // Seeds the generator and draws (and discards) one value.
    static Rng new_deterministic(std::uint64_t seed, std::uint64_t increment) {
        Rng rng(seed, increment);
        rng.random();
        return rng;
    }

    std::uint64_t random() {
        const std::uint64_t old = state_;
        state_ = old * MULTIPLIER + inc_;
        const std::uint64_t xorshifted = ((old >> 18) ^ old) >> 27;
        const unsigned rot = static_cast<unsigned>(old >> 59);
        return (xorshifted >> rot) | (xorshifted << ((0u - rot) & 31));
    }

private:
    static constexpr std::uint64_t MULTIPLIER = 6364136223846793005ULL;

    Rng(std::uint64_t seed, std::uint64_t increment) : state_(seed), inc_(increment) {}

    std::uint64_t state_;
    std::uint64_t inc_;
};

}  // namespace mirelo
