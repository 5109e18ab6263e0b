#pragma once

// Every wait in the tests is bounded by how long a healthy run may take.
// Builds with sanitizers run several times slower, on machines that may be
// slower still, so the build stretches those bounds by a factor of its own.
#ifndef ARDENIX_TEST_PATIENCE
#define ARDENIX_TEST_PATIENCE 1
#endif

constexpr int patient(int ms)
{
    return ms * ARDENIX_TEST_PATIENCE;
}
