// Fuzzes the stream mapping-table readers: the start-up check of the table file, every table
// kind with its index map, and the index map alone. The first input bytes choose the reader,
// the table kind and the channel network (links and nodes per link); the rest holds the table
// file "st.cmt" and, split off by "@@@ <name>" lines, the index maps it names.
#include <cstddef>
#include <cstdint>

#include "framework/core/error_state.h"
#include "framework/core/raw_arrays.h"
#include "fuzz/common/fuzz_support.h"
#include "input/stream_tables.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (torva_fuzz::names_outside_folder(data, size)) return 0;
  torva_fuzz::byte_reader bytes(data, size);
  const int choice = bytes.next() % 4;
  const int kind = 1 + bytes.next() % 6;
  const int links = 1 + bytes.next() % 6;
  raw_array1d<int> nodes_per_link;
  if (!nodes_per_link.allocate(links)) return 0;
  int max_nodes = 1;
  for (int link = 1; link <= links; ++link) {
    nodes_per_link[link] = 1 + bytes.next() % 5;
    if (nodes_per_link[link] > max_nodes) max_nodes = nodes_per_link[link];
  }
  torva_fuzz::fuzz_run run(torva_fuzz::split_files(bytes.data(), bytes.size(), "st.cmt"));

  raw_array2d<double> out[4];
  for (raw_array2d<double>& o : out)
    if (!o.allocate(links, max_nodes)) return 0;
  switch (choice) {
    case 0: {
      int present[6] = {};
      check_stream_table_file("st.cmt", present);
      break;
    }
    case 1:
      read_stream_table("st.cmt", kind, &out[0], &out[1], &out[2], &out[3], links, max_nodes,
                        nodes_per_link);
      break;
    default: {
      // The index map alone, as the network's link ids (mode 0) or values (mode 2).
      raw_array2d<int> ids;
      if (!ids.allocate(max_nodes, links)) return 0;
      const int mode = choice == 2 ? 0 : 2;
      const int result =
          read_stream_index_map("st.cmt", links, max_nodes, nodes_per_link, &ids, &out[0], mode);
      if (result != 0) report_stream_index_map_failure(result, "st.cmt");
      break;
    }
  }
  if (run_error.error_code > 0) error_report(run_error);
  return 0;
}
