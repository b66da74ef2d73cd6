// The outlet watch of the time loop: track_peaks (step 21) keeps the event's peak outlet
// discharge and the per-location peaks; print_progress_line (step 25) prints the console line
// after each routing step; check_event_end (step 26) ends an event once its flow has receded
// and the run at its end time, at END_TIME or after the last event.
#include <cstdio>

#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "output/analyzers/analyzer.h"
#include "run/event_control.h"

namespace {

int node_count(const channel_state& ch, int link) {
  return has(ch.nx1, link) ? ch.nx1[link] : 0;
}

void end_event(model_state& ms) {
  ms.event_active = 0;
  ms.event_ended = 1;
  ms.event_over = 1;
}

// Some node of some link carries more than the cutoff discharge.
bool channel_above_cutoff(const model_state& ms) {
  const channel_state& ch = ms.channel;
  for (int link = 1; link <= ch.chan_link_count; ++link)
    for (int node = 1; node <= node_count(ch, link); ++node)
      if (ch.qp.has(link, node) && ch.qp(link, node) > ms.event_min_q) return true;
  return false;
}

// After an event whose end leaves nothing running between events, the overland schedule (and
// those that follow it) jumps to the next event's start. The last event has no next one.
void jump_to_next_event(model_state& ms, bool peak_below_cutoff) {
  const subsurface_state& ss = ms.subsurface;
  if (ss.inf_richards || ss.gw_simulation || ms.overland.ov_point_source || ss.redistribution_on ||
      ms.channel.chan_lake_flag)
    return;
  const int next_event = ms.event_number + 1;
  if (next_event < 1 || next_event > ms.overland.num_events || next_event > max_precip_events)
    return;
  process_clock& ovc = ms.ov_clock;
  ovc.next = ms.event_start_jday[next_event];
  ovc.last = ovc.next - ovc.interval_days;
  if (ms.channel.chan_explic) {
    ms.chan_clock.next = ovc.next;
    if (peak_below_cutoff) ms.channel.chan_lake_flag = 0;
  }
  transport_state& tr = ms.transport;
  if (tr.ov_con_trans) {
    tr.ov_con_clock.next = ovc.next;
    tr.ov_con_clock.last = ovc.last;
    if (ms.infil_clock.next < tr.ov_con_clock.next) tr.ov_con_clock.next = ms.infil_clock.next;
  }
  if (tr.chan_con_trans) {
    tr.chan_con_clock.next = ms.chan_clock.next;
    tr.chan_con_clock.last = ms.chan_clock.last;
  }
}

bool water_table_on(const model_state& ms) {
  return ms.subsurface.water_table_on != 0;
}

// The outlet flow has fallen below the cutoff: the event ends unless water is still on its way.
void outlet_below_cutoff(model_state& ms) {
  const bool last_event = ms.event_number == ms.overland.num_events;
  if (last_event) {
    double volume = 0.0;
    const raw_array1d<double>& depth = ms.overland.ov_depth;
    for (int c = 1; c <= ms.cell_count && has(depth, c); ++c)
      volume += ms.gridsize * depth[c] * ms.gridsize;
    ms.ov_vol_now = volume;
    // The last event goes on while more than 5 % of its rain still stands on the overland.
    if (ms.event_rain_vol > 0.0 && volume - ms.event_start_ov_sum >= 0.05 * ms.event_rain_vol &&
        !water_table_on(ms) && !ms.subsurface.sacramento) {
      ms.run_flag = 1;
      return;
    }
  }
  const bool peak_below_cutoff = ms.event_min_q > ms.peak_outlet_q;
  if (peak_below_cutoff) {
    ms.chan_above_cutoff = ms.channel.chan_explic && channel_above_cutoff(ms) ? 1 : 0;
    if (ms.chan_above_cutoff) {
      ms.run_flag = 1;
      return;
    }
  }
  end_event(ms);
  if (last_event) {
    ms.run_flag = 0;
    if (!ms.super_quiet) {
      if (peak_below_cutoff)
        printf("simulation ended normally; peak flow after last event fell below cutoff value.\n");
      else
        printf("simulation ended normally; end of data for last event reached\n");
    }
  }
  jump_to_next_event(ms, peak_below_cutoff);
}

}  // namespace

void track_peaks(model_state& ms) {
  if (ms.outlet_q > ms.peak_outlet_q) {
    ms.peak_outlet_q = ms.outlet_q;
    ms.peak_date[0] = ms.cur_year;
    ms.peak_date[1] = ms.cur_month;
    ms.peak_date[2] = ms.cur_day;
    ms.peak_date[3] = ms.cur_hour;
    ms.peak_date[4] = ms.cur_minute;
    ms.peak_date[5] = ms.cur_second;
    ms.peak_time = ms.current_time;
  }

  // Per-location peaks of the optimisation output, kept with the location hydrograph output.
  const channel_state& ch = ms.channel;
  calibration_state& cal = ms.calibration;
  if (!cal.optimize_on || !ms.input.out_hyd_location_file.is_open() || !ch.chan_explic ||
      cal.optimize_sed || ch.hyd_location_count < 1)
    return;
  for (int i = 1; i <= ch.hyd_location_count; ++i) {
    if (!has(cal.loc_peak, i) || !has(ch.hlink, i) || !has(ch.hnode, i)) continue;
    const int link = ch.hlink[i];
    const int node = ch.hnode[i];
    if (!ch.qp.has(link, node)) continue;
    if (ch.qp(link, node) > cal.loc_peak[i]) cal.loc_peak[i] = ch.qp(link, node);
  }
}

void print_progress_line(model_state& ms) {
  const channel_state& ch = ms.channel;
  // The line follows the routing that has just run: the channel, or the overland flow.
  const double routed = (!ch.chan_explic && !ch.chan_mesh) ? ms.ov_clock.last : ms.chan_clock.last;
  if (ms.current_time != routed) return;
  // The console belongs to the first process: the others of a calibration spread over
  // processes run their trials without a progress line.
  if (ms.quiet || process_info.process_rank != 0) return;

  if (!ms.super_quiet) {
    printf("event %2d elapsed time %8.2lf  %2d/%2.2d/%2.2d %2.2d:%2.2d:%2.2d ", ms.event_number,
           ms.elapsed_minutes, ms.cur_month, ms.cur_day, ms.cur_year, ms.cur_hour, ms.cur_minute,
           ms.cur_second);
    if (ms.qout_cfs)
      printf("Qout=%10.1lf cfs\n", ms.cfs_factor * ms.outlet_q);
    else
      printf("Qout=%8.2lf cms\n", ms.outlet_q);
  }

  output_state& out = ms.output;
  if (out.flush_buffer_on) {
    out.flush_line_count += 1;
    if (out.flush_line_count == out.flush_buffer) {
      fflush(stdout);
      out.flush_line_count = 0;
    }
  }

  if (ms.stream_info) {
    double max_depth = -5000.0;
    double min_depth = 5000.0;
    double max_q = -5000.0;
    double min_q = 5000.0;
    int at[4][2] = {{-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}};  // node, link of each extreme
    for (int link = 1; link <= ch.chan_link_count - 1; ++link) {
      for (int node = 1; node <= node_count(ch, link); ++node) {
        if (ch.yp.has(link, node) && ch.bel.has(link, node)) {
          const double depth = ch.yp(link, node) - ch.bel(link, node);
          if (depth > max_depth) {
            max_depth = depth;
            at[0][0] = node;
            at[0][1] = link;
          }
          if (depth < min_depth) {
            min_depth = depth;
            at[1][0] = node;
            at[1][1] = link;
          }
        }
        if (ch.qp.has(link, node)) {
          const double q = ch.qp(link, node);
          if (q > max_q) {
            max_q = q;
            at[2][0] = node;
            at[2][1] = link;
          }
          if (q < min_q) {
            min_q = q;
            at[3][0] = node;
            at[3][1] = link;
          }
        }
      }
    }
    printf("    ==> Max Yp (N %d, L %d) = %lf\n", at[0][0], at[0][1], max_depth);
    printf("    ==> Min Yp (N %d, L %d) = %lf\n", at[1][0], at[1][1], min_depth);
    printf("    ==> Max Qp (N %d, L %d) = %lf\n", at[2][0], at[2][1], max_q);
    printf("    ==> Min Qp (N %d, L %d) = %lf\n", at[3][0], at[3][1], min_q);
  }
}

void check_event_end(model_state& ms) {
  // 1. END_TIME ends the run without an event-end notification.
  if (ms.end_time_given && ms.current_time > ms.end_time) {
    end_event(ms);
    ms.run_flag = 0;
    return;
  }

  const bool event_run = !ms.long_term && !ms.tev;
  if (event_run) {
    // 2. An event run ends at its end time.
    if (ms.current_time >= ms.end_time_jday) {
      ms.run_flag = 0;
      end_event(ms);
    }
  } else if (ms.event_active) {
    // 3. The recession checks wait until the rain of the event has ended.
    const int rain = ms.overland.rain_event_state;
    if (rain == 0 || rain == 3) {
      if (ms.outlet_q < ms.event_min_q) {
        outlet_below_cutoff(ms);
      } else if (ms.event_number == ms.overland.num_events &&
                 (water_table_on(ms) || ms.subsurface.sacramento) && ms.hmet_clock.next == -10.0) {
        // The hydrometeorological data of the last event have run out.
        end_event(ms);
        ms.run_flag = 0;
      }
    }
  }

  // 6. Every analyzer hears of the event's end, at every pass until the next event starts.
  if (ms.event_ended == 1 && ms.output.analyzer_list != nullptr)
    analyzers_notify(ms, analyzer_event_ended);
}
