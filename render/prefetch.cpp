#include "render/prefetch.h"

#include <unordered_set>
#include <vector>

#include "app/frame_state.h"
#include "app/settings.h"
#include "camera/flight.h"
#include "render/engine.h"
#include "render/tile_cache.h"
#include "render/view.h"
#include "store/data_set.h"

void prefetch_flight(RenderEngine& engine, const Picture& picture, const FlightLookahead& look,
                     const PixelKernels& k) {
    std::vector<TileJob> frame, jobs;
    std::unordered_set<uint64_t> queued;
    for (uint32_t ahead = kLookaheadStepMs; ahead <= kLookaheadMs; ahead += kLookaheadStepMs) {
        const FlightPoint p = flight_point(look.start, look.target, look.rho, look.velocity,
                                           look.dt, look.elapsed + ahead);
        if (p.state == FlightPoint::no_path) break;
        // The renderer raises the camera to the minimum height before it chooses the level.
        const float height = p.y < 100.0f ? 100.0f : p.y;
        const FrameView v =
            plan_view(p.x, height, p.z, look.right, look.up, look.forward, look.half_width_factor,
                      look.half_height_factor, look.hiqu, picture);
        frame.clear();
        view_tile_jobs(v, look.residuals, frame);
        for (const TileJob& j : frame)
            if (queued.insert(tile_key(j.sub, j.level, j.index, j.residuals)).second)
                jobs.push_back(j);
        if (p.state == FlightPoint::ended) break;
    }
    engine.prefetch(picture, std::move(jobs), k);
}

void prefetch_for_flight(uint32_t now) {
    RenderEngine& engine = render_engine();
    if (!flight_running || !flight_clock_started) {
        if (engine.prefetch_pending() > 0) engine.cancel_prefetch();
        return;
    }
    FlightLookahead look;
    look.start = flight_start;
    look.target = flight_target;
    look.rho = viewer_settings.zoompan;
    look.velocity = viewer_settings.velocity;
    look.dt = viewer_settings.dt;
    look.elapsed = now - camera->start_ticks;
    look.right = *istr;
    look.up = *iup;
    look.forward = *ifor;
    look.half_width_factor = half_width_factor;
    look.half_height_factor = half_height_factor;
    look.hiqu = viewer_settings.hiqu != 0;
    look.residuals = viewer_settings.compressedResidue != 0;
    prefetch_flight(engine, viewer_picture(), look, kernels());
}
