#pragma once
#include <cstddef>
#include <cstdint>

struct ReplayHarness {
    const char* name;
    int (*run)(const std::uint8_t* data, std::size_t size);
};
// Ends with an entry whose name is null.
extern const ReplayHarness kReplayHarnesses[];
