// Comparison and report objects of the analyzers: the test of every element of a channel array
// against a threshold, and the report of its pass flags in the list or table layout. Called by
// an analyzer at each of its firings, on the run driver's thread between steps.
#include "output/analyzers/logical_op.h"

#include <cstdarg>
#include <cstdio>

#include "framework/core/julian_time.h"
#include "framework/core/text_tokens.h"

namespace {

// The text of a test, formatted with its threshold.
const char* test_format(unsigned op_code) {
  switch (op_code) {
    case op_less:
      return "< %4.6lf";
    case op_less_equal:
      return "<= %4.6lf";
    case op_greater:
      return "> %4.6lf";
    case op_greater_equal:
      return ">= %4.6lf";
    default:
      return "== %4.6lf";
  }
}

bool passes(unsigned op_code, double v, double threshold) {
  switch (op_code) {
    case op_less:
      return v < threshold;
    case op_less_equal:
      return v <= threshold;
    case op_greater:
      return v > threshold;
    case op_greater_equal:
      return v >= threshold;
    default:
      return v == threshold;
  }
}

}  // namespace

void logical_OP::setup_common(int link_count, const int* nodes_per_link, const double* model_time,
                              const char* target_name) {
  link_count_ = nodes_per_link != nullptr && link_count > 0 ? link_count : 0;
  nodes_per_link_ = nodes_per_link;
  model_time_ = model_time;
  copy_text(target_name_, sizeof target_name_, target_name != nullptr ? target_name : "");
}

bool logical_OP::compare(unsigned op_code, double threshold) {
  if (op_code > op_greater_equal) return false;
  bool any = false;
  for (int link = 1; link <= link_count_; ++link) {
    for (int node = 1; node <= nodes_per_link_[link]; ++node) {
      const bool passed = passes(op_code, value(link, node), threshold);
      set_flag(link, node, passed);
      any = any || passed;
    }
  }
  snprintf(description_, sizeof description_, test_format(op_code), threshold);
  if (model_time_ != nullptr) test_time_ = *model_time_;
  return any;
}

void logical_OP::write(unsigned outputs, file_handle& file, const char* format, ...) {
  va_list args;
  if ((outputs & out_file) != 0 && file.fp != nullptr) {
    va_start(args, format);
    vfprintf(file.fp, format, args);
    va_end(args);
  }
  if ((outputs & out_console) != 0) {
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
  }
}

void logical_OP::report(unsigned outputs, unsigned event, file_handle& file) {
  if ((outputs & out_count) == 0 && model_time_ != nullptr) test_time_ = *model_time_;

  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double seconds = 0.0;
  date_from_julian(test_time_, year, month, day, hour, minute, seconds);
  char when[64];
  snprintf(when, sizeof when, "%02d-%02d-%4d, %d:%d:%2.0lf", month, day, year, hour, minute,
           seconds);
  char moment[128];
  if ((event & 1) != 0)
    snprintf(moment, sizeof moment, "%s", when);
  else if ((event & 4) != 0)
    snprintf(moment, sizeof moment, "the end of an event at %s", when);
  else if ((event & 8) != 0)
    snprintf(moment, sizeof moment, "the beginning of the simulation at %s", when);
  else if ((event & 16) != 0)
    snprintf(moment, sizeof moment, "the end of simulation at %s", when);
  else if ((event & 32) != 0)
    snprintf(moment, sizeof moment, "the program crash point at %s", when);
  else
    snprintf(moment, sizeof moment, "%s", when);

  if ((outputs & out_count) != 0)
    write(outputs, file,
          "\n\nResults for logic test of the 2D stream array %s at %s.  Nodes with values %s:\n",
          target_name_, moment, description_);
  else
    write(outputs, file, "\n\nValues in the 2D stream array %s at %s: \n", target_name_, moment);

  int passed = 0, total = 0;
  for (int link = 1; link <= link_count_; ++link) {
    if ((outputs & out_table) != 0) write(outputs, file, "%4d:", link);
    for (int node = 1; node <= nodes_per_link_[link]; ++node) {
      ++total;
      const bool f = flag(link, node);
      if (f) ++passed;
      if ((outputs & out_list) != 0) {
        if (!f) continue;
        write(outputs, file, "Link %3d, Node %3d", link, node);
        if ((outputs & out_values) != 0)
          write(outputs, file, ":  %14.6lf\n", shown_value(link, node));
        else
          write(outputs, file, "\n");
      } else if ((outputs & (out_count | out_values)) != 0) {
        write(outputs, file, f ? "[T, %6.4lf]" : "[F, %6.4lf]", shown_value(link, node));
      } else {
        write(outputs, file, f ? "T" : "F");
      }
    }
    if ((outputs & out_table) != 0) write(outputs, file, "\n");
  }
  if ((outputs & out_count) != 0)
    write(outputs, file, "====> %d out of %d nodes passed the logic test.\n", passed, total);
}

bool st1d_logical_OP::setup(const double* values, int value_count, int link_count,
                            const int* nodes_per_link, int stride, const double* model_time,
                            const char* target_name) {
  setup_common(link_count, nodes_per_link, model_time, target_name);
  values_ = values;
  stride_ = stride;
  // Every element tested must lie in the row and among the flags.
  int last = 0;
  for (int link = 1; link <= this->link_count(); ++link)
    if (nodes_per_link[link] > 0 && stride * link + nodes_per_link[link] > last)
      last = stride * link + nodes_per_link[link];
  if (values == nullptr || stride < 1 || last >= value_count ||
      !flags_.allocate((this->link_count() + 1) * stride + stride)) {
    setup_common(0, nullptr, model_time, target_name);
    values_ = nullptr;
    return false;
  }
  return true;
}

double st1d_logical_OP::value(int link, int node) {
  return values_[stride_ * link + node];
}

double st1d_logical_OP::shown_value(int link, int node) const {
  return values_[stride_ * link + node];
}

bool st1d_logical_OP::flag(int link, int node) const {
  return flags_[stride_ * link + node] != 0;
}

void st1d_logical_OP::set_flag(int link, int node, bool passed) {
  flags_[stride_ * link + node] = passed ? 1 : 0;
}

bool st2d_logical_OP::setup(const link_node_array<double>* table, int link_count,
                            const int* nodes_per_link, const double* model_time,
                            const char* target_name) {
  setup_common(link_count, nodes_per_link, model_time, target_name);
  table_ = table;
  const int links = this->link_count();
  bool fits = table != nullptr && table->link_count() >= links;
  for (int link = 1; fits && link <= links; ++link)
    fits = nodes_per_link[link] <= table->node_count(link);
  if (!fits || !flags_.allocate(links, nodes_per_link) ||
      !combined_.allocate(links, nodes_per_link)) {
    setup_common(0, nullptr, model_time, target_name);
    table_ = nullptr;
    return false;
  }
  return true;
}

void st2d_logical_OP::set_operand(unsigned mode, const link_node_array<double>* operand) {
  operand_mode_ = mode;
  operand_ = operand;
}

double st2d_logical_OP::value_at(int link, int node) {
  double v = (*table_)(link, node);
  if (operand_ != nullptr && operand_->has(link, node)) {
    const double w = (*operand_)(link, node);
    switch (operand_mode_) {
      case op_add:
        v += w;
        break;
      case op_subtract:
        v -= w;
        break;
      case op_multiply:
        v *= w;
        break;
      case op_divide:
        v = w == 0.0 ? 9999.99 : v / w;
        break;
      default:
        break;
    }
  }
  combined_(link, node) = v;
  return v;
}

double st2d_logical_OP::shown_value(int link, int node) const {
  return combined_(link, node);
}

bool st2d_logical_OP::flag(int link, int node) const {
  return flags_(link, node) != 0;
}

void st2d_logical_OP::set_flag(int link, int node, bool passed) {
  flags_(link, node) = passed ? 1 : 0;
}
