// Soil tables and initial moisture: the MULTI_LAYER_SOIL block and the soil-layer file fill
// the soil records slot by slot and refuse short lines, soil ids beyond the table and layers
// without thickness naming the file and line; the layered soil table stores a bubbling pressure
// negative and sizes the columns; the uniform initial moisture stays between the residual
// content and the porosity.
#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "subsurface/soil_tables.h"
#include "subsurface/subsurface_steps.h"
#include "support/test_support.h"

using torva_test::process_state_guard;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// A first row of a mapping-table block: the id, its description padded to 87 characters, then
// the values.
std::string first_row(int id, const std::string& values) {
  std::string line = std::to_string(id) + " \"silt loam\"";
  line.resize(87, ' ');
  return line + values + "\n";
}

const char* layer1 = "0.65 0.25 16.7 0.486 0.3 0.1 0.02 0.1458 10";
const char* layer2 = "0.3 0.3 20 0.45 0.28 0.09 0.03 0.2 20\n";
const char* layer3 = "0.1 0.35 25 0.4 0.25 0.08 0.04 0.25\n";

class SoilTables : public ::testing::Test {
 protected:
  process_state_guard guard_;
  temp_dir dir_;
  std::unique_ptr<model_state> ms_ = std::make_unique<model_state>();

  int read_block(const std::string& text, std::string& printed) {
    write_file(dir_.file("t.cmt"), text);
    file_handle h;
    EXPECT_TRUE(file_handle_open(h, dir_.file("t.cmt").c_str(), "r"));
    std::string line;
    read_text_line(line, h);  // the block's header line
    stdout_capture capture;
    const int n = read_multilayer_soil_block(*ms_, h, ms_->subsurface.soil_types);
    printed = capture.stop();
    return n;
  }
};

TEST_F(SoilTables, MultiLayerBlockFillsTheSlotsOfEachLayer) {
  std::string printed;
  const int n = read_block("MULTI_LAYER_SOIL Soils\nNUM_IDS 1\nNUM_SOIL_LAYERS 3\nID DESC KS\n" +
                               first_row(7, layer1) + layer2 + layer3,
                           printed);
  ASSERT_EQ(n, 1) << printed;
  EXPECT_EQ(run_error.error_fatal, 0);
  const soil_table_record& r = ms_->subsurface.soil_types[7];
  const double expected[][3] = {
      {0.65, 0.3, 0.1},     // conductivity, slots 4-6
      {0.25, 0.3, 0.35},    // pore index, 25-27
      {16.7, 20, 25},       // capillary head, 0-2
      {0.486, 0.45, 0.4},   // porosity, 7-9
      {0.3, 0.28, 0.25},    // field capacity, 16-18
      {0.1, 0.09, 0.08},    // wilting point, 13-15
      {0.02, 0.03, 0.04},   // residual, 19-21
      {0.1458, 0.2, 0.25},  // initial content, 10-12
  };
  const int slots[] = {4, 25, 0, 7, 16, 13, 19, 10};
  for (int k = 0; k < 8; ++k)
    for (int layer = 0; layer < 3; ++layer)
      EXPECT_DOUBLE_EQ(soil_slot(r, slots[k] + layer), expected[k][layer]) << k << " " << layer;
  EXPECT_DOUBLE_EQ(r.layer_depth[0], 10.0);
  EXPECT_DOUBLE_EQ(r.layer_depth[1], 20.0);
  EXPECT_DOUBLE_EQ(r.layer_hyd_cond[0], 0.65);
  EXPECT_DOUBLE_EQ(r.layer_capillary_head[2], 25.0);
}

TEST_F(SoilTables, MultiLayerBlockFaultsNameTheFileAndLine) {
  struct fault {
    const char* label;
    std::string rows;
    const char* message;
  };
  std::string short_first = first_row(7, "0.65 0.25 16.7");
  std::string truncated = "7 silt loam";
  truncated += "\n";
  const std::vector<fault> cases = {
      {"first row with three of nine values", short_first + layer2 + layer3,
       "line 5 of the MULTI_LAYER_SOIL table in"},
      {"first row ending in its description", truncated + layer2 + layer3,
       "line 5 of the MULTI_LAYER_SOIL table in"},
      {"third layer row too short", first_row(7, layer1) + layer2 + "0.1 0.35\n",
       "line 7 of the MULTI_LAYER_SOIL table in"},
      {"soil id beyond the table", first_row(10000, layer1) + layer2 + layer3,
       "soil id 10000 on line 5"},
      {"negative soil id", first_row(-1, layer1) + layer2 + layer3, "soil id -1 on line 5"},
      {"layer of no thickness",
       first_row(7, "0.65 0.25 16.7 0.486 0.3 0.1 0.02 0.1458 0") + layer2 + layer3,
       "layer 1 thickness of 0"},
      {"table ending early", first_row(7, layer1), "ends before"},
  };
  for (const fault& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    std::string printed;
    const int n = read_block(
        "MULTI_LAYER_SOIL Soils\nNUM_IDS 1\nNUM_SOIL_LAYERS 3\nID DESC KS\n" + c.rows, printed);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
    EXPECT_NE(printed.find("t.cmt"), std::string::npos) << printed;
  }
}

// A layer value no soil can have stops the reading, named with the table, its line, the soil
// id, the layer, the field and the value, in each of the three layered tables.
TEST_F(SoilTables, LayerValuesNoSoilCanHaveAreRefused) {
  struct bad_layer {
    const char* label;
    std::string rows;  // the block's rows of soil 7
    const char* message;
  };
  const std::vector<bad_layer> cases = {
      {"porosity above 1",
       first_row(7, "0.65 0.25 16.7 1.3 0.3 0.1 0.02 0.1458 10") + layer2 + layer3,
       "t.cmt (line 5) has a layer 1 porosity of 1.3, which is physically impossible: it must "
       "be above 0 and at most 1\n"},
      {"initial moisture above the porosity",
       first_row(7, "0.65 0.25 16.7 0.486 0.3 0.1 0.02 0.6 10") + layer2 + layer3,
       "has a layer 1 initial moisture of 0.6, which is physically impossible: it must lie from 0 "
       "to the layer's porosity 0.486\n"},
      {"negative capillary head",
       first_row(7, layer1) + "0.3 0.3 -20 0.45 0.28 0.09 0.03 0.2 20\n" + layer3,
       "(line 6) has a layer 2 capillary head of -20, which is physically impossible: it must be "
       "at least 0"},
      {"negative conductivity",
       first_row(7, layer1) + layer2 + "-0.1 0.35 25 0.4 0.25 0.08 0.04 0.25\n",
       "(line 7) has a layer 3 saturated hydraulic conductivity of -0.1"},
      {"residual content at the porosity",
       first_row(7, layer1) + layer2 + "0.1 0.35 25 0.4 0.25 0.08 0.4 0.25\n",
       "has a layer 3 residual moisture of 0.4, which is physically impossible: it must lie from 0 "
       "to below the layer's porosity 0.4\n"},
      {"negative wilting point",
       first_row(7, "0.65 0.25 16.7 0.486 0.3 -0.1 0.02 0.1458 10") + layer2 + layer3,
       "has a layer 1 wilting point of -0.1"},
  };
  for (const bad_layer& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    std::string printed;
    const int n = read_block(
        "MULTI_LAYER_SOIL Soils\nNUM_IDS 1\nNUM_SOIL_LAYERS 3\nID DESC KS\n" + c.rows, printed);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
    EXPECT_NE(printed.find("Error: soil id 7 of the MULTI_LAYER_SOIL table in "), std::string::npos)
        << printed;
  }
  // The soil-layer file: the initial moisture of layer 3 above its porosity.
  {
    run_error = error_state{};
    write_file(dir_.file("layers.txt"), std::string("1\n0\n12\n") + layer1 + "\n" + layer2 +
                                            "0.1 0.35 25 0.4 0.25 0.08 0.04 0.45\n");
    file_handle h;
    ASSERT_TRUE(file_handle_open(h, dir_.file("layers.txt").c_str(), "r"));
    stdout_capture capture;
    read_soil_layer_file(*ms_, h, ms_->subsurface.soil_types);
    const std::string printed = capture.stop();
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_NE(printed.find("soil id 12 of the soil layer file in"), std::string::npos) << printed;
    EXPECT_NE(printed.find("(line 6) has a layer 3 initial moisture of 0.45"), std::string::npos)
        << printed;
  }
  // The layered soil table: a pore index of 0 (Brooks-Corey) and a negative alpha (Havercamp).
  struct bad_table {
    int form;
    std::string first_layer;
    const char* message;
  };
  const bad_table tables[] = {
      {1, "1.0 0.45 0.05 0.2 0.1 0.3 10 0 20 2",
       "rich.txt (line 4) has a layer 1 pore distribution index of 0, which is physically "
       "impossible: it must be above 0\n"},
      {2, "1.0 0.45 0.05 0.2 0.1 0.3 10 -1 2 3 4 2",
       "rich.txt (line 4) has a layer 1 Havercamp alpha of -1, which is physically impossible: "
       "it must be above 0\n"},
  };
  for (const bad_table& t : tables) {
    SCOPED_TRACE(t.form);
    run_error = error_state{};
    write_file(dir_.file("rich.txt"), "1\n0\n3\n" + t.first_layer + "\n");
    file_handle h;
    ASSERT_TRUE(file_handle_open(h, dir_.file("rich.txt").c_str(), "r"));
    stdout_capture capture;
    EXPECT_EQ(read_layered_soil_table(*ms_, h, t.form, false), -1);
    const std::string printed = capture.stop();
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_NE(printed.find(t.message), std::string::npos) << printed;
    EXPECT_NE(printed.find("Error: soil id 3 of the layered soil table in "), std::string::npos)
        << printed;
  }
}

TEST_F(SoilTables, SoilLayerFileReadsAndRefusesBadIds) {
  write_file(dir_.file("layers.txt"), std::string("1\n0\n12\n") + layer1 + "\n" + layer2 + layer3);
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, dir_.file("layers.txt").c_str(), "r"));
  read_soil_layer_file(*ms_, h, ms_->subsurface.soil_types);
  file_handle_close(h);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_DOUBLE_EQ(ms_->subsurface.soil_types[12].layer_porosity[1], 0.45);
  EXPECT_DOUBLE_EQ(ms_->subsurface.soil_types[12].layer_init_moisture[2], 0.25);

  write_file(dir_.file("bad.txt"), std::string("1\n0\n12345\n") + layer1 + "\n" + layer2 + layer3);
  ASSERT_TRUE(file_handle_open(h, dir_.file("bad.txt").c_str(), "r"));
  stdout_capture capture;
  read_soil_layer_file(*ms_, h, ms_->subsurface.soil_types);
  const std::string printed = capture.stop();
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(printed.find("soil id 12345 on line 3 of the soil layer file"), std::string::npos)
      << printed;
}

TEST_F(SoilTables, LayeredTableStoresBubblingPressureNegativeAndSizesColumns) {
  // File mode, Brooks-Corey rows: K, porosity, residual, initial, wp, fc, thickness, pore index,
  // bubbling pressure (positive here), node thickness.
  write_file(dir_.file("rich.txt"),
             "1\n0\n3\n1.0 0.45 0.05 0.2 0.1 0.3 10 0.3 20 2\n"
             "1.0 0.45 0.05 0.2 0.1 0.3 20 0.3 25 5\n1.0 0.45 0.05 0.2 0.1 0.3 30 0.3 30 10\n");
  ms_->cell_count = 2;
  subsurface_state& ss = ms_->subsurface;
  ASSERT_TRUE(ss.soiltype.allocate(2));
  ss.soiltype[1] = ss.soiltype[2] = 3;
  ASSERT_TRUE(ss.numcells.allocate(2));
  ASSERT_TRUE(ss.numtot.allocate(2));
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, dir_.file("rich.txt").c_str(), "r"));
  const int nodes = read_layered_soil_table(*ms_, h, 1, false);
  EXPECT_EQ(run_error.error_fatal, 0);
  const soil_table_record& r = ss.soil_types[3];
  EXPECT_DOUBLE_EQ(r.layer_bubbling_pressure[0], -20.0);
  EXPECT_DOUBLE_EQ(r.layer_node_spacing[2], 10.0);
  // 10/2 = 5, + 20/5 = 9, + 30/10 + 1 = 13 nodes without a water table.
  EXPECT_EQ(ss.numcells[1], 13);
  EXPECT_EQ(nodes, 15);
  // With a table and the aquifer bottom above the column's foot: num3 + 1, plus 9 below.
  soil_node_counts n = layered_soil_node_counts(r, 1);
  EXPECT_EQ(n.num3, 12);
  int numtot = 0;
  int numcells = 0;
  layered_cell_nodes(r, n, 1, 100.0, 99.5, 0.1, numtot, numcells);
  EXPECT_EQ(numtot, 13);
  EXPECT_EQ(numcells, 22);
  // 0.6 m below the column to an aquifer of 0.1 m cells... x = 1.5 / 0.1 = 15 -> 12 + 15 + 1 + 0.
  layered_cell_nodes(r, n, 1, 100.0, 97.9, 0.1, numtot, numcells);
  EXPECT_EQ(numtot, 12 + 15 + 1);
}

TEST(UniformMoisture, StaysBetweenTheResidualAndThePorosity) {
  // Cells by cell: residual above the value, porosity below it, and one in between.
  std::vector<double> phi = {0, 0.45, 0.2, 0.45}, res = {0, 0.3, 0.02, 0.02}, theta(4, -1.0);
  std::vector<int> type = {0, 0, 0, 0};
  std::vector<double> none = {0};
  init_uniform_soil_moisture(3, none, theta, none, type, phi, res, 1, 0.25);
  EXPECT_DOUBLE_EQ(theta[1], 0.31);
  EXPECT_DOUBLE_EQ(theta[2], 0.19);
  EXPECT_DOUBLE_EQ(theta[3], 0.25);
  // By soil type: the values of the cell's type.
  std::vector<double> phi_soil = {0.45, 0.22}, res_soil = {0.3, 0.02};
  std::vector<int> types = {0, 0, 1, 1};
  init_uniform_soil_moisture(3, phi_soil, theta, res_soil, types, none, none, 0, 0.25);
  EXPECT_DOUBLE_EQ(theta[1], 0.31);
  EXPECT_DOUBLE_EQ(theta[2], 0.21);
}

}  // namespace
