// Command frames laid out by hand from the wire format, for feeding the
// emulated device in tests without the host's packer.
#pragma once

#include <cstdint>
#include <vector>

namespace simtest {

struct Header {
  std::uint16_t code = 0;
  std::uint16_t total = 0;
  std::uint16_t index = 0;
  std::uint8_t chunkSize = 0;
};

using Bytes = std::vector<std::uint8_t>;

// A plain frame: sync, header, payload length, payload, CRC.
Bytes Frame(const Header& header, const Bytes& payload);
// XORs the frame with the frame key, as the host does with data blocks.
Bytes Scrambled(Bytes frame);

Bytes DataBlock(std::uint16_t code, std::uint16_t index, std::uint32_t imageLength,
                const Bytes& block2048);
Bytes ShortBlock(std::uint16_t code, std::uint16_t index, std::uint32_t imageLength,
                 const Bytes& block53);
Bytes Chunk(std::uint16_t code, std::uint8_t target, std::uint16_t index, std::uint32_t imageLength,
            const Bytes& data);
Bytes Begin(std::uint16_t code, std::uint8_t target);
Bytes Empty(std::uint16_t code);
Bytes TestDataHead(const Bytes& testData);
Bytes TestDataChunk(std::uint16_t index, std::uint16_t total, const Bytes& chunk53);

// A run of n bytes counting up from seed, so misplaced bytes show.
Bytes Pattern(std::size_t n, std::uint8_t seed);

}  // namespace simtest
