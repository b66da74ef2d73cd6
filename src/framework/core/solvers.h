// Dense linear-algebra kernels of the process models: the LU decomposition with scaled partial
// pivoting that factors the junction system of the pipe-network solver, and the tridiagonal
// solver of the one-dimensional soil-column steps. Both work in place on one-based arrays.
#pragma once

#include <cstddef>

// One-based vector of doubles, indexes 1..n (n + 1 doubles; index 0 is allocated but unused).
// Owns its storage and releases it with the plain free of the platform. An allocation failure
// prints the run-time error report ("allocation failure in vector()") and ends the program.
class nr_vector {
 public:
  nr_vector() = default;
  explicit nr_vector(long n);
  ~nr_vector();
  nr_vector(const nr_vector&) = delete;
  nr_vector& operator=(const nr_vector&) = delete;
  nr_vector(nr_vector&& other) noexcept;
  nr_vector& operator=(nr_vector&& other) noexcept;

  double& operator[](long i) { return data_[i]; }
  const double& operator[](long i) const { return data_[i]; }
  // The storage; element i is data()[i]. Null for a default-constructed vector.
  double* data() { return data_; }
  long size() const { return n_; }

 private:
  double* data_ = nullptr;
  long n_ = 0;
};

// One-based matrix of doubles, rows 1..nr and columns 1..nc: a table of nr + 1 row pointers and
// one block of nr x nc + 1 doubles. Row 1 starts at the start of the block and row i at row i - 1
// plus nc, so element [i][j] is block element (i - 1) x nc + j; row pointer 0 is null. Owns both
// allocations and releases them. An allocation failure prints the run-time error report
// ("allocation failure 1 in matrix()" for the row table, "... 2 ..." for the block) and ends
// the program.
class nr_matrix {
 public:
  nr_matrix() = default;
  nr_matrix(long nr, long nc);
  ~nr_matrix();
  nr_matrix(const nr_matrix&) = delete;
  nr_matrix& operator=(const nr_matrix&) = delete;
  nr_matrix(nr_matrix&& other) noexcept;
  nr_matrix& operator=(nr_matrix&& other) noexcept;

  double* operator[](long i) { return rows_[i]; }
  const double* operator[](long i) const { return rows_[i]; }
  // The row-pointer table, as ludcmp takes it. Null for a default-constructed matrix.
  double** rows() { return rows_; }
  // The block of nr x nc + 1 doubles that holds the elements.
  double* block() { return block_; }
  long row_count() const { return nr_; }
  long col_count() const { return nc_; }

 private:
  void release();
  double** rows_ = nullptr;
  double* block_ = nullptr;
  long nr_ = 0;
  long nc_ = 0;
};

// Prints the three-line run-time error report of the kernels on standard error: a heading line,
// the reason, and a closing line.
void numerical_error_report(const char* reason);

// Factors the n x n matrix a (row pointers, elements a[1..n][1..n]) in place by Crout's method
// with implicit, row-scaled partial pivoting: afterwards the unit lower factor is below the
// diagonal and the upper factor on and above it, perm[1..n] holds the row interchanges and
// parity is +1.0 or -1.0 after an even or odd number of them. A zero pivot is replaced by
// 1.0e-20. A row of zeros prints the report with "Singular matrix in routine ludcmp" and
// returns -1 with a unchanged; otherwise returns 0.
int ludcmp(double** a, int n, int* perm, double& parity);
// The same with the caller's work vector for the row scales (scale[1..n]), so that a solver
// that factors at every step allocates nothing.
int ludcmp(double** a, int n, int* perm, double& parity, double* scale);

// Solves a x = b with the factors and row interchanges ludcmp left in a and perm: the forward
// pass applies the interchanges and skips the leading zeros of b, the backward pass divides by
// the diagonal; x replaces b[1..n].
void lubksb(double* const* a, int n, const int* perm, double* b);

// Solves the tridiagonal system of n rows (Thomas algorithm, no pivoting) in place: upper[i]
// couples row i to i + 1 (upper[n] not read), lower[i] couples row i to i - 1 (lower[1] not
// read), diagonal[1..n] is overwritten and rhs[1..n] receives the solution.
void tridiag_solve(int n, const double* upper, double* diagonal, const double* lower, double* rhs);
