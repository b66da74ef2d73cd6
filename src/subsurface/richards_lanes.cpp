// The soil functions of the Richards columns on vector lanes, one source for every instruction
// set (Highway picks the best the processor runs, at run time): relative conductivity and
// capacity of a run of nodes from their heads, contents from heads and heads from contents,
// eight nodes of one column to a vector. The powers are the lane math's e^(y ln x), plain IEEE
// operations only, so every target and the one-node calls give the same bits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "subsurface/richards_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Then, once per target:
#include <hwy/highway.h>

#include "framework/core/lane_math-inl.h"
#include "subsurface/richards_column.h"
#include "subsurface/richards_lanes.h"
#include "subsurface/richards_soil_lanes-inl.h"

HWY_BEFORE_NAMESPACE();
namespace torva_richards {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

void Setup(const richards_column_view& v, const richards_soil_constants& c, int model, int first,
           int last) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  for (int j = first; j <= last; j += lanes) {
    const int count = last - j + 1;
    StoreConstants(d, Constants(d, model, LoadSoil(d, v, model, j, count)), c, model, j, count);
    if (model != soil_model_havercamp) {
      const V none = hn::NaN(d);
      StoreFirst(d, none, c.key_head + j, count);
      StoreFirst(d, none, c.key_theta + j, count);
    }
  }
}

// True when every lane of a and b has the same bits.
HWY_INLINE bool SameBits(D d, V a, V b) {
  const hn::RebindToUnsigned<decltype(d)> du;
  return hn::AllTrue(du, hn::Eq(hn::BitCast(du, a), hn::BitCast(du, b)));
}

// mode 0: conductivity and capacity from heads and contents; 1: contents, conductivity and
// capacity from heads; 2: contents from heads; 3: heads from contents.
template <int mode>
void Nodes(const richards_column_view& v, const richards_soil_constants& c, int model, int first,
           int last) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  for (int j = first; j <= last; j += lanes) {
    const int count = last - j + 1;
    const V h = LoadFirst(d, v.phead + j, count);
    if constexpr (mode == 0 || mode == 1) {
      const V theta = LoadFirst(d, v.theta + j, count);
      const bool brooks = model != soil_model_havercamp;
      // Brooks-Corey nodes whose head and content are those of their last computation keep
      // its values (the functions depend on nothing else).
      if (mode == 0 && brooks && SameBits(d, h, LoadFirst(d, c.key_head + j, count)) &&
          SameBits(d, theta, LoadFirst(d, c.key_theta + j, count)))
        continue;
      const node_soil s = LoadSoil(d, v, model, j, count);
      const node_constants k = LoadConstants(d, c, model, j, count);
      const node_state f = Functions(d, model, s, k, h, mode == 0 ? &theta : nullptr);
      if (brooks) {
        StoreFirst(d, h, c.key_head + j, count);
        StoreFirst(d, mode == 1 ? f.theta : theta, c.key_theta + j, count);
      }
      if (mode == 1) {
        StoreFirst(d, f.theta, v.theta + j, count);
      } else if (model == soil_model_havercamp) {
        // A saturated Havercamp node holds the saturated content.
        StoreFirst(d, hn::IfThenElse(hn::Ge(h, hn::Zero(d)), s.thetas, theta), v.theta + j, count);
      }
      StoreFirst(d, f.kr, v.khead + j, count);
      StoreFirst(d, f.cm, v.watcap + j, count);
    } else if constexpr (mode == 2) {
      const node_soil s = LoadSoil(d, v, model, j, count);
      const node_constants k = LoadConstants(d, c, model, j, count);
      StoreFirst(d, ThetaOfHead(d, model, s, k, h), v.theta + j, count);
    } else {
      const node_soil s = LoadSoil(d, v, model, j, count);
      const node_constants k = LoadConstants(d, c, model, j, count);
      const V theta = LoadFirst(d, v.theta + j, count);
      // A saturated node keeps the head of the solve, not below 0.
      const V kept = hn::IfThenElse(hn::Lt(h, hn::Zero(d)), hn::Zero(d), h);
      const V out =
          hn::IfThenElse(hn::Lt(theta, s.thetas), HeadOfTheta(d, model, s, k, theta), kept);
      StoreFirst(d, out, v.phead + j, count);
    }
  }
}

}  // namespace

void RichardsSetup(const richards_column_view& v, const richards_soil_constants& c, int model,
                   int first, int last) {
  Setup(v, c, model, first, last);
}
void RichardsNodes(const richards_column_view& v, const richards_soil_constants& c, int model,
                   int what, int first, int last) {
  switch (what) {
    case 0:
      Nodes<0>(v, c, model, first, last);
      break;
    case 1:
      Nodes<1>(v, c, model, first, last);
      break;
    case 2:
      Nodes<2>(v, c, model, first, last);
      break;
    default:
      Nodes<3>(v, c, model, first, last);
      break;
  }
}
double RichardsHeadOfContent(const richards_column_view& v, int model, int j, double theta) {
  const D d;
  const node_soil s = LoadSoil(d, v, model, j, 1);
  return hn::GetLane(HeadOfTheta(d, model, s, Constants(d, model, s), hn::Set(d, theta)));
}
void RichardsNodeFunctions(const richards_column_view& v, int model, int j) {
  const D d;
  const node_soil s = LoadSoil(d, v, model, j, 1);
  const V theta = hn::Set(d, v.theta[j]);
  const V h = hn::Set(d, v.phead[j]);
  const node_state f = Functions(d, model, s, Constants(d, model, s), h, &theta);
  v.khead[j] = hn::GetLane(f.kr);
  v.watcap[j] = hn::GetLane(f.cm);
  if (model == soil_model_havercamp && v.phead[j] >= 0.0) v.theta[j] = v.thetas[j];
}
double RichardsContentOfHead(const richards_column_view& v, int model, int j, double h) {
  const D d;
  const node_soil s = LoadSoil(d, v, model, j, 1);
  return hn::GetLane(ThetaOfHead(d, model, s, Constants(d, model, s), hn::Set(d, h)));
}

}  // namespace HWY_NAMESPACE
}  // namespace torva_richards
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace torva_richards {
HWY_EXPORT(RichardsSetup);
HWY_EXPORT(RichardsNodes);
HWY_EXPORT(RichardsHeadOfContent);
HWY_EXPORT(RichardsContentOfHead);
HWY_EXPORT(RichardsNodeFunctions);
}  // namespace torva_richards

void richards_soil_constants_of(const richards_column_view& v, const richards_soil_constants& c,
                                int model, int first, int last) {
  if (last >= first) HWY_DYNAMIC_DISPATCH(torva_richards::RichardsSetup)(v, c, model, first, last);
}

void richards_nodes(const richards_column_view& v, const richards_soil_constants& c, int model,
                    richards_node_update what, int first, int last) {
  if (last < first) return;
  const int update = static_cast<int>(what);
  HWY_DYNAMIC_DISPATCH(torva_richards::RichardsNodes)(v, c, model, update, first, last);
}

double richards_head_of_content(const richards_column_view& v, int model, int j, double theta) {
  return HWY_DYNAMIC_DISPATCH(torva_richards::RichardsHeadOfContent)(v, model, j, theta);
}

void richards_node_functions(const richards_column_view& v, int model, int j) {
  HWY_DYNAMIC_DISPATCH(torva_richards::RichardsNodeFunctions)(v, model, j);
}

double richards_content_of_head(const richards_column_view& v, int model, int j, double h) {
  return HWY_DYNAMIC_DISPATCH(torva_richards::RichardsContentOfHead)(v, model, j, h);
}
#endif  // HWY_ONCE
