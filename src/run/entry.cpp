// Program entry and run modes: the start-up line, the command line, the dispatch to one of the
// seven modes (every mode that simulates ends in run_project) and the CGI framing of the web
// variant. The exit status tells a calling script whether every run ended normally and whether
// every run's water books closed.
#include "run/entry.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "calibration/calibration_drivers.h"
#include "calibration/process_spread.h"
#include "framework/core/console.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/core/run_interrupt.h"
#include "framework/core/text_tokens.h"
#include "input/replacement.h"
#include "run/run_driver.h"

bool web_mode = false;

namespace {

constexpr double version_number = 5.7;
constexpr char version_letter = 'a';

const char usage_text[] =
    "\nUsage: torva [-option] [inputfile]\n\n where -option is one of:\n"
    "      -c = SCE calibration mode (input file is the calibration control file)\n"
    "      -m = Monte Carlo calibration mode (input file is the calibration control file)\n"
    "      -b = batch mode (input file is the batch control file)\n"
    "      -s = sensitivity mode (input file is the sensitivity control file)\n"
    "      -v = display version information (no project will be run)\n"
    "  The c, m, b, and v commands are optional and if not present the input file is\n"
    " treated as the project file\n\n"
    "  For the -b option, the command line should be:\n"
    "      torva -b[num_batch] torva_inputfile\n\n"
    "  For the -c option, the command line should be:\n"
    "      torva -c sce_inputfile\n\n"
    "  For the -m option, the command line should be:\n"
    "      torva -m[num_batch] mc_inputfile\n\n"
    "  For the -s option, the command line should be:\n"
    "      torva -s sen_inputfile\n\n"
    "  For the -t option (and -tv), the command line should be:\n"
    "      torva -t[v]\n\n"
    "  where [num_batch] is the number of batch runs to make, sce_inputfile is the SCE input "
    "file, mc_intputfile is\n"
    "  the Monte Carlo input file, and sen_inputfile is the sensitivity input file.\n\n";

int print_usage() {
  fputs(usage_text, stdout);
  return -1;
}

// The run count written after "-b" or "-m": 1 when no number follows; false when what follows
// is a number but not a whole number of at least one run ("-b-5", "-b0", "-b3x").
bool read_run_count(const char* text, int& count) {
  count = 1;
  const bool number = isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-' ||
                      text[0] == '+' || text[0] == '.';
  if (!number) return true;  // no number: one run
  int value = 0;
  if (!parse_whole_number(text, value) || value < 1) return false;
  count = value;
  return true;
}

// The CGI preamble of the web variant: header line, page title and the echoed form data.
void print_web_preamble() {
  printf("%s%c%c\n", "Content-Type:text/text;charset=iso-8859-1", 13, 10);
  printf(
      "<title>TORVA Test Case</title><body><P> Web version of TORVA (%2.1lf%c) with SCE "
      "starting...</P><P>",
      version_number, version_letter);
  const char* length_text = getenv("CONTENT_LENGTH");
  long length = -1;
  if (length_text != nullptr) {
    char* end = nullptr;
    errno = 0;
    length = strtol(length_text, &end, 10);
    if (end == length_text || errno == ERANGE) length = -1;
  }
  if (length < 0 || length > 1024) {
    printf("<P>Error in invocation - wrong FORM probably.");
    return;
  }
  char form[1025] = {};
  if (length > 0 && fgets(form, static_cast<int>(length) + 1, stdin) != nullptr)
    fputs(form, stdout);
}

// Mode 1 and every run of mode 3.
int run_one_project(const char* project_path) {
  const int pending = run_project(project_path, nullptr);
  return run_exit_status(pending, run_error);
}

}  // namespace

int run_exit_status(int pending_code, const error_state& state) {
  if (pending_code != 0) return pending_code > 0 && pending_code < 256 ? pending_code : 1;
  if (state.error_fatal != 0) return 1;
  return state.error_balance != 0 ? exit_status_water_balance : 0;
}

int batch_exit_status(int status_so_far, int run_status) {
  if (status_so_far == 1 || (run_status != 0 && run_status != exit_status_water_balance)) return 1;
  if (status_so_far == exit_status_water_balance || run_status == exit_status_water_balance)
    return exit_status_water_balance;
  return 0;
}

bool program_is_web(const char* program) {
  if (program == nullptr) return false;
  const char* name = program;
  for (const char* p = program; *p != '\0'; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return strstr(name, "web") != nullptr;
}

int parse_command_line(int argc, char** argv, run_request& req) {
  req = run_request{};
  int count = 1;
  if (argc < 2) return print_usage();
  const char* file = argv[1];
  if (argc == 2) {
    req.mode = 1;
  } else {
    const char* option = argv[1];
    file = argv[2];
    if (strncmp(option, "-s", 2) == 0) {
      req.mode = 7;
    } else if (strncmp(option, "-c", 2) == 0) {
      req.mode = 2;
    } else if (strncmp(option, "-b", 2) == 0 || strncmp(option, "-m", 2) == 0) {
      req.mode = option[1] == 'b' ? 3 : 6;
      if (!read_run_count(option + 2, count)) {
        req = run_request{};
        return print_usage();
      }
    } else if (strncmp(option, "-h", 2) == 0) {
      req.mode = 5;
    } else if (strncmp(option, "-v", 2) == 0) {
      req.mode = 4;
      return count;
    } else {
      return print_usage();
    }
  }
  if (!copy_text(req.file_name, sizeof req.file_name, file)) {
    printf("Error: the file name on the command line is longer than %d characters.\n",
           static_cast<int>(sizeof req.file_name) - 1);
    req = run_request{};
    return print_usage();
  }
  return count;
}

void print_banner() {
  printf("\n    -- TORVA version %4.2lf%c --\n \n", version_number, version_letter);
  printf("    Physically based, distributed watershed model:\n");
  printf("    rainfall, interception, infiltration, overland, channel and groundwater flow,\n");
  printf("    with sediment, contaminant and nutrient transport.\n");
  printf("    Questions and reports: the TORVA development team.\n \n");
  printf("Intended for use with VRO Version 8.0 or higher");
  printf("\n \n");
}

int torva_main(int argc, char** argv) {
  int status = 0;
  // Processes started together (by mpirun) share the calibration runs; alone, rank 0 of 1.
  spread_start(&argc, &argv, process_info);
  set_project_runner(run_project);
  install_interrupt_handlers();
  if (argc > 0 && program_is_web(argv[0])) {
    web_mode = true;
    print_web_preamble();
  }
  if (!web_mode) {
    printf("Parallel version of TORVA (%2.1lf%c) with SCE (OpenMP), %d total threads.\n",
           version_number, version_letter, process_info.num_threads);
    fflush(stdout);
  }

  run_request req;
  const int count = parse_command_line(argc, argv, req);
  if (count == -1 || req.mode < 1 || req.mode > 7) {
    status = 1;
  } else {
    switch (req.mode) {
      case 1:
        // A single run or a batch is the work of one process; the others of a group wait.
        if (process_info.process_rank == 0) status = run_one_project(req.file_name);
        break;
      case 2:
        // The optimiser's trials follow one another: one process makes them all.
        if (process_info.process_rank == 0) {
          process_context alone = process_info;
          alone.num_processes = 1;
          status = sce_calibrate(alone, req.file_name) == 1 ? 0 : 1;
        }
        break;
      case 3:
        if (process_info.process_rank != 0) break;
        printf("TORVA is running in batch mode, and is running %d runs...\n", count);
        for (int i = 0; i < count; ++i) {
          run_number = i;
          run_prefix_on = 1;
          replace_line_index = i;
          status = batch_exit_status(status, run_one_project(req.file_name));
          if (interrupt_signal != 0) break;
        }
        break;
      case 4:
        print_banner();
        break;
      case 5:
        break;
      case 6:
        status = montecarlo_main(process_info, count, req.file_name) == 1 ? 0 : 1;
        break;
      case 7:
        status = sensitivity_main(process_info, req.file_name) == 1 ? 0 : 1;
        break;
    }
  }
  if (web_mode) printf("</P></body>\n");
  // The files the calibration trials kept open.
  file_handle_close_kept_streams();
  fflush(stdout);
  spread_end();
  // An interrupted run ends the program with the status of its signal.
  return interrupt_signal != 0 ? interrupted_exit_status(interrupt_signal) : status;
}
