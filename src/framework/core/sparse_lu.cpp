// The sparse direct solve of a fixed-pattern system (the pipe network's junction heads), over
// the KLU factoring of Debian's SuiteSparse: ordered once at set-up, refactored with the same
// pivots at every step.
#include "framework/core/sparse_lu.h"

#include <klu.h>

#include <new>

namespace {

// The reused pivots are kept while the estimate of the factors' reciprocal condition stays
// above this; below it the values have moved so far that a fresh choice of pivots is safer.
constexpr double poor_rcond = 1e-13;

klu_common* common(void* p) {
  return static_cast<klu_common*>(p);
}

}  // namespace

sparse_lu::~sparse_lu() {
  release();
}

void sparse_lu::release() {
  if (common_ != nullptr) {
    klu_common* c = common(common_);
    if (numeric_ != nullptr) {
      klu_numeric* num = static_cast<klu_numeric*>(numeric_);
      klu_free_numeric(&num, c);
    }
    if (symbolic_ != nullptr) {
      klu_symbolic* sym = static_cast<klu_symbolic*>(symbolic_);
      klu_free_symbolic(&sym, c);
    }
    delete c;
  }
  common_ = symbolic_ = numeric_ = nullptr;
  n_ = 0;
  fresh_ = 0;
}

bool sparse_lu::analyse(int n, const int* col_start, const int* row_index, const double* values) {
  release();
  klu_common* c = new (std::nothrow) klu_common;
  if (c == nullptr) return false;
  klu_defaults(c);
  common_ = c;
  n_ = n;
  col_start_ = col_start;
  row_index_ = row_index;
  klu_symbolic* sym = klu_analyze(n, const_cast<int*>(col_start), const_cast<int*>(row_index), c);
  if (sym == nullptr) return false;
  symbolic_ = sym;
  klu_numeric* num = klu_factor(const_cast<int*>(col_start), const_cast<int*>(row_index),
                                const_cast<double*>(values), sym, c);
  if (num == nullptr || c->status != KLU_OK) return false;
  numeric_ = num;
  return true;
}

int sparse_lu::factor(const double* values) {
  klu_common* c = common(common_);
  klu_symbolic* sym = static_cast<klu_symbolic*>(symbolic_);
  klu_numeric* num = static_cast<klu_numeric*>(numeric_);
  int* Ap = const_cast<int*>(col_start_);
  int* Ai = const_cast<int*>(row_index_);
  double* Ax = const_cast<double*>(values);
  if (klu_refactor(Ap, Ai, Ax, sym, num, c) && c->status == KLU_OK && klu_rcond(sym, num, c) &&
      c->rcond > poor_rcond)
    return 0;
  // The pivots of the first factoring do not suit these values: choose them anew.
  klu_free_numeric(&num, c);
  numeric_ = nullptr;
  ++fresh_;
  num = klu_factor(Ap, Ai, Ax, sym, c);
  if (num == nullptr) return 1;
  numeric_ = num;
  return c->status == KLU_OK ? 0 : 1;
}

void sparse_lu::solve(double* b) {
  klu_solve(static_cast<klu_symbolic*>(symbolic_), static_cast<klu_numeric*>(numeric_), n_, 1, b,
            common(common_));
}
