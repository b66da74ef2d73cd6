// A sparse direct solve of a square system whose pattern of nonzeros is fixed for a run: the
// pattern is ordered once (fill-reducing, block triangular), the first factoring chooses the
// pivots, and every later factoring of new values reuses that ordering and those pivots without
// allocating, falling back to a fresh pivoting factoring only when the reused pivots turn out
// poor. Used by the pipe network's junction system at every step.
#pragma once

class sparse_lu {
 public:
  sparse_lu() = default;
  sparse_lu(const sparse_lu&) = delete;
  sparse_lu& operator=(const sparse_lu&) = delete;
  ~sparse_lu();

  // Orders the pattern of the n x n matrix given by compressed columns (col_start[0..n],
  // row_index[0..col_start[n] - 1], zero-based, rows sorted within each column) and factors the
  // stand-in `values` to fix the pivots and the memory. False when the memory cannot be had or
  // the pattern is invalid or structurally singular.
  bool analyse(int n, const int* col_start, const int* row_index, const double* values);

  // Factors the matrix of the analysed pattern with these values (same order as row_index).
  // Returns 0, or 1 when the matrix is singular.
  int factor(const double* values);

  // Solves A x = b with the last factors; x replaces b[0..n - 1].
  void solve(double* b);

  // Times the factoring had to choose its pivots anew (each allocates), over the object's life.
  int fresh_factorings() const { return fresh_; }

  void release();

 private:
  int n_ = 0;
  const int* col_start_ = nullptr;
  const int* row_index_ = nullptr;
  void* common_ = nullptr;
  void* symbolic_ = nullptr;
  void* numeric_ = nullptr;
  int fresh_ = 0;
};
