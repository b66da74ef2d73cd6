// Tests of the dense kernels: LU factors checked against a hand factorisation and against the
// permuted matrix, solutions by substitution, singular matrices, and the tridiagonal solver.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "framework/core/solvers.h"

namespace {

const char* const singular_report =
    "Numerical Recipes run-time error...\n"
    "Singular matrix in routine ludcmp\n"
    "...now exiting to system...\n";

nr_matrix make_matrix(const std::vector<std::vector<double>>& rows) {
  const long nr = static_cast<long>(rows.size()), nc = static_cast<long>(rows[0].size());
  nr_matrix m(nr, nc);
  for (long i = 1; i <= nr; ++i)
    for (long j = 1; j <= nc; ++j) m[i][j] = rows[i - 1][j - 1];
  return m;
}

// Applies the row interchanges of perm to a copy of the rows, in the order ludcmp made them.
std::vector<std::vector<double>> permute(std::vector<std::vector<double>> rows,
                                         const std::vector<int>& perm) {
  for (size_t j = 1; j < perm.size(); ++j) std::swap(rows[j - 1], rows[perm[j] - 1]);
  return rows;
}

// Solves A x = b from the factors: interchanges of b, forward substitution with the unit lower
// factor, back substitution with the upper factor.
std::vector<double> lu_solve(nr_matrix& lu, int n, const std::vector<int>& perm,
                             std::vector<double> b) {
  for (int j = 1; j <= n; ++j) std::swap(b[j - 1], b[perm[j] - 1]);
  for (int i = 1; i <= n; ++i)
    for (int k = 1; k < i; ++k) b[i - 1] -= lu[i][k] * b[k - 1];
  for (int i = n; i >= 1; --i) {
    for (int k = i + 1; k <= n; ++k) b[i - 1] -= lu[i][k] * b[k - 1];
    b[i - 1] /= lu[i][i];
  }
  return b;
}

}  // namespace

TEST(SolversStorage, MatrixRowsFollowEachOtherInOneBlock) {
  nr_matrix m(2, 3);
  ASSERT_NE(m.rows(), nullptr);
  EXPECT_EQ(m.row_count(), 2);
  EXPECT_EQ(m.col_count(), 3);
  EXPECT_EQ(&m[1][1], m.block() + 1);
  EXPECT_EQ(&m[2][1], m.block() + 4);
  EXPECT_EQ(&m[2][3], m.block() + 6);  // the last of the nr x nc + 1 doubles

  nr_vector v(4);
  ASSERT_NE(v.data(), nullptr);
  EXPECT_EQ(v.size(), 4);
  v[4] = 2.5;
  nr_vector moved = std::move(v);
  EXPECT_EQ(v.data(), nullptr);
  EXPECT_EQ(moved[4], 2.5);

  nr_matrix taken = std::move(m);
  EXPECT_EQ(m.rows(), nullptr);
  EXPECT_EQ(taken.row_count(), 2);
}

TEST(SolversLu, FactorsMatchHandComputationAndSolve) {
  // Scaled pivoting picks row 3 for column 1 (7/10 beats 4/6 and 1/3) and then the old row 1
  // for column 2 ((6/7)/3 beats (3/7)/6); the factors below are worked out by hand.
  const std::vector<std::vector<double>> a = {{1, 2, 3}, {4, 5, 6}, {7, 8, 10}};
  nr_matrix lu = make_matrix(a);
  std::vector<int> perm(4, 0);
  double parity = 0.0;
  ASSERT_EQ(ludcmp(lu.rows(), 3, perm.data(), parity), 0);
  EXPECT_EQ(perm[1], 3);
  EXPECT_EQ(perm[2], 3);
  EXPECT_EQ(perm[3], 3);
  EXPECT_EQ(parity, 1.0);  // two interchanges

  const double expected[4][4] = {
      {}, {0, 7.0, 8.0, 10.0}, {0, 1.0 / 7.0, 6.0 / 7.0, 11.0 / 7.0}, {0, 4.0 / 7.0, 0.5, -0.5}};
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j)
      EXPECT_NEAR(lu[i][j], expected[i][j], 1e-14) << "element " << i << "," << j;

  // L x U reproduces the matrix with its rows interchanged.
  const auto pa = permute(a, perm);
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) {
      double sum = 0.0;
      for (int k = 1; k <= 3; ++k) {
        const double l = k < i ? lu[i][k] : (k == i ? 1.0 : 0.0);
        const double u = k <= j ? lu[k][j] : 0.0;
        sum += l * u;
      }
      EXPECT_NEAR(sum, pa[i - 1][j - 1], 1e-13) << "element " << i << "," << j;
    }
  }

  // x = (1, 2, 3) gives b = (14, 32, 53).
  const auto x = lu_solve(lu, 3, perm, {14, 32, 53});
  EXPECT_NEAR(x[0], 1.0, 1e-13);
  EXPECT_NEAR(x[1], 2.0, 1e-13);
  EXPECT_NEAR(x[2], 3.0, 1e-13);
}

TEST(SolversLu, LargerSystemReproducesPermutedMatrix) {
  const std::vector<std::vector<double>> a = {
      {0.5, -3, 2, 1}, {4, 1, 0, -2}, {1e-3, 2, 8, 1}, {-6, 0.25, 1, 9}};
  nr_matrix lu = make_matrix(a);
  std::vector<int> perm(5, 0);
  double parity = 0.0;
  ASSERT_EQ(ludcmp(lu.rows(), 4, perm.data(), parity), 0);
  const auto pa = permute(a, perm);
  int swaps = 0;
  for (int j = 1; j <= 4; ++j) {
    EXPECT_GE(perm[j], j);
    EXPECT_LE(perm[j], 4);
    if (perm[j] != j) ++swaps;
  }
  EXPECT_EQ(parity, swaps % 2 == 0 ? 1.0 : -1.0);
  for (int i = 1; i <= 4; ++i) {
    for (int j = 1; j <= 4; ++j) {
      double sum = i <= j ? lu[i][j] : 0.0;
      for (int k = 1; k < i && k <= j; ++k) sum += lu[i][k] * lu[k][j];
      EXPECT_NEAR(sum, pa[i - 1][j - 1], 1e-12) << "element " << i << "," << j;
    }
  }
  // x = (1, -1, 2, 0.5)
  std::vector<double> b(4, 0.0);
  const double x_true[4] = {1, -1, 2, 0.5};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) b[i] += a[i][j] * x_true[j];
  const auto x = lu_solve(lu, 4, perm, b);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(x[i], x_true[i], 1e-12);
}

TEST(SolversLu, RowSwapOfPermutationMatrixLeavesIdentity) {
  nr_matrix lu = make_matrix({{0, 1}, {1, 0}});
  int perm[3] = {0, 0, 0};
  double parity = 0.0;
  testing::internal::CaptureStderr();
  ASSERT_EQ(ludcmp(lu.rows(), 2, perm, parity), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(perm[1], 2);
  EXPECT_EQ(perm[2], 2);
  EXPECT_EQ(parity, -1.0);
  EXPECT_EQ(lu[1][1], 1.0);
  EXPECT_EQ(lu[1][2], 0.0);
  EXPECT_EQ(lu[2][1], 0.0);
  EXPECT_EQ(lu[2][2], 1.0);
}

TEST(SolversLu, ZeroRowIsSingularAndLeavesMatrixUnchanged) {
  // The zero row is found whether it comes first or last, before any elimination.
  const std::vector<std::vector<std::vector<double>>> cases = {
      {{3, 1, 2}, {6, 5, 4}, {0, 0, 0}}, {{0, 0, 0}, {3, 1, 2}, {6, 5, 4}}, {{0}}};
  for (const auto& a : cases) {
    const int n = static_cast<int>(a.size());
    nr_matrix lu = make_matrix(a);
    std::vector<int> perm(n + 1, 0);
    double parity = 0.0;
    testing::internal::CaptureStderr();
    const int result = ludcmp(lu.rows(), n, perm.data(), parity);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), singular_report);
    EXPECT_EQ(result, -1);
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) EXPECT_EQ(lu[i][j], a[i - 1][j - 1]);
  }
}

TEST(SolversLu, EqualRowsGiveTinyPivotWithoutMessage) {
  nr_matrix lu = make_matrix({{1, 2}, {1, 2}});
  int perm[3] = {0, 0, 0};
  double parity = 0.0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ludcmp(lu.rows(), 2, perm, parity), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(perm[1], 2);  // equal scaled candidates: the last row wins
  EXPECT_EQ(parity, -1.0);
  EXPECT_EQ(lu[2][1], 1.0);
  EXPECT_EQ(lu[1][2], 2.0);
  EXPECT_EQ(lu[2][2], 1.0e-20);
}

TEST(SolversLu, SingleEquationAndNanColumn) {
  nr_matrix one = make_matrix({{-5}});
  int perm[3] = {0, 0, 0};
  double parity = 0.0;
  EXPECT_EQ(ludcmp(one.rows(), 1, perm, parity), 0);
  EXPECT_EQ(perm[1], 1);
  EXPECT_EQ(parity, 1.0);
  EXPECT_EQ(one[1][1], -5.0);

  // A column whose candidates are all NaN has no pivot by comparison; the diagonal row is kept
  // rather than an undefined one.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  nr_matrix bad = make_matrix({{nan, 1}, {nan, 2}});
  perm[1] = perm[2] = 0;
  EXPECT_EQ(ludcmp(bad.rows(), 2, perm, parity), 0);
  EXPECT_EQ(perm[1], 1);
  EXPECT_EQ(parity, 1.0);
}

TEST(SolversTridiag, SolvesHandExampleAndSingleRow) {
  double upper[4] = {0, -1, -1, 0};
  double diagonal[4] = {0, 2, 2, 2};
  double lower[4] = {0, 0, -1, -1};
  double rhs[4] = {0, 1, 0, 1};
  tridiag_solve(3, upper, diagonal, lower, rhs);
  EXPECT_NEAR(rhs[1], 1.0, 1e-15);
  EXPECT_NEAR(rhs[2], 1.0, 1e-15);
  EXPECT_NEAR(rhs[3], 1.0, 1e-15);

  double u1[2] = {0, 99}, d1[2] = {0, 4}, l1[2] = {0, 99}, r1[2] = {0, -6};
  tridiag_solve(1, u1, d1, l1, r1);
  EXPECT_EQ(r1[1], -1.5);
}

TEST(SolversTridiag, UnequalCoefficientsSatisfyTheSystem) {
  // Residual check of a system whose rows differ; the entries that are not read hold NaN.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double up[6] = {0, 1.5, -0.5, 2, 0.25, nan};
  const double diag[6] = {0, 4, 3, 6, 5, 2};
  const double low[6] = {0, nan, 1, -2, 1.5, 0.5};
  const double b[6] = {0, 1, -2, 3, 0.5, 4};
  double d[6], x[6];
  for (int i = 0; i < 6; ++i) {
    d[i] = diag[i];
    x[i] = b[i];
  }
  tridiag_solve(5, up, d, low, x);
  for (int i = 1; i <= 5; ++i) {
    double row = diag[i] * x[i];
    if (i > 1) row += low[i] * x[i - 1];
    if (i < 5) row += up[i] * x[i + 1];
    EXPECT_NEAR(row, b[i], 1e-13) << "row " << i;
  }
}

// Back-substitution on the factors: the solutions of a system worked out by hand, with a
// right-hand side whose leading elements are zero (the skipped part of the forward pass), and
// the factoring with the caller's scale vector giving the same factors.
TEST(SolversLu, BackSubstitutionSolvesTheFactoredSystem) {
  // x = (1, -2, 3): b = A x for A = {{1,2,3},{4,5,6},{7,8,10}} is (6, 12, 21).
  const std::vector<std::vector<double>> a = {{1, 2, 3}, {4, 5, 6}, {7, 8, 10}};
  nr_matrix lu = make_matrix(a);
  std::vector<int> perm(4, 0);
  std::vector<double> scale(4, 0.0);
  double parity = 0.0;
  ASSERT_EQ(ludcmp(lu.rows(), 3, perm.data(), parity, scale.data()), 0);
  nr_matrix reference = make_matrix(a);
  std::vector<int> reference_perm(4, 0);
  ASSERT_EQ(ludcmp(reference.rows(), 3, reference_perm.data(), parity), 0);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(lu[i][j], reference[i][j]);

  double b[4] = {0.0, 6.0, 12.0, 21.0};
  lubksb(lu.rows(), 3, perm.data(), b);
  EXPECT_NEAR(b[1], 1.0, 1e-13);
  EXPECT_NEAR(b[2], -2.0, 1e-13);
  EXPECT_NEAR(b[3], 3.0, 1e-13);
  // x = (2, -1, 0) gives b = (0, 3, 6): the leading zero is skipped in the forward pass.
  double c[4] = {0.0, 0.0, 3.0, 6.0};
  lubksb(lu.rows(), 3, perm.data(), c);
  EXPECT_NEAR(c[1], 2.0, 1e-13);
  EXPECT_NEAR(c[2], -1.0, 1e-13);
  EXPECT_NEAR(c[3], 0.0, 1e-13);
}
