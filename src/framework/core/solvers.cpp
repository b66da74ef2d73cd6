// Dense linear-algebra kernels: one-based vector and matrix owners, the LU decomposition that
// the pipe-network solver calls to factor its junction system in every channel step, and the
// tridiagonal solver called by the soil-column steps.
#include "framework/core/solvers.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

// Storage failure: none of the callers can go on without it, so the program ends here.
[[noreturn]] void allocation_failure(const char* reason) {
  numerical_error_report(reason);
  std::exit(1);
}

}  // namespace

void numerical_error_report(const char* reason) {
  fprintf(stderr, "Numerical Recipes run-time error...\n");
  fprintf(stderr, "%s\n", reason);
  fprintf(stderr, "...now exiting to system...\n");
}

nr_vector::nr_vector(long n) : n_(n > 0 ? n : 0) {
  data_ = static_cast<double*>(malloc((static_cast<size_t>(n_) + 1) * sizeof(double)));
  if (data_ == nullptr) allocation_failure("allocation failure in vector()");
}

nr_vector::~nr_vector() {
  free(data_);
}

nr_vector::nr_vector(nr_vector&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), n_(std::exchange(other.n_, 0)) {}

nr_vector& nr_vector::operator=(nr_vector&& other) noexcept {
  if (this != &other) {
    free(data_);
    data_ = std::exchange(other.data_, nullptr);
    n_ = std::exchange(other.n_, 0);
  }
  return *this;
}

nr_matrix::nr_matrix(long nr, long nc) : nr_(nr > 0 ? nr : 0), nc_(nc > 0 ? nc : 0) {
  const size_t rows = static_cast<size_t>(nr_), cols = static_cast<size_t>(nc_);
  rows_ = static_cast<double**>(malloc((rows + 1) * sizeof(double*)));
  if (rows_ == nullptr) allocation_failure("allocation failure 1 in matrix()");
  size_t cells = 0;
  if (__builtin_mul_overflow(rows, cols, &cells) || cells + 1 > SIZE_MAX / sizeof(double)) {
    release();
    allocation_failure("allocation failure 2 in matrix()");
  }
  block_ = static_cast<double*>(malloc((cells + 1) * sizeof(double)));
  if (block_ == nullptr) {
    release();
    allocation_failure("allocation failure 2 in matrix()");
  }
  rows_[0] = nullptr;
  for (size_t i = 1; i <= rows; ++i) rows_[i] = block_ + (i - 1) * cols;
}

nr_matrix::~nr_matrix() {
  release();
}

void nr_matrix::release() {
  free(block_);
  free(rows_);
  block_ = nullptr;
  rows_ = nullptr;
}

nr_matrix::nr_matrix(nr_matrix&& other) noexcept
    : rows_(std::exchange(other.rows_, nullptr)),
      block_(std::exchange(other.block_, nullptr)),
      nr_(std::exchange(other.nr_, 0)),
      nc_(std::exchange(other.nc_, 0)) {}

nr_matrix& nr_matrix::operator=(nr_matrix&& other) noexcept {
  if (this != &other) {
    release();
    rows_ = std::exchange(other.rows_, nullptr);
    block_ = std::exchange(other.block_, nullptr);
    nr_ = std::exchange(other.nr_, 0);
    nc_ = std::exchange(other.nc_, 0);
  }
  return *this;
}

int ludcmp(double** a, int n, int* perm, double& parity) {
  nr_vector scale(n);
  return ludcmp(a, n, perm, parity, scale.data());
}

int ludcmp(double** a, int n, int* perm, double& parity, double* scale) {
  constexpr double tiny = 1.0e-20;
  parity = 1.0;

  // Implicit scaling of every row by its largest element. A row of zeros is found here, before
  // any elimination, so a singular matrix is handed back unchanged.
  for (int i = 1; i <= n; ++i) {
    double big = 0.0;
    for (int j = 1; j <= n; ++j) {
      const double v = std::fabs(a[i][j]);
      if (v > big) big = v;
    }
    if (big == 0.0) {
      numerical_error_report("Singular matrix in routine ludcmp");
      return -1;
    }
    scale[i] = 1.0 / big;
  }

  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i < j; ++i) {
      double sum = a[i][j];
      for (int k = 1; k < i; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
    }
    // Pivot search over the scaled candidates; among equal ones the last row wins. The pivot
    // row starts as the diagonal row so that a column of NaN candidates still names a row.
    double big = 0.0;
    int imax = j;
    for (int i = j; i <= n; ++i) {
      double sum = a[i][j];
      for (int k = 1; k < j; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
      const double merit = scale[i] * std::fabs(sum);
      if (merit >= big) {
        big = merit;
        imax = i;
      }
    }
    if (imax != j) {
      // Rows are swapped element by element so that the row table keeps its block layout.
      for (int k = 1; k <= n; ++k) std::swap(a[imax][k], a[j][k]);
      parity = -parity;
      scale[imax] = scale[j];
    }
    perm[j] = imax;
    if (a[j][j] == 0.0) a[j][j] = tiny;
    if (j < n) {
      for (int i = j + 1; i <= n; ++i) a[i][j] /= a[j][j];
    }
  }
  return 0;
}

void lubksb(double* const* a, int n, const int* perm, double* b) {
  int first = 0;  // the first nonzero element of b met so far, 0 none
  for (int i = 1; i <= n; ++i) {
    const int ip = perm[i];
    double sum = b[ip];
    b[ip] = b[i];
    if (first != 0) {
      for (int j = first; j < i; ++j) sum -= a[i][j] * b[j];
    } else if (sum != 0.0) {
      first = i;
    }
    b[i] = sum;
  }
  for (int i = n; i >= 1; --i) {
    double sum = b[i];
    for (int j = i + 1; j <= n; ++j) sum -= a[i][j] * b[j];
    b[i] = sum / a[i][i];
  }
}

void tridiag_solve(int n, const double* upper, double* diagonal, const double* lower, double* rhs) {
  if (n < 1) return;
  // The row just eliminated and the unknown just found stay in registers: each pass waits on
  // its division, not on a store and a load of the value the last pass wrote.
  double d = diagonal[1];
  double r = rhs[1];
  for (int i = 2; i <= n; ++i) {
    const double m = lower[i] / d;
    d = diagonal[i] - m * upper[i - 1];
    r = rhs[i] - m * r;
    diagonal[i] = d;
    rhs[i] = r;
  }
  double x = r / d;
  rhs[n] = x;
  for (int i = n - 1; i >= 1; --i) {
    x = (rhs[i] - upper[i] * x) / diagonal[i];
    rhs[i] = x;
  }
}
