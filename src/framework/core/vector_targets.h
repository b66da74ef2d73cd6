// The instruction set of the vector kernels. Every kernel is compiled for each instruction set
// of the build's processor family and the best one the processor runs is taken, unless the
// environment variable TORVA_VECTOR_TARGET names another (avx3, avx2, sse4, neon, sve or
// scalar, the one-lane path every processor runs): a check that a run gives the same bits on
// every kind of processor, and a way round a processor fault. The results are the same bits
// whatever is taken.
#pragma once

#include <cstdint>
#include <string>

// Takes the instruction set TORVA_VECTOR_TARGET names, if set. False, with a message naming the
// variable and what is wrong in `message`, when it names none or one the processor lacks.
bool use_vector_target_from_environment(std::string& message);

// Restricts the kernels to the named instruction set (as TORVA_VECTOR_TARGET takes it); "" goes
// back to the best the processor runs. False when the name is unknown or the processor lacks it.
bool use_vector_target(const std::string& name);

// The name of the instruction set the kernels run now (e.g. "AVX3", "AVX2", "EMU128").
std::string vector_target_in_use();
