// Choosing the instruction set of the vector kernels (see vector_targets.h).
#include "framework/core/vector_targets.h"

#include <hwy/highway.h>
#include <hwy/targets.h>

#include <cstdlib>

namespace {

// The Highway target of a name, 0 when the name is none this build knows.
int64_t target_of(const std::string& name) {
  if (name == "scalar") return HWY_STATIC_TARGET == HWY_SCALAR ? HWY_SCALAR : HWY_EMU128;
#if HWY_ARCH_X86
  if (name == "avx3") return HWY_AVX3;
  if (name == "avx2") return HWY_AVX2;
  if (name == "sse4") return HWY_SSE4;
#elif HWY_ARCH_ARM_A64
  if (name == "neon") return HWY_NEON;
  if (name == "sve") return HWY_SVE;
#endif
  return 0;
}

}  // namespace

bool use_vector_target(const std::string& name) {
  if (name.empty()) {
    hwy::SetSupportedTargetsForTest(0);
    return true;
  }
  const int64_t target = target_of(name);
  if (target == 0 || (target & HWY_TARGETS) == 0) return false;
  hwy::SetSupportedTargetsForTest(0);
  // The one-lane path runs everywhere; another must be one the processor has.
  if (target != HWY_EMU128 && target != HWY_SCALAR && (hwy::SupportedTargets() & target) == 0)
    return false;
  hwy::SetSupportedTargetsForTest(target);
  return true;
}

bool use_vector_target_from_environment(std::string& message) {
  const char* value = std::getenv("TORVA_VECTOR_TARGET");
  if (value == nullptr || *value == '\0') return true;
  if (use_vector_target(value)) return true;
  message = std::string("TORVA_VECTOR_TARGET=") + value +
            ": not an instruction set of this build and processor (avx3, avx2, sse4, neon, "
            "sve or scalar, as the processor has them)";
  return false;
}

std::string vector_target_in_use() {
  const int64_t supported = hwy::SupportedTargets() & HWY_TARGETS;
  if (supported == 0) return "none";
  return hwy::TargetName(supported & -supported);
}
