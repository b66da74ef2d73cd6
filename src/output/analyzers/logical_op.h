// Comparison and report objects of the analyzers: each holds a view of one channel array,
// compares every element of it with the analyzer's threshold, keeps one pass flag per element
// and writes the result to the console and/or the analyzer's file. Made at start-up when an
// analyzer is configured; used by the analyzer at each of its firings.
#pragma once

#include "framework/core/file_handle.h"
#include "framework/core/link_node_array.h"
#include "framework/core/raw_arrays.h"

// Operator and operand codes of an analyzer line: the five comparisons, then the four operand
// modes of a combined table and "none".
enum analyzer_op_code : unsigned {
  op_less = 0,
  op_greater = 1,
  op_equal = 2,
  op_less_equal = 3,
  op_greater_equal = 4,
  op_add = 5,
  op_subtract = 6,
  op_multiply = 7,
  op_divide = 8,
  op_none = 9,
};

// Output letters of an analyzer line, as bits.
enum analyzer_output_bit : unsigned {
  out_list = 1,     // t: one line per element that passed
  out_table = 2,    // v: one row per link, an entry per node
  out_console = 4,  // s: written to the console
  out_file = 8,     // f: written to the analyzer's file
  out_count = 16,   // c: heading naming the test, closing count of the elements that passed
  out_values = 32,  // d: the element values too
};

// The comparison of an analyzer over the links 1..link_count and nodes 1..nodes_per_link[link]
// of a channel array: the value of each element and its pass flag are reached through the
// concrete class.
class logical_OP {
 public:
  virtual ~logical_OP() = default;

  // The five tests of every element against `threshold` (value < threshold and so on; == is
  // exact equality). Each sets every flag it covers, the description of the test and its time,
  // and returns whether any element passed.
  bool less(double threshold) { return compare(op_less, threshold); }
  bool less_equal(double threshold) { return compare(op_less_equal, threshold); }
  bool greater(double threshold) { return compare(op_greater, threshold); }
  bool greater_equal(double threshold) { return compare(op_greater_equal, threshold); }
  bool equal(double threshold) { return compare(op_equal, threshold); }
  // The test by its operator code; codes without a comparison test nothing and give false.
  bool compare(unsigned op_code, double threshold);

  // Writes the result of the last test by the output letters `outputs`, for the model event
  // `event` (its first bit of 1, 4, 8, 16, 32 names the moment), to `file` (letter f, when open)
  // and the console (letter s).
  void report(unsigned outputs, unsigned event, file_handle& file);

  const char* description() const { return description_; }
  double test_time() const { return test_time_; }
  int link_count() const { return link_count_; }
  int node_count(int link) const { return nodes_per_link_[link]; }
  // The value compared at (link, node) and the flag the last test left there.
  virtual double value(int link, int node) = 0;
  virtual bool flag(int link, int node) const = 0;
  // The value the last test compared at (link, node), as the report writes it.
  virtual double shown_value(int link, int node) const = 0;

 protected:
  // Stores the network shape, the clock and the target's name (cut to fit).
  void setup_common(int link_count, const int* nodes_per_link, const double* model_time,
                    const char* target_name);
  virtual void set_flag(int link, int node, bool passed) = 0;

 private:
  void write(unsigned outputs, file_handle& file, const char* format, ...)
      __attribute__((format(printf, 4, 5)));

  const double* model_time_ = nullptr;   // the model clock (Julian days)
  double test_time_ = 0.0;               // Julian days: time of the last test
  char description_[50] = {};            // the last test, "> 0.500000" and its kin
  char target_name_[102] = {};           // the analyzer's target token
  int link_count_ = 0;                   // links 1..link_count_ tested
  const int* nodes_per_link_ = nullptr;  // per link 1..link_count_: nodes tested
};

// Over one link-major row of a channel constituent: element (link, node) at
// values[stride x link + node].
class st1d_logical_OP : public logical_OP {
 public:
  // `values` holds elements 0..value_count - 1; every element tested must lie among them.
  // False (nothing kept) when the flags cannot be allocated.
  bool setup(const double* values, int value_count, int link_count, const int* nodes_per_link,
             int stride, const double* model_time, const char* target_name);
  double value(int link, int node) override;
  bool flag(int link, int node) const override;
  double shown_value(int link, int node) const override;

 protected:
  void set_flag(int link, int node, bool passed) override;

 private:
  const double* values_ = nullptr;
  int stride_ = 0;
  raw_array1d<unsigned char> flags_;  // per element, at the element's index
};

// Over a channel table reached as table(link, node), optionally combined element by element
// with a second table of the same shape (5 add, 6 subtract, 7 multiply, 8 divide, 9 none).
class st2d_logical_OP : public logical_OP {
 public:
  // False (nothing kept) when the flags or the combined table cannot be allocated.
  bool setup(const link_node_array<double>* table, int link_count, const int* nodes_per_link,
             const double* model_time, const char* target_name);
  void set_operand(unsigned mode, const link_node_array<double>* operand);
  // The table's value combined with the operand, stored in the combined table and returned; a
  // division by an operand of 0.0 gives 9999.99.
  double value_at(int link, int node);
  double value(int link, int node) override { return value_at(link, node); }
  bool flag(int link, int node) const override;
  double shown_value(int link, int node) const override;
  unsigned operand_mode() const { return operand_mode_; }

 protected:
  void set_flag(int link, int node, bool passed) override;

 private:
  const link_node_array<double>* table_ = nullptr;
  const link_node_array<double>* operand_ = nullptr;
  unsigned operand_mode_ = op_none;
  link_node_array<unsigned char> flags_;  // per (link, node)
  link_node_array<double> combined_;      // per (link, node): the value compared
};
