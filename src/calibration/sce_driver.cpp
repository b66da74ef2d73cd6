// SCE calibration driver (mode -c): reads and checks the control file, loads the observations,
// runs the SCE-UA optimiser, keeps its evaluation log "sce_log_file.txt" and reports the best
// parameters in "sce_best.out".
#include <cstdio>
#include <string>

#include "calibration/calibration_drivers.h"
#include "framework/core/process_info.h"
#include "framework/core/text_tokens.h"
#include "input/input_steps.h"

namespace {

// The numbers of the control file after its three names, read across line ends.
struct control_numbers {
  control_numbers(file_handle& handle, const char* name) : h(handle), file(name) {}
  file_handle& h;
  const char* file;
  std::string line;
  long line_no = 0;

  // The next token, from this line or the following ones; false at the end of the file.
  bool next(std::string& token) {
    while (next_token(line, token) == 0) {
      if (read_text_line(line, h) == 0) return false;
      line_no = h.lines_read;
    }
    return true;
  }
  // 1 read, 0 end of file, -1 not a number (after a message naming the line).
  int take_int(int& out, const char* what) {
    std::string t;
    if (!next(t)) return 0;
    if (!parse_int(t, out)) {
      printf("Error: SCE control file %s, line %ld: %s must be a whole number, not %s\n", file,
             line_no, what, t.c_str());
      return -1;
    }
    return 1;
  }
  int take_double(double& out, const char* what) {
    std::string t;
    if (!next(t)) return 0;
    if (!parse_double(t, out)) {
      printf("Error: SCE control file %s, line %ld: %s must be a number, not %s\n", file, line_no,
             what, t.c_str());
      return -1;
    }
    return 1;
  }
};

// Prints a check's line on the console and, when it is open, into the output file.
void say(sce_object& s, const char* text) {
  fputs(text, stdout);
  if (s.output_open && s.output_file.fp != nullptr) fputs(text, s.output_file.fp);
}

void say_int(sce_object& s, const char* format, int value) {
  char text[256];
  snprintf(text, sizeof text, format, value);
  say(s, text);
}

}  // namespace

int scein(sce_object& s, file_handle& h) {
  printf(" ENTER THE SCEIN SUBROUTINE --- \n");
  const char* file = h.path;
  if (s.read_names) {
    std::string line;
    std::string* names[3] = {&s.project_file, &s.replace_file, &s.observation_file};
    const char* what[3] = {"project", "replacement parameter", "observation"};
    for (int k = 0; k < 3; ++k) {
      if (read_text_line(line, h) == 0 || next_token(line, *names[k]) == 0) {
        printf("Error: SCE control file %s, line %d: the %s file name is missing.\n", file, k + 1,
               what[k]);
        return -1;
      }
      if (k == 0) prescan_project_folder(s.project_file.c_str());
    }
  }
  control_numbers in{h, file};
  s.ideflt = 0;
  int* ints[7] = {&s.maxn, &s.kstop, nullptr, &s.ngs, &s.iseed, &s.ideflt, &s.nopt};
  const char* first_names[7] = {"maxn", "kstop", "pcento", "ngs", "iseed", "ideflt", "nopt"};
  for (int k = 0; k < 7; ++k) {
    const int got =
        k == 2 ? in.take_double(s.pcento, first_names[k]) : in.take_int(*ints[k], first_names[k]);
    if (got < 0) return -1;
    if (got == 0) {
      printf("Error in your input file. The first line must have 7 parameters.\n");
      printf("(SCE control file %s ends before %s.)\n", file, first_names[k]);
      return -1;
    }
  }
  if (s.iseed == 0) s.iseed = 3737;
  if (s.nopt < 1 || s.nopt > 100) {
    printf(
        "Error: SCE control file %s, line %ld: the number of parameters nopt is %d; it must "
        "be 1 to 100.\n",
        file, in.line_no, s.nopt);
    return -1;
  }
  s.initial.assign(s.nopt + 1, 0.0);
  s.lower.assign(s.nopt + 1, 0.0);
  s.upper.assign(s.nopt + 1, 0.0);
  int six[6] = {};
  const char* six_names[6] = {"npg", "nps", "nspl", "mings", "iniflg", "iprint"};
  for (int k = 0; k < 6; ++k) {
    const int got = in.take_int(six[k], six_names[k]);
    if (got < 0) return -1;
    if (got == 0) {
      printf(
          "Error: SCE control file %s ends before %s (the six values npg, nps, nspl, mings, "
          "iniflg, iprint follow the first seven).\n",
          file, six_names[k]);
      return -1;
    }
  }
  if (s.ideflt == 1) {
    s.npg = six[0];
    s.nps = six[1];
    s.nspl = six[2];
    s.mings = six[3];
    s.iniflg = six[4];
    s.iprint = six[5];
  }
  for (int i = 1; i <= s.nopt; ++i) {
    double* v[3] = {&s.initial[i], &s.lower[i], &s.upper[i]};
    const char* what[3] = {"the initial value", "the lower bound", "the upper bound"};
    for (int k = 0; k < 3; ++k) {
      char label[96];
      snprintf(label, sizeof label, "%s of parameter %d", what[k], i);
      const int got = in.take_double(*v[k], label);
      if (got < 0) return -1;
      if (got == 0) {
        printf("Error: SCE control file %s ends before %s (it names %d parameters).\n", file, label,
               s.nopt);
        return -1;
      }
    }
    if (!(s.lower[i] < s.upper[i])) {
      printf("ERROR:  Lower bound is greater than upper bound for varialbe %d\n", i);
      printf("(SCE control file %s, line %ld.)\n", file, in.line_no);
      return -1;
    }
  }
  return 0;
}

int sce_check_params(sce_object& s) {
  int count = 0;
  if (s.ideflt == 0) {
    s.iniflg = 0;
    s.iprint = 0;
    s.nps = s.nopt + 1;
    s.npg = 2 * s.nopt + 1;
    s.mings = s.ngs;
    s.nspl = 2 * s.nopt + 1;
  }
  if (s.ngs < 1 || s.ngs >= 1320) {
    say_int(s, " **ERROR** NUMBER OF COMPLEXES IN INITIAL POPULATION %d IS NOT A VALID CHOICE\n",
            s.ngs);
    return -1;
  }
  if (s.kstop < 0 || s.kstop >= 20) {
    say(s, " **WARNING** THE NUMBER OF SHUFFLING LOOPS IN WHICH THE CRITERION VALUE\n");
    say_int(s, " MUST CHANGE SHOULD BE GREATER THAN 0 AND LESS THAN 10. kstop = %d WAS\n", s.kstop);
    say(s, " WAS SPECIFIED.  BUT kstop = 5 WILL BE USED INSTEAD.\n");
    ++count;
    s.kstop = 5;
  }
  if (s.mings < 1 || s.mings > s.ngs) {
    say_int(s, " **WARNING** THE MINIMUM NUMBER OF COMPLEXES %d IS NOT A VALID CHOICE.\n", s.mings);
    say(s, " SET IT TO DEFAULT\n");
    ++count;
    s.mings = s.ngs;
  }
  if (s.npg < 2 || s.npg > 1320 / s.ngs) {
    say_int(s, " **WARNING** THE NUMBER OF POINTS IN A COMPLEX %d IS NOT\n", s.npg);
    say(s, " A VALID CHOICE, SET IT TO DEFAULT\n");
    ++count;
    s.npg = 2 * s.nopt + 1;
  }
  if (s.nps < 2 || s.nps > s.npg || s.nps > 50) {
    say_int(s, " **WARNING** THE NUMBER OF POINTS IN A SUB-COMPLEX %d IS NOT\n", s.nps);
    say(s, " A VALID CHOICE, SET IT TO DEFAULT\n");
    ++count;
    s.nps = s.nopt + 1;
  }
  if (s.nspl < 1) {
    say(s, " **WARNING** THE NUMBER OF EVOLUTION STEPS TAKEN IN EACH COMPLEX\n");
    say_int(s, " BEFORE SHUFFLING %d IS NOT A VALID CHOICE, SET IT TO DEFAULT\n", s.nspl);
    ++count;
    s.nspl = s.npg;
  }
  if (s.npg * s.ngs > 1320) {
    say_int(s, " **WARNING** THE NUMBER OF POINTS IN INITIAL POPULATION %d EXCEED\n",
            s.npg * s.ngs);
    say(s, " THE POPULATION LIMIT.  SET NGS TO 2, AND NPG, NPS AND NSPL TO DEFAULTS\n");
    ++count;
    s.ngs = 2;
    s.npg = 2 * s.nopt + 1;
    s.nspl = 2 * s.nopt + 1;
    s.nps = s.nopt + 1;
  }
  // A sub-complex needs distinct points of its complex: no more than the complex holds.
  if (s.nps > s.npg) {
    say_int(s, " **WARNING** THE NUMBER OF POINTS IN A SUB-COMPLEX %d IS NOT\n", s.nps);
    say(s, " A VALID CHOICE, SET IT TO THE NUMBER OF POINTS IN A COMPLEX\n");
    ++count;
    s.nps = s.npg;
  }
  if (count >= 1) say_int(s, " *** TOTAL NUMBER OF WARNING MESSAGES IS %d\n", count);
  if (s.output_open && s.output_file.fp != nullptr) fflush(s.output_file.fp);
  return count;
}

void sce_setup(sce_object& s, const char* control_file, const char* output_file) {
  s.read_names = 1;
  file_handle h;
  if (control_file == nullptr || !file_handle_open(h, control_file, "r")) {
    printf("Can't open SCE input file %s\n", control_file != nullptr ? control_file : "");
    s.setup_ok = 0;
    return;
  }
  if (scein(s, h) != 0) {
    s.setup_ok = 0;
  } else {
    s.setup_ok = sce_check_params(s) == -1 ? 0 : 1;
  }
  file_handle_close(h);
  s.output_open = 1;
  if (!file_handle_open(s.output_file, output_file, "w")) {
    printf("Can't open output file %s\n", output_file);
    s.setup_ok = 0;
    s.output_open = 0;
  }
}

int sce_calibrate(process_context& info, const char* control_file) {
  sce_object s;
  s.process = &info;
  sce_setup(s, control_file, "sce_output.out");
  objective obj;
  s.obj = &obj;
  if (s.observation_file.empty() || objective_load(obj, s.observation_file.c_str()) != 1) {
    printf(
        "Error: unable to open the observation file for reading or problem while reading "
        "it.\nAttempted to read file: %s\n",
        s.observation_file.c_str());
    return 0;
  }
  s.run_model = calib_model_run;
  const int runs = sceua(s);
  if (runs < 1) {
    printf("Error: unable to successfully run the SCE method\n");
    return 0;
  }
  file_handle best;
  file_handle_open(best, "sce_best.out", "w");
  printf("The best results of the SCE calibration after %d runs:\n", runs);
  if (best.fp != nullptr)
    fprintf(best.fp, "The best results of the SCE calibration %d runs:\n", runs);
  for (int i = 1; i <= s.nopt; ++i) {
    if (best.fp != nullptr) fprintf(best.fp, "%lf\n", s.best[i]);
    printf("%lf\n", s.best[i]);
  }
  file_handle_close(best);
  return 1;
}
